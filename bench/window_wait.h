// Waiting for the tips window in the benchmark's child runs: the thread's messages dispatched
// until a condition holds, and the test for the window shown in its corner.
#pragma once
#include <windows.h>

namespace bench {

inline void DrainMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Dispatches messages until done() holds; false when the time ran out. Not the test kit's
// PumpUntil: a measured moment is taken inside done(), so done() is asked before anything more
// is dispatched (a paint would land in the figure) and the wait between messages is 1 ms.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    DrainMessages();
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}

// Shown, and flush with the bottom-right corner of the work area.
inline bool VisibleAndPlaced(HWND window) {
  RECT rect, work;
  return window != nullptr && IsWindowVisible(window) && GetWindowRect(window, &rect) &&
         SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) && rect.right > rect.left &&
         rect.right == work.right && rect.bottom == work.bottom;
}

}  // namespace bench
