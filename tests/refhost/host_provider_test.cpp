// The reference host's service provider: its settings in the host's profile file, its
// registration in the process, and what the host plugs into it.
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>

#include "adapters/host_provider_cache.h"
#include "base/folders.h"
#include "refhost/provider/host_provider.h"
#include "tests/common/allocation_failure.h"
#include "tests/common/child_process.h"
#include "tests/common/slot_recorder.h"
#include "tests/common/test_files.h"

namespace {

using Microsoft::WRL::ComPtr;
using namespace testing_support;
using namespace std::string_literals;

constexpr DWORD kAnyContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

class HostProviderTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }

  ComPtr<IHostSettings> Settings(const refhost::HostServices& services) {
    ComPtr<IHostServiceProvider> provider;
    EXPECT_HRESULT_SUCCEEDED(services.CreateProvider(&provider));
    ComPtr<IUnknown> object;
    ComPtr<IHostSettings> settings;
    EXPECT_HRESULT_SUCCEEDED(provider->CreateSettings(&object));
    if (object) object.As(&settings);
    return settings;
  }

  TempFolder temp_;
  std::wstring profile_ = temp_ / L"profile\\Cadenza.ini";  // its folder does not exist yet
};

// Every allocation of the class object (called by COM inside CoCreateInstance) and of the
// provider's objects, failed one at a time: each is a result, none an exception, which would
// have to unwind through COM's own frames (the 32-bit runtime cannot) or into the component.
TEST_F(HostProviderTest, AllocationFailuresAreResultsNotExceptions) {
  refhost::HostServices services(profile_);
  ASSERT_HRESULT_SUCCEEDED(services.Register());
  SweepAllocationFailures("the reference host's objects", [] {
    ComPtr<IHostServiceProvider> provider;
    HRESULT hr = CoCreateInstance(CLSID_HostServiceProvider, nullptr, kAnyContext, IID_IHostServiceProvider,
                                  reinterpret_cast<void**>(provider.GetAddressOf()));
    if (FAILED(hr)) return hr;
    ComPtr<IUnknown> object;
    if (FAILED(hr = provider->CreateSettings(&object))) return hr;
    ComPtr<IHostSettings> settings;
    if (FAILED(hr = object.As(&settings))) return hr;
    LONG prompt = 0;
    DWORD version = 0;
    if (FAILED(hr = settings->SetPromptedVersion(7)) || FAILED(hr = settings->GetPromptedVersion(&version)) ||
        FAILED(hr = settings->SetPromptUpgrade(0)) || FAILED(hr = settings->GetPromptUpgrade(&prompt)))
      return hr;
    if (FAILED(hr = provider->CreateAppControl(object.ReleaseAndGetAddressOf()))) return hr;
    return provider->CreateSkinWindow(object.ReleaseAndGetAddressOf());
  });
}

TEST_F(HostProviderTest, SettingsStartAtDefaultsAndKeepValuesAcrossObjects) {
  refhost::HostServices services(profile_);
  ComPtr<IHostSettings> first = Settings(services);
  ASSERT_TRUE(first);
  LONG prompt = 0;
  DWORD version = 1;
  EXPECT_EQ(S_OK, first->GetPromptUpgrade(&prompt));
  EXPECT_EQ(S_OK, first->GetPromptedVersion(&version));
  EXPECT_EQ(1, prompt);
  EXPECT_EQ(0u, version);

  EXPECT_EQ(S_OK, first->SetPromptUpgrade(FALSE));
  EXPECT_EQ(S_OK, first->SetPromptedVersion(0xFFFFFFFFu));
  EXPECT_TRUE(FileExists(profile_));

  ComPtr<IHostSettings> second = Settings(services);
  ASSERT_TRUE(second);
  second->GetPromptUpgrade(&prompt);
  second->GetPromptedVersion(&version);
  EXPECT_EQ(0, prompt);
  EXPECT_EQ(0xFFFFFFFFu, version);

  EXPECT_EQ(E_POINTER, second->GetPromptUpgrade(nullptr));
  EXPECT_EQ(E_POINTER, second->GetPromptedVersion(nullptr));
}

