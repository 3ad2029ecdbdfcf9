// Helpers for window tests under Xvfb: bounded message pumping, the test program's folder,
// and reading back what a window draws.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gui_test {

// Dispatches this thread's messages until done() holds or the time is up; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
// Dispatches whatever is queued now (posted messages, paints), for a short bounded time.
void PumpPending(DWORD ms = 100);

// The folder of the running program, ending in a backslash.
std::wstring ProgramFolder();

// A window's client area as the window draws it (WM_PRINTCLIENT), 0x00RRGGBB, top row first.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;
  uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};
Capture PrintClient(HWND hWnd);
// The screen's pixels under a rectangle (what is really shown, children included).
Capture CaptureScreen(const RECT& rect);
// Writes a capture as a PNG file through WIC; false on any failure.
bool WritePng(const Capture& capture, const std::wstring& path);

}  // namespace gui_test
