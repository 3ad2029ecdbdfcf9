// Window test kit (under Xvfb): bounded message pumping, finding a process's top-level windows,
// and reading back what a window draws.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Dispatches this thread's messages until done() holds or the time is up; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
// Dispatches whatever is queued now (posted messages, paints), for a short bounded time.
void PumpPending(DWORD ms = 100);

// The first top-level window of process `processId` with class `className` (on thread
// `threadId` unless 0; shown ones only unless `visibleOnly` is false); null when none. It
// allocates nothing, so it may run while a test makes allocations fail (FindShownTips too).
HWND FindTopLevelWindow(DWORD processId, const wchar_t* className, DWORD threadId = 0,
                        bool visibleOnly = true);
// Every top-level window of that kind, in z-order.
std::vector<HWND> TopLevelWindows(DWORD processId, const wchar_t* className, DWORD threadId = 0,
                                  bool visibleOnly = true);
// The component's tips window shown by this process (by thread `threadId` unless 0).
inline constexpr wchar_t kTipsWindowClass[] = L"CadenzaUpgradeWnd";
inline HWND FindShownTips(DWORD threadId = 0) {
  return FindTopLevelWindow(GetCurrentProcessId(), kTipsWindowClass, threadId);
}

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

}  // namespace testing_support
