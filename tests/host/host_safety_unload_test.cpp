// Host-safety scenarios of unloading and exit: the library freed while its tips window lives on
// another thread or on the same one, and the process ending with the window shown.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "base/folders.h"
#include "tests/common/component_loader.h"
#include "tests/common/fake_host.h"
#include "tests/common/window_kit.h"
#include "tests/host/host_safety_scenario.h"
#include "tips/upgrade_tips_wnd.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace host_safety {
namespace {

// A worker thread in its own apartment shows the window; the main thread frees the library;
// the worker goes on pumping and using the window. The window's procedure must stay mapped.
TEST_F(Scenario, UnloadWhileAnotherThreadShowsTheWindow) {
  LoadedComponent component(ComponentCopyPath());
  ASSERT_NE(nullptr, component.module());
  HANDLE shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE freed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> tips{nullptr};
  std::atomic<bool> workerOk{false};
  std::thread worker([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegisterFakeHostProvider();
    if (PromptHere(component.Create().Get())) tips = FindShownTips(GetCurrentThreadId());
    SetEvent(shown);
    WaitForSingleObject(freed, 10000);
    // The host's user moves the mouse over the window, it is repainted, then closed.
    for (int i = 0; i < 20 && tips.load() != nullptr; ++i) {
      PostMessageW(tips, WM_MOUSEMOVE, 0, MAKELPARAM(150 + i, 145));
      RedrawWindow(tips, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      PumpPending(20);
    }
    workerOk = tips.load() != nullptr && IsWindow(tips);
    if (tips.load() != nullptr) SendMessageW(tips, WM_CLOSE, 0, 0);
    PumpPending(100);
    RevokeFakeHostProvider();
    CoUninitialize();
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(shown, 15000));
  ASSERT_NE(nullptr, tips.load());
  EXPECT_EQ(S_FALSE, component.CanUnloadNow()) << "the window's procedure is the library's";
  component.Free();
  CoFreeUnusedLibraries();
  SetEvent(freed);
  worker.join();
  EXPECT_TRUE(workerOk);
  EXPECT_TRUE(ComponentLoaded()) << "kept while its window lives";
}

// On the window's own thread, FreeLibrary returns at once and leaves a working window.
TEST_F(Scenario, UnloadOnTheWindowsThreadDoesNotWait) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component(ComponentCopyPath());
  ASSERT_TRUE(PromptHere(component.Create().Get()));  // the object is released right after
  const HWND tips = FindShownTips(GetCurrentThreadId());
  EXPECT_EQ(S_FALSE, component.CanUnloadNow());
  const DWORD start = GetTickCount();
  component.Free();
  EXPECT_LT(GetTickCount() - start, 500u);
  PumpPending(200);
  EXPECT_TRUE(IsWindowVisible(tips));
  // Its buttons still answer: Later hides it.
  SendMessageW(tips, WM_SKINEVENT, kEventLater, 0);
  PumpPending(100);
  EXPECT_FALSE(IsWindowVisible(tips));
}

// Process exit with the window shown: nothing of the component calls the window system or
// the host's objects any more. The observer reports such calls into a file.
HANDLE g_exitReport = INVALID_HANDLE_VALUE;
std::atomic<bool> g_exiting{false};
void ReportAtExit(const wchar_t* what) {
  if (!g_exiting || g_exitReport == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(g_exitReport, what, static_cast<DWORD>(wcslen(what) * sizeof(wchar_t)), &written, nullptr);
  WriteFile(g_exitReport, L"\n", sizeof(wchar_t), &written, nullptr);
}

TEST_F(Scenario, ProcessExitWithTheWindowShown) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  FakeHost().observer = ReportAtExit;
  auto* component = new LoadedComponent(ComponentCopyPath());  // never freed: the process ends with it
  ComPtr<IUpgradeHost> host = component->Create();
  ASSERT_TRUE(PromptHere(host.Get()));
  host.Detach();  // as a host that ends without releasing
  g_exitReport = CreateFileW((GetModuleFolder() + L"exit-report.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, g_exitReport);
  g_exiting = true;
  std::exit(0);  // the runtime's exit, then the libraries' detach
}

}  // namespace
}  // namespace host_safety
