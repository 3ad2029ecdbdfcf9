// A thin owner of a "RichEdit20W" control (riched20.dll from the system folder only) with
// the operations the tips window uses.
#pragma once
#include <windows.h>
#include <richedit.h>

#include <string>

class RichEditControl {
 public:
  RichEditControl() = default;
  ~RichEditControl();  // destroys the control if it still exists
  RichEditControl(const RichEditControl&) = delete;
  RichEditControl& operator=(const RichEditControl&) = delete;

  BOOL CreateEx(DWORD dwExStyle, DWORD dwStyle, const RECT& rect, HWND hWndParent, UINT nID);
  HWND GetSafeHwnd() const { return m_hWnd; }
  void Detach() { m_hWnd = nullptr; }  // the control was destroyed with its parent

  // Each acts on nothing (and reads 0 or an empty text) when the control does not exist.
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  void SetWindowText(const std::wstring& text) const;
  std::wstring GetWindowText() const;
  int GetLineCount() const;
  int LineIndex(int nLine) const;
  int LineLength(int nLine) const;
  // The display line that holds a character position (EM_EXLINEFROMCHAR).
  int LineFromChar(long nChar) const;
  void SetSel(long nStartChar, long nEndChar) const;
  DWORD GetSelectionCharFormat(CHARFORMATW& cf) const;
  BOOL SetSelectionCharFormat(CHARFORMATW& cf) const;
  // The number of character positions, counted as the control counts them (a CR LF is one).
  long GetTextLength() const;

 private:
  HWND m_hWnd = nullptr;
};