TEST_F(HostProviderTest, SettingsSurviveIntoASecondProcessAndBackChildProcess) {
  refhost::HostServices services(profile_);
  ComPtr<IHostSettings> settings = Settings(services);
  ASSERT_TRUE(settings);
  ASSERT_EQ(S_OK, settings->SetPromptUpgrade(FALSE));
  ASSERT_EQ(S_OK, settings->SetPromptedVersion(327681));

  std::wstring result = temp_ / L"result.txt";
  ChildOptions probe;
  probe.timeoutMs = 30000;
  ASSERT_EQ(0u, RunProgram(GetModuleFolder() + L"refhost_probe.exe",
                           L"settings \"" + profile_ + L"\" \"" + result + L"\" 1 4000000000", probe));
  EXPECT_EQ(L"0 327681", ReadText(result));

  LONG prompt = 0;
  DWORD version = 0;
  settings->GetPromptUpgrade(&prompt);
  settings->GetPromptedVersion(&version);
  EXPECT_EQ(1, prompt);
  EXPECT_EQ(4000000000u, version);
}

TEST_F(HostProviderTest, MalformedStoredValuesReadAsTheDefaults) {
  refhost::HostServices services(profile_);
  ComPtr<IHostSettings> settings = Settings(services);
  ASSERT_TRUE(settings);
  CreateDirectoryW((temp_ / L"profile").c_str(), nullptr);

  const std::string files[] = {
      "[Upgrade]\r\nPromptUpgrade=yes\r\nPromptedVersion=-5\r\n",
      "[Upgrade]\r\nPromptUpgrade=99999999999\r\nPromptedVersion=4294967296\r\n",
      "[Upgrade]\r\nPromptUpgrade=\r\nPromptedVersion=12 34\r\n",
      "\x01\x02\xFF\xFE\x00garbage[Upgrade\r\n=\r\n"s,
      "\xFF\xFE[\x00U\x00p\x00"s,
  };
  for (const std::string& content : files) {
    ASSERT_TRUE(WriteAnsiText(profile_, content));
    LONG prompt = 0;
    DWORD version = 7;
    EXPECT_EQ(S_OK, settings->GetPromptUpgrade(&prompt));
    EXPECT_EQ(S_OK, settings->GetPromptedVersion(&version));
    EXPECT_EQ(1, prompt) << content;
    EXPECT_EQ(0u, version) << content;
  }
}

TEST_F(HostProviderTest, RefusedWriteIsReportedAsAFailure) {
  refhost::HostServices services(profile_);
  ComPtr<IHostSettings> settings = Settings(services);
  ASSERT_TRUE(settings);
  ASSERT_EQ(S_OK, settings->SetPromptUpgrade(TRUE));

  UniqueFile held = HoldOpen(profile_, FILE_SHARE_DELETE);
  ASSERT_TRUE(held);
  EXPECT_TRUE(FAILED(settings->SetPromptUpgrade(FALSE)));
  EXPECT_TRUE(FAILED(settings->SetPromptedVersion(5)));
}

TEST_F(HostProviderTest, RegisteredProviderIsWhatTheComponentObtainsUntilRevoked) {
  refhost::HostServices services(profile_);
  ASSERT_EQ(S_OK, services.Register());
  EXPECT_TRUE(services.IsRegistered());

  IHostServiceProvider* cached = nullptr;
  IHostSettings* settings = nullptr;
  ASSERT_EQ(S_OK, ObtainHostObject(cached, HostObject::Settings, &settings));
  ASSERT_NE(nullptr, settings);
  EXPECT_EQ(S_OK, settings->SetPromptedVersion(9));
  settings->Release();
  IHostAppControl* appControl = nullptr;
  ASSERT_EQ(S_OK, ObtainHostObject(cached, HostObject::AppControl, &appControl));
  ASSERT_NE(nullptr, appControl);
  appControl->Release();
  cached->Release();

  SlotRecorder outer(IID_IUnknown);
  ComPtr<IUnknown> aggregated;
  EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_HostServiceProvider, outer.Unknown(),
                                                    kAnyContext, IID_IUnknown, &aggregated));

  EXPECT_EQ(S_OK, services.Revoke());
  EXPECT_FALSE(services.IsRegistered());
  ComPtr<IHostServiceProvider> provider;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_HostServiceProvider, nullptr, kAnyContext,
                                                  IID_IHostServiceProvider, &provider));
}

