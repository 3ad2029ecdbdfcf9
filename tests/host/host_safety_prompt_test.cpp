// Host-safety scenarios of the prompt's lifetime: the tips window destroyed from outside (its
// owner gone, its thread ended, Alt+F4), a skin that cannot be set up again, and a prompt from
// another thread than the window's.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "refhost/skin/skin_window.h"
#include "tests/common/component_loader.h"
#include "tests/common/fake_host.h"
#include "tests/common/window_kit.h"
#include "tests/host/host_safety_scenario.h"
#include "tips/upgrade_tips_wnd.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace host_safety {
namespace {

// The window destroyed from outside: by its owner's destruction, by the end of its thread,
// by a close. The next check that must prompt shows a window again.
TEST_F(Scenario, PromptComesBackAfterTheWindowWasDestroyed) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component(ComponentCopyPath());
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(host);

  // The owner (the player's main window) destroyed and made again.
  HWND owner = CreateWindowExW(0, L"STATIC", L"player", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  FakeHost().mainWindow = owner;
  ASSERT_EQ(S_OK, host->CheckUpgrade(0));
  ASSERT_TRUE(PumpUntilTipsShown());
  HWND tips = FindShownTips(GetCurrentThreadId());
  EXPECT_EQ(owner, GetWindow(tips, GW_OWNER));
  DestroyWindow(owner);
  EXPECT_FALSE(IsWindow(tips));
  owner = CreateWindowExW(0, L"STATIC", L"player", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  FakeHost().mainWindow = owner;
  ASSERT_EQ(S_OK, host->CheckUpgrade(0));
  ASSERT_TRUE(PumpUntilTipsShown()) << "prompt lost after the owner went";
  tips = FindShownTips(GetCurrentThreadId());
  EXPECT_EQ(owner, GetWindow(tips, GW_OWNER));

  // Alt+F4 (the system's close command) answers as the Close button: the flag is stored as
  // Close stores it, the window hides and the next prompt shows it again.
  SendMessageW(tips, WM_SKINEVENT, kEventNotPrompt, 0);  // a malformed argument changes nothing
  FakeHost().calls.clear();
  SendMessageW(tips, WM_SYSCOMMAND, SC_CLOSE, 0);
  PumpPending(100);
  EXPECT_FALSE(IsWindowVisible(tips));
  EXPECT_EQ(1, FakeHost().Count(L"SetPromptUpgrade(1)"));
  ASSERT_EQ(S_OK, host->CheckUpgrade(0));
  EXPECT_TRUE(PumpUntilTipsShown()) << "prompt lost after Alt+F4";
}

// The thread that showed the window ends (and the system destroys the window with it); a
// check on another thread shows it there, with the same title, and calls only the host
// objects of its own apartment (the first apartment is gone).
TEST_F(Scenario, PromptComesBackAfterItsThreadEnded) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component(ComponentCopyPath());
  std::atomic<bool> shown{false};
  std::wstring firstTitle;
  std::thread([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegisterFakeHostProvider();
    shown = PromptHere(component.Create().Get());
    firstTitle = TitleOf(FindShownTips(GetCurrentThreadId()));
    RevokeFakeHostProvider();
    CoUninitialize();
  }).join();
  ASSERT_TRUE(shown);
  EXPECT_EQ(nullptr, FindShownTips());
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(host);
  ASSERT_EQ(S_OK, host->CheckUpgrade(0));
  ASSERT_TRUE(PumpUntilTipsShown()) << "prompt lost after its thread ended";
  const HWND tips = FindShownTips(GetCurrentThreadId());
  EXPECT_FALSE(firstTitle.empty());
  EXPECT_EQ(firstTitle, TitleOf(tips)) << "the window made again has another title";
  EXPECT_EQ(0, SendMessageW(tips, WM_SKINEVENT, kEventLater, 0));
  EXPECT_EQ(0, FakeHost().callsFromAnotherThread) << "a host object of the ended apartment was called";
}

// A later prompt whose skin cannot be set up again is not shown; the next one is.
TEST_F(Scenario, UnskinnedWindowIsNeverShown) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component(ComponentCopyPath());
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(PromptHere(host.Get()));
  SendMessageW(FindShownTips(GetCurrentThreadId()), WM_SKINEVENT, kEventClose, 0);
  PumpPending(100);

  FakeHost().createSkinWindow = [](IUnknown**) { return E_FAIL; };
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  PumpPending(200);
  EXPECT_EQ(nullptr, FindShownTips()) << "shown without its skin";

  FakeHost().createSkinWindow = CreateSkinWindowObject;
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  EXPECT_TRUE(PumpUntilTipsShown());
}

// A prompt from another thread than the window's does not wait for that thread; the window
// shows when its thread pumps again.
TEST_F(Scenario, PromptFromAnotherThreadDoesNotWaitForTheWindowsThread) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component(ComponentCopyPath());
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(PromptHere(host.Get()));
  SendMessageW(FindShownTips(GetCurrentThreadId()), WM_SKINEVENT, kEventLater, 0);
  PumpPending(100);

  // This thread is busy (not pumping) while another thread checks.
  std::atomic<HRESULT> result{E_PENDING};
  std::atomic<DWORD> took{0};
  std::thread other([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegisterFakeHostProvider();  // the host's provider is there for each apartment
    {
      ComPtr<IUpgradeHost> second = component.Create();
      const DWORD start = GetTickCount();
      if (second) result = second->CheckUpgrade(0);
      took = GetTickCount() - start;
    }
    RevokeFakeHostProvider();
    CoUninitialize();
  });
  other.join();
  EXPECT_EQ(S_OK, result.load());
  EXPECT_LT(took.load(), 2000u);
  EXPECT_TRUE(PumpUntilTipsShown());
}

}  // namespace
}  // namespace host_safety
