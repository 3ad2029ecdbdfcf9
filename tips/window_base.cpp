// The small window base class.
#include "tips/window_base.h"

#include "base/call_barrier.h"
#include "base/this_module.h"


namespace {
const wchar_t kClassName[] = L"CadenzaUpgradeWnd";
ATOM g_classAtom = 0;
}  // namespace


LPCWSTR WindowBase::RegisterWindowClass() {
  if (g_classAtom == 0) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = StaticWindowProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kClassName;
    g_classAtom = RegisterClassExW(&wc);
    if (g_classAtom == 0) return nullptr;
  }
  return kClassName;
}

void WindowBase::UnregisterWindowClass() {
  if (g_classAtom != 0 && UnregisterClassW(kClassName, ThisModule())) g_classAtom = 0;
}

WindowBase::~WindowBase() {
  if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
}

BOOL WindowBase::CreateEx(DWORD dwExStyle, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                          HWND hWndParent, UINT nID) {
  LPCWSTR className = RegisterWindowClass();
  if (className == nullptr || m_hWnd != nullptr) return FALSE;
  HWND hWnd = CreateWindowExW(dwExStyle, className, lpszWindowName, dwStyle, rect.left, rect.top,
                              rect.right - rect.left, rect.bottom - rect.top, hWndParent,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), ThisModule(), this);
  return hWnd != nullptr;
}

BOOL WindowBase::ShowWindow(int nCmdShow) {
  if (m_hWnd == nullptr) return FALSE;
  return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL WindowBase::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

LRESULT WindowBase::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return Default(message, wParam, lParam);
}

LRESULT WindowBase::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK WindowBase::StaticWindowProc(HWND hWnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  WindowBase* self;
  if (message == WM_NCCREATE) {
    self = static_cast<WindowBase*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (self != nullptr) {
      self->m_hWnd = hWnd;
      SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  } else {
    self = reinterpret_cast<WindowBase*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hWnd, message, wParam, lParam);

  // No exception may unwind into the system's message dispatch (and from there into the
  // host); a message whose handler failed gets the default answer, except a creation, which
  // fails then: a window whose WM_CREATE did not finish must not exist half made.
  LRESULT result = CallBarrier([&] { return self->WindowProc(message, wParam, lParam); },
                               [&](HRESULT) -> LRESULT {
                                 if (message == WM_CREATE) return -1;
                                 return DefWindowProcW(hWnd, message, wParam, lParam);
                               });
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    self->m_hWnd = nullptr;
  }
  return result;
}
