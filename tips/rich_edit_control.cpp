// The rich edit control owner.
#include "tips/rich_edit_control.h"

#include "base/this_module.h"
#include "tips/window_base.h"

namespace {

// riched20.dll from the system folder, never from the host's folder or the search path;
// loaded once and kept, since the controls it registers live as long as the process.
bool LoadRichEdit() {
  static const HMODULE module = [] {
    wchar_t path[MAX_PATH];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n + 14 >= MAX_PATH) return static_cast<HMODULE>(nullptr);
    wcscat_s(path, L"\\riched20.dll");
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }();
  return module != nullptr;
}

}  // namespace

RichEditControl::~RichEditControl() {
  if (m_hWnd != nullptr && IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

BOOL RichEditControl::CreateEx(DWORD dwExStyle, DWORD dwStyle, const RECT& rect, HWND hWndParent,
                               UINT nID) {
  if (m_hWnd != nullptr || !LoadRichEdit()) return FALSE;
  m_hWnd = CreateWindowExW(dwExStyle, L"RichEdit20W", nullptr, dwStyle, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, hWndParent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), ThisModule(), nullptr);
  return m_hWnd != nullptr;
}

LRESULT RichEditControl::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
  if (m_hWnd == nullptr) return 0;
  return SendMessageW(m_hWnd, message, wParam, lParam);
}

void RichEditControl::SetWindowText(const std::wstring& text) const {
  Send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring RichEditControl::GetWindowText() const {
  const int length = static_cast<int>(Send(WM_GETTEXTLENGTH));
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = static_cast<int>(
      Send(WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
  text.resize(copied > 0 ? copied : 0);
  return text;
}

int RichEditControl::GetLineCount() const { return static_cast<int>(Send(EM_GETLINECOUNT)); }

int RichEditControl::LineIndex(int nLine) const {
  return static_cast<int>(Send(EM_LINEINDEX, static_cast<WPARAM>(nLine)));
}

int RichEditControl::LineLength(int nLine) const {
  return static_cast<int>(Send(EM_LINELENGTH, static_cast<WPARAM>(nLine)));
}

int RichEditControl::LineFromChar(long nChar) const {
  return static_cast<int>(Send(EM_EXLINEFROMCHAR, 0, static_cast<LPARAM>(nChar)));
}

void RichEditControl::SetSel(long nStartChar, long nEndChar) const {
  CHARRANGE range = {nStartChar, nEndChar};
  Send(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

DWORD RichEditControl::GetSelectionCharFormat(CHARFORMATW& cf) const {
  cf.cbSize = sizeof(CHARFORMATW);
  return static_cast<DWORD>(Send(EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf)));
}

BOOL RichEditControl::SetSelectionCharFormat(CHARFORMATW& cf) const {
  cf.cbSize = sizeof(CHARFORMATW);
  return static_cast<BOOL>(Send(EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf)));
}

long RichEditControl::GetTextLength() const {
  GETTEXTLENGTHEX query = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  return static_cast<long>(Send(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query)));
}
