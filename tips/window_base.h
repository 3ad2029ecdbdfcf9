// The small window base class of the tips window: registers one window class per process
// with this module's handle, keeps `this` in the window's user data from WM_NCCREATE to
// WM_NCDESTROY, and hands every message to the virtual WindowProc.
#pragma once
#include <windows.h>

class WindowBase {
 public:
  WindowBase() = default;
  // Destroys the window if it still exists; its last messages reach WindowBase::WindowProc.
  virtual ~WindowBase();
  WindowBase(const WindowBase&) = delete;
  WindowBase& operator=(const WindowBase&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }

  // Creates the window of the class from RegisterWindowClass(); hWndParent is the owner of a
  // popup. FALSE when the window could not be created (for example WM_CREATE returned -1).
  BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                HWND hWndParent, UINT nID);
  // Shows or hides the window; FALSE and nothing done when there is no window. Virtual: a window
  // that must prepare itself before it shows (the tips window's skin) does so through any
  // pointer to it.
  virtual BOOL ShowWindow(int nCmdShow);
  BOOL DestroyWindow();

  // The window class: CS_HREDRAW | CS_VREDRAW, no cursor, no background brush, no icon.
  // Registered on first use; NULL when registration failed.
  static LPCWSTR RegisterWindowClass();
  // For the module's unload: the class goes with the module that registered it.
  static void UnregisterWindowClass();

 protected:
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;

 private:
  static LRESULT CALLBACK StaticWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

