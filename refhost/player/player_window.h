// The reference player's windows: its main window (owner of the tips window), the wait for a
// shown tips window, a picture of it, and a real mouse click at a place in it.
#pragma once
#include <windows.h>
#include <string>

// A hidden top-level window that stands for the player's main window.
HWND CreatePlayerMainWindow();

// The visible tips window of this thread (a topmost popup other than the main window), or NULL.
HWND FindShownTipsWindow(HWND mainWindow);

// Pumps this thread's messages until `done` holds or `timeoutMs` passes (INFINITE: no limit).
// Returns whether `done` held.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (timeoutMs != INFINITE && GetTickCount64() - start >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

// Saves what the screen shows of the window as a PNG file (through WIC). Empty on success,
// else what went wrong.
std::wstring SaveWindowPicture(HWND window, const std::wstring& path);

// Moves the mouse to (x, y) in the window and presses and releases the left button there,
// through the system's input queue as a user's click would arrive.
bool ClickAt(HWND window, int x, int y);