TEST_F(HostProviderTest, UpgradeHostUntilPluggedInAndSkinWindowsFromTheReferenceEngine) {
  ComPtr<IHostServiceProvider> provider;
  SlotRecorder upgradeHost(IID_IUnknown);
  {
    refhost::HostServices services(profile_);
    ASSERT_HRESULT_SUCCEEDED(services.CreateProvider(&provider));
    // Skin windows come from the reference skin engine, a new object each time.
    ComPtr<IUnknown> skin1, skin2;
    ComPtr<IHostSkinWindow> skinWindow;
    ASSERT_EQ(S_OK, provider->CreateSkinWindow(&skin1));
    ASSERT_EQ(S_OK, provider->CreateSkinWindow(&skin2));
    EXPECT_NE(skin1.Get(), skin2.Get());
    EXPECT_EQ(S_OK, skin1.As(&skinWindow));

    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOTIMPL, provider->GetUpgradeHost(&object));
    EXPECT_EQ(nullptr, object);

    // The host keeps its UpgradeHost object and hands out that same object each time.
    services.SetUpgradeHostSource(refhost::KeepObject(upgradeHost.Unknown()));
    EXPECT_EQ(2, upgradeHost.refs());
    for (int i = 0; i < 2; ++i) {
      ComPtr<IUnknown> handed;
      ASSERT_EQ(S_OK, provider->GetUpgradeHost(&handed));
      EXPECT_EQ(upgradeHost.Unknown(), handed.Get());
      EXPECT_EQ(3, upgradeHost.refs());
    }

    // A skin window is made anew for each request.
    int made = 0;
    services.SetSkinWindowSource([&made](IUnknown** ppObject) {
      ++made;
      *ppObject = nullptr;
      return E_OUTOFMEMORY;
    });
    ComPtr<IUnknown> skin;
    EXPECT_EQ(E_OUTOFMEMORY, provider->CreateSkinWindow(&skin));
    EXPECT_EQ(1, made);
  }
  // The host has gone: what it plugged in is released, the provider answers as at the start.
  EXPECT_EQ(1, upgradeHost.refs());
  ComPtr<IUnknown> object;
  EXPECT_EQ(E_NOTIMPL, provider->GetUpgradeHost(&object));
  EXPECT_EQ(E_NOTIMPL, provider->CreateSkinWindow(&object));
}

TEST_F(HostProviderTest, MainWindowIsTheHostsAndTriggerIsCountedAndPassedOn) {
  refhost::HostServices services(profile_);
  ComPtr<IHostServiceProvider> provider;
  ASSERT_HRESULT_SUCCEEDED(services.CreateProvider(&provider));

  HWND window = reinterpret_cast<HWND>(1);
  EXPECT_EQ(S_OK, provider->GetMainWindow(&window));
  EXPECT_EQ(nullptr, window);
  HWND desktop = GetDesktopWindow();
  services.SetMainWindow(desktop);
  EXPECT_EQ(S_OK, provider->GetMainWindow(&window));
  EXPECT_EQ(desktop, window);

  LONG handled = 0;
  services.SetTriggerHandler([&handled](LONG nAction) { handled = nAction; });
  ComPtr<IUnknown> object;
  ComPtr<IHostAppControl> appControl;
  ASSERT_EQ(S_OK, provider->CreateAppControl(&object));
  ASSERT_HRESULT_SUCCEEDED(object.As(&appControl));
  EXPECT_EQ(0, services.TriggerCount());
  EXPECT_EQ(S_OK, appControl->Trigger(1));
  EXPECT_EQ(S_OK, appControl->Trigger(1));
  EXPECT_EQ(2, services.TriggerCount());
  EXPECT_EQ(1, services.LastTriggerAction());
  EXPECT_EQ(1, handled);
}

TEST_F(HostProviderTest, DefaultProfileIsTakenFromTheEnvironmentAsAFullPath) {
  ScopedEnvironment variable(L"CADENZA_PROFILE", std::wstring(L"relative\\Cadenza.ini"));
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  std::wstring expected = current;
  if (expected.back() != L'\\') expected += L'\\';
  EXPECT_EQ(expected + L"relative\\Cadenza.ini", refhost::DefaultProfilePath());

  ScopedEnvironment unset(L"CADENZA_PROFILE", std::nullopt);
  std::wstring fallback = refhost::DefaultProfilePath();
  EXPECT_EQ(L"\\Cadenza\\Cadenza.ini",
            fallback.substr(fallback.size() - std::wstring(L"\\Cadenza\\Cadenza.ini").size()));
}

}  // namespace
