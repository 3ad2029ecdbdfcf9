// Answering message boxes through a CBT hook.
#include "tests/common/message_box_answerer.h"

namespace testing_support {
namespace {
thread_local MessageBoxAnswerer* t_answerer = nullptr;
constexpr int kTextControlId = 0xFFFF;  // the static text of a message box

std::wstring TextOf(HWND window) {
  wchar_t text[2048] = {};
  GetWindowTextW(window, text, 2048);
  return text;
}

BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
  wchar_t cls[32] = {};
  GetClassNameW(child, cls, 32);
  if (_wcsicmp(cls, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
      SendMessageW(child, STM_GETICON, 0, 0) != 0) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer(int answer) : answer_(answer) {
  t_answerer = this;
  hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  if (hook_) UnhookWindowsHookEx(hook_);
  t_answerer = nullptr;
}

LRESULT CALLBACK MessageBoxAnswerer::Hook(int code, WPARAM wParam, LPARAM lParam) {
  MessageBoxAnswerer* self = t_answerer;
  if (code == HCBT_ACTIVATE && self != nullptr) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t cls[16] = {};
    GetClassNameW(box, cls, 16);
    if (wcscmp(cls, L"#32770") == 0) {
      SeenMessageBox seen;
      seen.caption = TextOf(box);
      seen.text = TextOf(GetDlgItem(box, kTextControlId));
      EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&seen.hasIcon));
      seen.hasYes = GetDlgItem(box, IDYES) != nullptr;
      seen.hasNo = GetDlgItem(box, IDNO) != nullptr;
      self->seen_.push_back(seen);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(self->answer_, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, self->answer_)));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace testing_support
