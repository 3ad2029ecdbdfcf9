// Host-safety scenarios of failures and apartments: allocation failures that must not unwind
// into the host, and a second apartment whose host objects must stay its own.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <new>
#include <thread>
#include <utility>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "base/com_object.h"
#include "server/upgrade_host.h"
#include "tests/common/allocation_failure.h"
#include "tests/common/component_loader.h"
#include "tests/common/fake_host.h"
#include "tests/common/window_kit.h"
#include "tests/host/host_safety_scenario.h"
#include "tips/upgrade_tips_wnd.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace host_safety {
namespace {

// A skin window that accepts everything and draws nothing; it notes the window it was bound to
// last and whether that one got its skin loaded.
class QuietSkinWindow final : public ComObject<IHostSkinWindow> {
 public:
  HRESULT STDMETHODCALLTYPE BindWindow(HWND hWnd) override {
    bound = hWnd;
    loaded = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PrepareWindow(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LoadSkin(HWND hWnd, BSTR, BSTR) override {
    loaded = hWnd == bound;
    return S_OK;
  }
  static inline HWND bound = nullptr;
  static inline bool loaded = false;
};

// Every allocation that the upgrade operations, the event source, the class factory and the
// tips window make, failed one at a time: each call returns (E_OUTOFMEMORY or its usual
// result) and no exception reaches the caller. Runs the statically linked component. The
// host's objects (the fake's factory, called by COM inside CoCreateInstance, and what its
// provider hands out) fail with E_OUTOFMEMORY too: an exception from them would have to cross
// COM's own frames, which the 32-bit runtime cannot unwind. The window's own answers, run by
// the message loop, keep every failure inside the window procedure, and the window answers
// afterwards. What runs armed finds the window with FindShownTips, which allocates nothing.
TEST_F(Scenario, AllocationFailuresNeverReachTheHost) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  FakeHost().createSkinWindow = [](IUnknown** pp) -> HRESULT {
    *pp = new (std::nothrow) QuietSkinWindow();
    return *pp != nullptr ? S_OK : E_OUTOFMEMORY;
  };
  ComPtr<IUpgradeHost> host;
  ASSERT_EQ(S_OK, CUpgradeHost::CreateInstance(nullptr, IID_IUpgradeHost,
                                               reinterpret_cast<void**>(host.GetAddressOf())));
  struct Sink : IUnknown {
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
      *ppv = this;
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
  } sink;
  const auto pump = [] { PumpPending(5); };
  SweepAllocationFailures("the host's factory and objects", [] {
    ComPtr<IHostServiceProvider> provider;
    HRESULT hr = CoCreateInstance(CLSID_HostServiceProvider, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IHostServiceProvider, reinterpret_cast<void**>(provider.GetAddressOf()));
    if (FAILED(hr)) return hr;
    ComPtr<IUnknown> object;
    if (FAILED(hr = provider->CreateSettings(&object))) return hr;
    ComPtr<IHostSettings> settings;
    if (FAILED(hr = object.As(&settings))) return hr;
    if (FAILED(hr = settings->SetPromptedVersion(1))) return hr;
    if (FAILED(hr = provider->CreateAppControl(object.ReleaseAndGetAddressOf()))) return hr;
    return provider->GetUpgradeHost(object.ReleaseAndGetAddressOf());
  });
  // A window that shows has its skin loaded, whichever step of its set-up failed before.
  bool unskinned = false;
  SweepAllocationFailures("CheckUpgrade", [&] {
    const HRESULT hr = host->CheckUpgrade(0);
    if (HWND tips = FindShownTips()) {
      unskinned = QuietSkinWindow::bound != tips || !QuietSkinWindow::loaded;
      SendMessageW(tips, WM_SKINEVENT, kEventLater, 0);
    }
    return hr;
  }, [&] {
    EXPECT_FALSE(std::exchange(unskinned, false)) << "shown without its skin";
    pump();
  });

  // Tab moves the focus round to Install and Enter presses it, each key dispatched by the
  // message loop as a key press is; whatever fails stays in the window procedure, and the
  // window then still answers Escape (Later).
  ASSERT_TRUE(PromptHere(host.Get()));
  SweepAllocationFailures("the window's keys", [&] {
    HWND tips = FindShownTips(GetCurrentThreadId());
    if (tips == nullptr) return E_UNEXPECTED;
    for (WPARAM key : {VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_RETURN}) PostMessageW(tips, WM_KEYDOWN, key, 0);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return S_OK;
  }, [&] {
    if (HWND tips = FindShownTips(GetCurrentThreadId())) {
      PostMessageW(tips, WM_KEYDOWN, VK_ESCAPE, 0);
      PumpPending(5);
      EXPECT_EQ(nullptr, FindShownTips()) << "the window stopped answering";
    }
    PumpPending(5);
    EXPECT_TRUE(PromptHere(host.Get())) << "no prompt after a failure in the window";
  });

  ComPtr<IConnectionPointContainer> container;
  ASSERT_HRESULT_SUCCEEDED(host.As(&container));
  ComPtr<IConnectionPoint> point;
  ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID__IUpgradeHostEvents, &point));
  SweepAllocationFailures("Advise and EnumConnections", [&] {
    DWORD cookie = 0;
    HRESULT hr = point->Advise(&sink, &cookie);
    if (FAILED(hr)) return hr;
    ComPtr<IEnumConnections> connections;
    hr = point->EnumConnections(&connections);
    ComPtr<IEnumConnections> clone;
    if (SUCCEEDED(hr)) hr = connections->Clone(&clone);
    point->Unadvise(cookie);
    return hr;
  });
  SweepAllocationFailures("EnumConnectionPoints", [&] {
    ComPtr<IEnumConnectionPoints> points;
    return container->EnumConnectionPoints(&points);
  });
}

