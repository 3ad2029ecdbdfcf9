// The tips window in a process without a host service provider: this program runs itself again
// with no provider registered, and the object it gets makes no window and shows nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/common/child_process.h"
#include "tests/common/window_kit.h"
#include "tests/tips/tips_fixture.h"

namespace tips_test {
namespace {

// In a child run without a provider: the object exists, its window does not, and nothing
// that is asked of it shows anything.
TEST(TipsWindowWithoutProvider, ObjectWithoutAWindowDoesNothingVisible) {
  if (!WithoutProvider()) GTEST_SKIP() << "runs in the child process of the next test";
  CUpgradeTipsWnd* tips = GetUpgradeTipsWnd();
  ASSERT_NE(nullptr, tips);
  EXPECT_EQ(nullptr, tips->GetSafeHwnd());
  EXPECT_EQ(tips, GetUpgradeTipsWnd());
  tips->SetContent(L"第一行\r\n第二行\r\n第三行\r\n第四行\r\n第五行");
  EXPECT_FALSE(tips->ShowWindow(SW_SHOW));
  // No tips window of this process, shown or hidden: the parent test process and other
  // programs may show theirs.
  EXPECT_EQ(nullptr, testing_support::FindTopLevelWindow(GetCurrentProcessId(),
                                                         testing_support::kTipsWindowClass, 0, false))
      << "a tips window was created";
}

TEST(TipsWindowWithoutProviderChildProcess, RunsThePreviousTestWithNoProvider) {
  if (WithoutProvider()) GTEST_SKIP();
  const testing_support::ScopedEnvironment noProvider(kNoProviderVariable, L"1");
  EXPECT_EQ(0u, testing_support::RunThisProgram(L"--gtest_filter=TipsWindowWithoutProvider.*"));
}

}  // namespace
}  // namespace tips_test
