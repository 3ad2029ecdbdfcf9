// The tips window under real input and accessibility clients: a real mouse click, the keys
// that answer as clicks do and move the focus frame, and what a screen reader finds.
#include <windows.h>
#include <oleauto.h>
#include <oleacc.h>
#include <richedit.h>
#include <wrl/client.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/fake_host.h"
#include "tests/common/window_kit.h"
#include "tests/tips/tips_fixture.h"

namespace tips_test {
namespace {

// ---- real input ----

TEST_F(TipsWindowTest, RealMouseClickOnLaterReachesTheHandler) {
  Show(L"点击稍后");
  ASSERT_TRUE(testing_support::PumpUntil([&] { return IsWindowVisible(hwnd_) != FALSE; }));
  SetForegroundWindow(hwnd_);
  const RECT rc = WindowRect(hwnd_);
  const POINT later = {rc.left + 225, rc.top + 150};
  ASSERT_EQ(hwnd_, WindowFromPoint(later));
  SetCursorPos(later.x, later.y);
  testing_support::PumpPending(50);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ASSERT_EQ(2u, SendInput(2, inputs, sizeof(INPUT)));
  EXPECT_TRUE(testing_support::PumpUntil([] { return !testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").empty(); }));
  EXPECT_EQ(std::vector<LONG>{TRUE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
}

// ---- the keyboard ----

// coordinates; empty when hidden.
RECT FocusFrame(HWND tips) {
  RECT frame = {};
  bool any = false;
  for (HWND side = FindWindowExW(tips, nullptr, L"STATIC", nullptr); side != nullptr;
       side = FindWindowExW(tips, side, L"STATIC", nullptr)) {
    if (!IsWindowVisible(side)) continue;
    RECT rc = WindowRect(side);
    MapWindowPoints(nullptr, tips, reinterpret_cast<POINT*>(&rc), 2);
    if (any) {
      UnionRect(&frame, &frame, &rc);
    } else {
      frame = rc;
      any = true;
    }
  }
  return frame;
}

bool Surrounds(const RECT& frame, const RECT& element) {
  return frame.left < element.left && frame.top < element.top && frame.right > element.right &&
         frame.bottom > element.bottom;
}

TEST_F(TipsWindowTest, KeysAnswerAsTheirClicksDoOnceTheWindowIsActive) {
  const RECT install = {142, 140, 192, 160}, later = {200, 140, 250, 160};
  const RECT close = {237, 10, 252, 25}, box = {10, 145, 25, 160};
  auto reach = [&](const std::wstring& description) {
    Show(description);
    SetForegroundWindow(hwnd_);
    ASSERT_TRUE(testing_support::PumpUntil([&] { return GetForegroundWindow() == hwnd_; }));
    testing_support::PumpPending(50);
  };
  wchar_t title[64] = {};
  GetWindowTextW(hwnd_, title, 64);
  EXPECT_STREQ(L"Cadenza 升级", title);

  // Space ticks the box as a click does, and Escape is Later: Later stores FALSE.
  reach(L"说明");
  EXPECT_TRUE(Surrounds(FocusFrame(hwnd_), install)) << "Install has the focus first";
  Press(VK_SPACE);
  Press(VK_ESCAPE);
  EXPECT_EQ(std::vector<LONG>{FALSE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
  FinishTearDown();

  // Enter is Install.
  reach(L"说明");
  Press(VK_RETURN);
  EXPECT_EQ(std::vector<LONG>{0}, testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade"));
  FinishTearDown();

  // Tab moves the focus through Later, Close and the check box; Enter presses what has it.
  reach(L"说明");
  Press(VK_TAB);
  EXPECT_TRUE(Surrounds(FocusFrame(hwnd_), later));
  Press(VK_TAB);
  EXPECT_TRUE(Surrounds(FocusFrame(hwnd_), close));
  Press(VK_TAB);
  EXPECT_TRUE(Surrounds(FocusFrame(hwnd_), box));
  Press(VK_TAB, true);
  Press(VK_RETURN);  // Close
  EXPECT_EQ((std::vector<LONG>{FALSE, TRUE}), testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
  FinishTearDown();

  // The fourth Tab reaches the link, shown selected; Enter shows the whole description.
  std::wstring description = L"更新说明：";
  for (int i = 1; i <= 7; ++i) description += L"\r\n第" + std::to_wstring(i) + L"项改进";
  reach(description);
  for (int i = 0; i < 4; ++i) Press(VK_TAB);
  CHARRANGE selected = {};
  SendMessageW(content(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selected));
  EXPECT_EQ(ControlLength(content()) - 4, selected.cpMin);
  EXPECT_EQ(RECT{}.right, FocusFrame(hwnd_).right) << "the frame gives way to the selection";
  Press(VK_RETURN);
  EXPECT_EQ(description, TextOf(content()));
  EXPECT_TRUE(IsWindowVisible(hwnd_));
}

// ---- accessibility clients ----

TEST_F(TipsWindowTest, AScreenReaderFindsTheTitleAndEveryDrawnControl) {
  Show(L"说明");
  // The window's name, as a screen reader announces it (Wine gives the client object the
  // window's title; it has no separate window object).
  Microsoft::WRL::ComPtr<IAccessible> client;
  ASSERT_HRESULT_SUCCEEDED(AccessibleObjectFromWindow(
      hwnd_, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
      reinterpret_cast<void**>(client.GetAddressOf())));
  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  ASSERT_EQ(S_OK, client->get_accName(self, &name));
  EXPECT_STREQ(L"Cadenza 升级", name);
  SysFreeString(name);

  LONG count = 0;
  ASSERT_EQ(S_OK, client->get_accChildCount(&count));
  std::vector<VARIANT> children(static_cast<size_t>(count));
  LONG obtained = 0;
  ASSERT_HRESULT_SUCCEEDED(AccessibleChildren(client.Get(), 0, count, children.data(), &obtained));
  std::map<std::wstring, std::pair<LONG, VARIANT>> controls;  // name: role, child id
  int windows = 0;
  for (LONG i = 0; i < obtained; ++i) {
    // The child windows (the description's control) come from the system's client object,
    // which under Wine gives them as objects or as bare ids without names.
    BSTR childName = nullptr;
    if (children[i].vt != VT_I4 || client->get_accName(children[i], &childName) != S_OK) {
      ++windows;
      VariantClear(&children[i]);
      continue;
    }
    VARIANT role;
    ASSERT_EQ(S_OK, client->get_accRole(children[i], &role));
    controls[childName] = {role.lVal, children[i]};
    SysFreeString(childName);
  }
  EXPECT_GE(windows, 1);
  for (const wchar_t* button : {L"安装", L"稍后", L"关闭"}) {
    ASSERT_TRUE(controls.count(button)) << "no " << testing::PrintToString(std::wstring(button));
    EXPECT_EQ(ROLE_SYSTEM_PUSHBUTTON, controls[button].first);
  }
  ASSERT_TRUE(controls.count(L"下次不再弹出"));
  EXPECT_EQ(ROLE_SYSTEM_CHECKBUTTON, controls[L"下次不再弹出"].first);
  EXPECT_EQ(ROLE_SYSTEM_STATICTEXT, controls[L"已下载新版的Cadenza，是否现在安装？"].first);

  // The check box's state follows it; its default action is a click, so Later stores FALSE.
  const VARIANT box = controls[L"下次不再弹出"].second;
  VARIANT state;
  ASSERT_EQ(S_OK, client->get_accState(box, &state));
  EXPECT_FALSE(state.lVal & STATE_SYSTEM_CHECKED);
  EXPECT_EQ(S_OK, client->accDoDefaultAction(box));
  ASSERT_EQ(S_OK, client->get_accState(box, &state));
  EXPECT_TRUE(state.lVal & STATE_SYSTEM_CHECKED);
  long x = 0, y = 0, cx = 0, cy = 0;
  ASSERT_EQ(S_OK, client->accLocation(&x, &y, &cx, &cy, controls[L"稍后"].second));
  EXPECT_EQ(WindowRect(hwnd_).left + 200, x);
  EXPECT_EQ(50, cx);
  EXPECT_EQ(S_OK, client->accDoDefaultAction(controls[L"稍后"].second));
  EXPECT_EQ(std::vector<LONG>{FALSE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
}

}  // namespace
}  // namespace tips_test
