// The tips window test program's shared parts (see tips_fixture.h), and the test environment
// that registers the fake host service provider before any test runs.
#include "tests/tips/tips_fixture.h"

#include <richedit.h>

#include "refhost/skin/skin_window.h"
#include "tests/common/fake_host.h"
#include "tests/common/window_kit.h"

namespace tips_test {

const std::wstring kLink = L"显示更多";
const std::wstring kSeparatorAndLink = L"\u2026\u2026显示更多";

namespace {

HWND g_owner = nullptr;

class TipsEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (WithoutProvider()) return;
    g_owner = CreateWindowExW(0, L"STATIC", L"host main window", WS_POPUP, 0, 0, 10, 10, nullptr,
                              nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, g_owner);
    testing_support::FakeHost().mainWindow = g_owner;
    ResetTipsHost();
    ASSERT_TRUE(testing_support::RegisterFakeHostProvider());
  }
};
testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new TipsEnvironment);

}  // namespace

HWND HostMainWindow() { return g_owner; }

bool WithoutProvider() { return GetEnvironmentVariableW(kNoProviderVariable, nullptr, 0) != 0; }

void ResetTipsHost() {
  testing_support::ResetFakeHost();
  testing_support::FakeHost().createSkinWindow = CreateSkinWindowObject;
  testing_support::FakeHost().offerFakeUpgradeHost = true;
}

HWND Content(HWND tips) { return GetDlgItem(tips, IDC_UPGRADE_CONTENT); }

std::wstring TextOf(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(GetWindowTextW(control, text.data(), length + 1));
  return text;
}

RECT WindowRect(HWND hWnd) {
  RECT rc = {};
  GetWindowRect(hWnd, &rc);
  return rc;
}

RECT WorkArea() {
  RECT rc = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0);
  return rc;
}

bool HasEffect(HWND control, long position, DWORD effect) {
  CHARRANGE range = {position, position + 1};
  SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  CHARFORMATW cf = {};
  cf.cbSize = sizeof cf;
  SendMessageW(control, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  return (cf.dwEffects & effect) != 0;
}

long ControlLength(HWND control) {
  GETTEXTLENGTHEX query = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  return static_cast<long>(SendMessageW(control, EM_GETTEXTLENGTHEX,
                                        reinterpret_cast<WPARAM>(&query), 0));
}

void Press(WORD key, bool shift) {
  INPUT inputs[4] = {};
  int n = 0;
  auto add = [&](WORD vk, DWORD flags) {
    inputs[n].type = INPUT_KEYBOARD;
    inputs[n].ki.wVk = vk;
    inputs[n++].ki.dwFlags = flags;
  };
  if (shift) add(VK_SHIFT, 0);
  add(key, 0);
  add(key, KEYEVENTF_KEYUP);
  if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  SendInput(static_cast<UINT>(n), inputs, sizeof(INPUT));
  testing_support::PumpPending(60);
}

void TipsWindowTest::SetUp() {
  tips_ = GetUpgradeTipsWnd();
  hwnd_ = tips_->GetSafeHwnd();
  ASSERT_TRUE(IsWindow(hwnd_));
  tips_->ShowWindow(SW_HIDE);
  testing_support::PumpPending(30);  // a tear-down posted by the last test is done
  ResetTipsHost();
}

void TipsWindowTest::Show(const std::wstring& description) {
  tips_->SetContent(description);
  tips_->ShowWindow(SW_SHOW);
}

LRESULT TipsWindowTest::Event(WPARAM id, const VARIANT* argument) {
  return SendMessageW(hwnd_, WM_SKINEVENT, id, reinterpret_cast<LPARAM>(argument));
}

LRESULT TipsWindowTest::Event(WPARAM id) {
  VARIANT empty;
  VariantInit(&empty);
  return Event(id, &empty);
}

LRESULT TipsWindowTest::CheckBox(LONG ticked) {
  VARIANT state;
  state.vt = VT_I4;
  state.lVal = ticked;
  VARIANT argument;
  argument.vt = VT_BYREF | VT_VARIANT;
  argument.pvarVal = &state;
  return Event(kEventNotPrompt, &argument);
}

void TipsWindowTest::FinishTearDown() { testing_support::PumpPending(30); }

}  // namespace tips_test