// A second single-threaded apartment of the player with an UpgradeHost of its own: its check
// goes through a provider made in that apartment, and every host object is called only on the
// thread that made it. The window stays on the first thread and its calls stay there too.
TEST_F(Scenario, EachApartmentCallsOnlyItsOwnHostObjects) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component(ComponentCopyPath());
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(PromptHere(host.Get()));
  const int providers = FakeHost().providersCreated;

  HANDLE checked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HRESULT> result{E_PENDING};
  std::atomic<int> madeThere{0};
  std::thread second([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegisterFakeHostProvider();
    {
      ComPtr<IUpgradeHost> own = component.Create();
      const int before = FakeHost().providersCreated;
      if (own) result = own->CheckUpgrade(0);
      madeThere = FakeHost().providersCreated - before;
    }
    SetEvent(checked);
    WaitForSingleObject(done, 15000);  // alive while the first thread goes on
    RevokeFakeHostProvider();
    CoUninitialize();
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(checked, 15000));
  EXPECT_EQ(S_OK, result.load());
  EXPECT_EQ(1, madeThere.load()) << "the second apartment's check needs a provider of its own";

  // The first thread goes on with its own providers: Install on the window, another check.
  PumpPending(100);
  const HWND tips = FindShownTips(GetCurrentThreadId());
  ASSERT_NE(nullptr, tips);
  EXPECT_EQ(0, SendMessageW(tips, WM_SKINEVENT, kEventInstall, 0));
  EXPECT_EQ(1, FakeHost().Count(L"ScheduledUpgrade(0)"));
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  EXPECT_EQ(providers + 1, FakeHost().providersCreated) << "one provider per apartment and use";
  SetEvent(done);
  second.join();
  EXPECT_EQ(0, FakeHost().callsFromAnotherThread) << "a host object called from another apartment";
  CloseHandle(checked);
  CloseHandle(done);
}

}  // namespace
}  // namespace host_safety
