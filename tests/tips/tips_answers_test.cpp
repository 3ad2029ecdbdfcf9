// The tips window's answers and the host calls they make: Close and Later store the keep-
// prompting flag, Install schedules the upgrade through the host, the check box's argument
// shapes, a torn-down window's events, and a prompt that comes right after an answer.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/fake_host.h"
#include "tests/common/window_kit.h"
#include "tests/tips/tips_fixture.h"

namespace tips_test {
namespace {

// ---- skin events ----

TEST_F(TipsWindowTest, CloseAndLaterStoreTheKeepPromptingFlag) {
  for (WPARAM id : {kEventClose, kEventLater}) {
    // Ticked and unticked again: prompting goes on.
    Show(L"说明");
    EXPECT_EQ(0, CheckBox(1));
    EXPECT_EQ(0, CheckBox(0));
    EXPECT_EQ(0, Event(id));
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    FinishTearDown();

    // Ticked: prompting stops.
    Show(L"说明");
    CheckBox(1);
    Event(id);
    FinishTearDown();
  }
  EXPECT_EQ((std::vector<LONG>{TRUE, FALSE, TRUE, FALSE}), testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
  EXPECT_TRUE(testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade").empty());
}

TEST_F(TipsWindowTest, InstallSchedulesThroughTheHostAndStoresNothing) {
  Show(L"说明");
  CheckBox(1);
  EXPECT_EQ(0, Event(kEventInstall));
  EXPECT_EQ(std::vector<LONG>{0}, testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade"));
  EXPECT_TRUE(testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").empty());
  EXPECT_FALSE(IsWindowVisible(hwnd_));
}

TEST_F(TipsWindowTest, InstallWithoutTheHostsObjectLeavesTheWindowShown) {
  Show(L"说明");
  testing_support::FakeHost().offerFakeUpgradeHost = false;
  EXPECT_EQ(0, Event(kEventInstall));
  EXPECT_EQ(1, testing_support::FakeHost().Count(L"GetUpgradeHost"));
  EXPECT_TRUE(IsWindowVisible(hwnd_));
  FinishTearDown();
  // Still answering: Later works as ever.
  EXPECT_EQ(0, Event(kEventLater));
  EXPECT_EQ(std::vector<LONG>{TRUE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
}

TEST_F(TipsWindowTest, AfterATearDownEveryEventIsAnsweredWithOne) {
  Show(L"说明");
  Event(kEventLater);
  FinishTearDown();
  ASSERT_TRUE(IsWindow(hwnd_));
  const size_t stored = testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").size();
  EXPECT_EQ(1, Event(kEventClose));
  EXPECT_EQ(1, Event(kEventInstall));
  EXPECT_EQ(1, Event(kEventLater));
  EXPECT_EQ(1, CheckBox(1));
  EXPECT_EQ(1, Event(4242));
  EXPECT_EQ(stored, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").size());
  EXPECT_EQ(0, testing_support::FakeHost().Count(L"GetUpgradeHost"));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
}

TEST_F(TipsWindowTest, OtherArgumentShapesLeaveTheFlag) {
  Show(L"说明");
  CheckBox(1);  // ticked: FALSE would be stored
  VARIANT direct;
  direct.vt = VT_I4;
  direct.lVal = 0;
  EXPECT_EQ(0, Event(kEventNotPrompt, &direct));
  VARIANT shortState;
  shortState.vt = VT_I2;
  shortState.iVal = 0;
  VARIANT refShort;
  refShort.vt = VT_BYREF | VT_VARIANT;
  refShort.pvarVal = &shortState;
  EXPECT_EQ(0, Event(kEventNotPrompt, &refShort));
  LONG zero = 0;
  VARIANT refLong;
  refLong.vt = VT_BYREF | VT_I4;
  refLong.plVal = &zero;
  EXPECT_EQ(0, Event(kEventNotPrompt, &refLong));
  VARIANT refNothing;
  refNothing.vt = VT_BYREF | VT_VARIANT;
  refNothing.pvarVal = nullptr;
  EXPECT_EQ(0, Event(kEventNotPrompt, &refNothing));
  EXPECT_EQ(0, SendMessageW(hwnd_, WM_SKINEVENT, kEventNotPrompt, 0));
  Event(kEventLater);
  EXPECT_EQ(std::vector<LONG>{FALSE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
}

// An answer hides the window and leaves the skin's tear-down to the message loop. A prompt
// that comes before the loop runs again (a quick second check) gets a window that answers
// every button and Enter, whatever the answer before it was.
TEST_F(TipsWindowTest, APromptRightAfterAnAnswerStillAnswers) {
  const WPARAM answers[] = {kEventClose, kEventLater, kEventInstall};
  for (size_t i = 0; i < 3; ++i) {
    Show(L"第一次提示");
    ASSERT_EQ(0, Event(answers[i]));
    tips_->Prompt(L"第二次提示");  // before this thread is back in its loop
    FinishTearDown();
    ASSERT_TRUE(IsWindowVisible(hwnd_));
    ResetTipsHost();
    const WPARAM next = answers[(i + 1) % 3];
    EXPECT_EQ(0, Event(next)) << "answer " << next << " after " << answers[i];
    EXPECT_EQ(next == kEventInstall ? 0u : 1u, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").size());
    EXPECT_EQ(next == kEventInstall ? 1u : 0u, testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade").size());
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    FinishTearDown();
  }
  Show(L"第一次提示");
  Event(kEventClose);
  tips_->Prompt(L"第二次提示");
  FinishTearDown();
  ResetTipsHost();
  SetForegroundWindow(hwnd_);
  ASSERT_TRUE(testing_support::PumpUntil([&] { return GetForegroundWindow() == hwnd_; }));
  Press(VK_RETURN);
  EXPECT_EQ(std::vector<LONG>{0}, testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade"));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
}

}  // namespace
}  // namespace tips_test
