// The child side's set-up shared by the host-safety scenarios.
#include "tests/host/host_safety_scenario.h"

#include "base/folders.h"
#include "refhost/skin/skin_window.h"
#include "store/update_folders.h"
#include "tests/common/fake_host.h"
#include "tests/common/test_files.h"
#include "tests/common/window_kit.h"

using namespace testing_support;

namespace host_safety {

namespace {

void WritePendingRecord() {
  const std::wstring folder = GetUpdateDataFolder((GetModuleFolder() + L"CadenzaUpdate.exe").c_str());
  CreateDirectoryW((GetAppDataFolder() + L"CadenzaUpdate").c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring text =
      L"[Cadenza]\r\nUpdateRecord_S_bScheduleInstallation=1\r\nUpdateRecord_S_bCrisisPack=0\r\n"
      L"UpdateRecord_S_strModuleType=Cadenza\r\nUpdateRecord_S_dwVersion=" +
      std::to_wstring(kAppVersion + 1) +
      L"\r\nUpdateRecord_S_wPatchNum=0\r\nUpdateRecord_S_wBuildNum=0\r\n"
      L"UpdateRecord_S_strVersionName=5.2\r\nUpdateRecord_S_strDescription=新版本\\n更快的播放\r\n"
      L"UpdateRecord_S_strZipFileName=c.zip\r\nUpdateRecord_S_strExeFileName=setup.exe\r\n"
      L"UpdateRecord_S_byarHash=00112233445566778899AABBCCDDEEFF\r\n";
  ASSERT_TRUE(WriteUnicodeText(folder + L"CadenzaUpdate.ini", text));
}

void UseReferenceSkins() {
  ResetFakeHost();
  FakeHost().createSkinWindow = CreateSkinWindowObject;
  FakeHost().offerFakeUpgradeHost = true;
}

}  // namespace

bool InChild() { return GetEnvironmentVariableW(kScenarioVariable, nullptr, 0) != 0; }

std::wstring ComponentCopyPath() { return GetModuleFolder() + L"component\\Cadenza_Upgrade.dll"; }

bool ComponentLoaded() { return GetModuleHandleW(ComponentCopyPath().c_str()) != nullptr; }

bool PumpUntilTipsShown() {
  const DWORD thread = GetCurrentThreadId();
  return PumpUntil([thread] { return FindShownTips(thread) != nullptr; }, 5000);
}

bool PromptHere(IUpgradeHost* host) {
  return host != nullptr && host->CheckUpgrade(0) == S_OK && PumpUntilTipsShown();
}

std::wstring TitleOf(HWND window) {
  wchar_t title[128] = {};
  if (window != nullptr) GetWindowTextW(window, title, 128);
  return title;
}

void Scenario::SetUp() {
  if (!InChild()) GTEST_SKIP() << "runs in a child process";
  ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  SetEnvironmentVariableW(L"CADENZA_LOG_FOLDER", (GetModuleFolder() + L"logs").c_str());
  SetEnvironmentVariableW(L"CADENZA_APP_VERSION", std::to_wstring(kAppVersion).c_str());
  WritePendingRecord();
  UseReferenceSkins();
}

}  // namespace host_safety
