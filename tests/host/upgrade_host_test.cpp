// The six upgrade operations of the component, called as the host calls them, with a fake host
// service provider that records every call and the real stand-in updater as the started program.
#include <gtest/gtest.h>

#include <wrl/client.h>

#include "base/folders.h"
#include "refhost/skin/skin_window.h"
#include "refhost/updater/updater_log.h"
#include "res/Cadenza_Upgrade.h"
#include "store/update_folders.h"
#include "tests/common/component_loader.h"
#include "tests/common/fake_host.h"
#include "tests/common/message_box_answerer.h"
#include "tests/common/test_files.h"
#include "tests/common/window_kit.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

constexpr DWORD kAppVersion = 327681;  // 5.1, as the stand-in common library reports it
const std::wstring kDescription = L"新版本：更快的播放\r\nFaster playback";

class UpgradeHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(RegisterFakeHostProvider());
    LoadedComponent component;  // stays loaded, as a host leaves it
    ASSERT_NE(nullptr, component.module());
    ASSERT_EQ(S_OK, component.GetClassObject(CLSID_UpgradeHost, IID_IClassFactory,
                                             reinterpret_cast<void**>(factory.GetAddressOf())));
  }
  static void TearDownTestSuite() { factory.Reset(); }

  void SetUp() override {
    ResetFakeHost();
    FakeHost().createSkinWindow = CreateSkinWindowObject;
    SetEnvironmentVariableW(L"CADENZA_LOG_FOLDER", logs.path().c_str());
    SetEnvironmentVariableW(L"CADENZA_APP_VERSION", std::to_wstring(kAppVersion).c_str());
    updater = GetModuleFolder() + L"CadenzaUpdate.exe";
    folder = GetUpdateDataFolder(updater.c_str());
    RemoveTree(folder);
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf())));
  }
  void TearDown() override {
    if (HWND tips = FindShownTips(GetCurrentThreadId())) ShowWindow(tips, SW_HIDE);
    host.Reset();
    RemoveTree(folder);
    SetEnvironmentVariableW(L"CADENZA_LOG_FOLDER", nullptr);
  }

  void WriteRecord(const wchar_t* section, DWORD version, WORD build,
                   const std::wstring& storedDescription = L"新版本：更快的播放\\nFaster playback") {
    CreateDirectoryW((GetAppDataFolder() + L"CadenzaUpdate").c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring text = std::wstring(L"[") + section + L"]\r\n"
        L"UpdateRecord_S_bScheduleInstallation=1\r\nUpdateRecord_S_bCrisisPack=0\r\n"
        L"UpdateRecord_S_strModuleType=" + section + L"\r\n"
        L"UpdateRecord_S_dwVersion=" + std::to_wstring(version) + L"\r\n"
        L"UpdateRecord_S_wPatchNum=0\r\nUpdateRecord_S_wBuildNum=" + std::to_wstring(build) + L"\r\n"
        L"UpdateRecord_S_strVersionName=5.2\r\n"
        L"UpdateRecord_S_strDescription=" + storedDescription + L"\r\n"
        L"UpdateRecord_S_strZipFileName=c.zip\r\nUpdateRecord_S_strExeFileName=setup.exe\r\n"
        L"UpdateRecord_S_byarHash=00112233445566778899AABBCCDDEEFF\r\n";
    ASSERT_TRUE(WriteUnicodeText(folder + L"CadenzaUpdate.ini", text));
  }
  std::vector<std::wstring> WaitForUpdater(size_t count, DWORD timeoutMs = 15000) {
    return WaitForUpdaterLog(folder + kUpdaterLogName, count, timeoutMs);
  }
  std::string MusicLog() { return ReadBytes(logs / L"music.txt"); }
  std::vector<std::wstring> Calls() const { return FakeHost().calls; }

  static inline ComPtr<IClassFactory> factory;
  ComPtr<IUpgradeHost> host;
  TempFolder logs;
  std::wstring updater, folder;
};

}  // namespace

TEST_F(UpgradeHostTest, CheckWithoutAPackageTouchesNoHostObject) {
  const int providers = FakeHost().providersCreated;
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  WriteRecord(L"Cadenza", kAppVersion, 300);  // equal version and build: not newer
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  for (LONG module : {2L, -1L}) {  // no module text: no section of that name
    WriteRecord(L"", kAppVersion + 1, 0);
    EXPECT_EQ(S_OK, host->CheckUpgrade(module));
  }
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(providers, FakeHost().providersCreated);
  EXPECT_EQ(nullptr, FindShownTips(GetCurrentThreadId()));
  EXPECT_EQ("", MusicLog());
}

TEST_F(UpgradeHostTest, CheckWithPromptingOffAndTheSameVersionShowsNothing) {
  WriteRecord(L"Cadenza", kAppVersion + 1, 0);
  FakeHost().promptUpgrade = 0;
  FakeHost().promptedVersion = kAppVersion + 1;
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  EXPECT_EQ((std::vector<std::wstring>{L"CreateSettings", L"GetPromptUpgrade", L"GetPromptedVersion",
                                       L"SetPromptedVersion(" + std::to_wstring(kAppVersion + 1) + L")"}),
            Calls());
  EXPECT_EQ(nullptr, FindShownTips(GetCurrentThreadId()));
  EXPECT_EQ("", MusicLog());
}

TEST_F(UpgradeHostTest, CheckWithPromptingOffAndANewerVersionPromptsAgain) {
  WriteRecord(L"Cadenza", kAppVersion + 2, 0);
  FakeHost().promptUpgrade = 0;
  FakeHost().promptedVersion = kAppVersion + 1;
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  std::vector<std::wstring> calls = Calls();
  calls.resize(std::min<size_t>(5, calls.size()));  // the tips window's own calls follow
  EXPECT_EQ((std::vector<std::wstring>{L"CreateSettings", L"GetPromptUpgrade", L"GetPromptedVersion",
                                       L"SetPromptUpgrade(1)",
                                       L"SetPromptedVersion(" + std::to_wstring(kAppVersion + 2) + L")"}),
            calls);
  EXPECT_EQ(1, FakeHost().promptUpgrade);
  PumpPending(200);
  EXPECT_NE(nullptr, FindShownTips(GetCurrentThreadId()));
  const std::string log = MusicLog();
  EXPECT_NE(std::string::npos, log.find("Upgrade Content:")) << log;
  EXPECT_NE(std::string::npos, log.find("Faster playback")) << log;
}

TEST_F(UpgradeHostTest, CheckWithPromptingOnSkipsTheVersionComparison) {
  WriteRecord(L"CadenzaAddin", kAppVersion, 301);  // equal version, build one above the player's
  FakeHost().promptUpgrade = 1;
  FakeHost().promptedVersion = 0xFFFFFFFF;
  EXPECT_EQ(S_OK, host->CheckUpgrade(1));
  EXPECT_EQ(0, FakeHost().Count(L"GetPromptedVersion"));
  EXPECT_EQ(1, FakeHost().Count(L"SetPromptedVersion(" + std::to_wstring(kAppVersion) + L")"));
  PumpPending(200);
  EXPECT_NE(nullptr, FindShownTips(GetCurrentThreadId()));
}

TEST_F(UpgradeHostTest, CheckFailsWhenTheSettingsFail) {
  WriteRecord(L"Cadenza", kAppVersion + 1, 0);
  FakeHost().failCreateSettings = true;
  EXPECT_EQ(E_FAIL, host->CheckUpgrade(0));
  ResetFakeHost();
  FakeHost().nullSettings = true;
  EXPECT_EQ(E_FAIL, host->CheckUpgrade(0));
  ResetFakeHost();
  FakeHost().failGetPromptUpgrade = true;
  FakeHost().promptedVersion = 7;
  EXPECT_EQ(E_FAIL, host->CheckUpgrade(0));
  EXPECT_EQ(7u, FakeHost().promptedVersion);  // not recorded
  ResetFakeHost();
  FakeHost().promptUpgrade = 0;
  FakeHost().failSetPromptUpgrade = true;
  EXPECT_EQ(E_FAIL, host->CheckUpgrade(0));
  EXPECT_EQ(0, FakeHost().Count(L"SetPromptedVersion(" + std::to_wstring(kAppVersion + 1) + L")"));
  ResetFakeHost();
  FakeHost().failSetPromptedVersion = true;
  EXPECT_EQ(E_FAIL, host->CheckUpgrade(0));
  PumpPending(100);
  EXPECT_EQ(nullptr, FindShownTips(GetCurrentThreadId()));
  EXPECT_EQ("", MusicLog());
}

TEST_F(UpgradeHostTest, ManualPullAndScheduledStartTheUpdater) {
  const std::wstring quoted = L"\"" + updater + L"\" ";  // the shell adds its own blank
  EXPECT_EQ(S_OK, host->ManualUpgrade(1));
  ASSERT_EQ(1u, WaitForUpdater(1).size());
  EXPECT_EQ(L"specificlatest\t" + quoted + L" /newpath  /specificlatest \"CadenzaAddin\"", WaitForUpdater(1)[0]);
  EXPECT_EQ(S_OK, host->ManualUpgrade(-1));
  ASSERT_EQ(2u, WaitForUpdater(2).size());
  EXPECT_EQ(L"specificlatest\t" + quoted + L" /newpath  /specificlatest \"\"", WaitForUpdater(2)[1]);

  EXPECT_EQ(S_OK, host->PullUpgrade(0));
  auto lines = WaitForUpdater(3);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(0u, lines[2].find(L"pull\t" + quoted + L" /newpath /pull\tPULL_CLIENT_UPDATE_SETTING=0; "
                              L"PULL_HAS_FORCE_UPDATE=1; PULL_HAS_HPU=1; PULL_MODULE_TYPE=Cadenza;"));

  WriteRecord(L"Cadenza", kAppVersion + 1, 0);
  EXPECT_EQ(S_OK, host->ScheduledUpgrade(0));
  lines = WaitForUpdater(4);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ(L"install\t" + quoted + L" /install /newpath \"Cadenza\"", lines[3]);
  EXPECT_EQ(S_OK, host->ScheduledUpgrade(7));  // nothing waits under an empty section: still S_OK
  EXPECT_TRUE(Calls().empty());
}

TEST_F(UpgradeHostTest, RecommendAsksAndStartsACheckOnYes) {
  MessageBoxAnswerer answerer(IDNO);
  EXPECT_EQ(S_OK, host->RecommendUpgrade(nullptr, 1));
  ASSERT_EQ(1u, answerer.seen().size());
  EXPECT_EQ(L"Cadenza 升级", answerer.seen()[0].caption);
  EXPECT_NE(std::wstring::npos, answerer.seen()[0].text.find(L"建议您现在升级"));  // text 1354
  EXPECT_TRUE(answerer.seen()[0].hasIcon);
  EXPECT_TRUE(answerer.seen()[0].hasYes && answerer.seen()[0].hasNo);
  EXPECT_TRUE(Calls().empty());  // No: neither the updater nor Trigger

  // Once per process, across objects.
  ComPtr<IUpgradeHost> other;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(other.GetAddressOf())));
  EXPECT_EQ(S_OK, other->RecommendUpgrade(nullptr, 1));
  EXPECT_EQ(1u, answerer.seen().size());

  // Without the once flag it asks every time; an empty prompt takes the host's text.
  BSTR empty = SysAllocString(L"");
  EXPECT_EQ(S_OK, host->RecommendUpgrade(empty, 0));
  SysFreeString(empty);
  ASSERT_EQ(2u, answerer.seen().size());
  EXPECT_NE(std::wstring::npos, answerer.seen()[1].text.find(L"建议您现在升级"));

  answerer.SetAnswer(IDYES);
  BSTR prompt = SysAllocString(L"Version 6 is out. Upgrade?");
  EXPECT_EQ(S_OK, other->RecommendUpgrade(prompt, 0));
  ASSERT_EQ(3u, answerer.seen().size());
  EXPECT_EQ(L"Version 6 is out. Upgrade?", answerer.seen()[2].text);
  EXPECT_EQ((std::vector<std::wstring>{L"CreateAppControl", L"Trigger(1)"}), Calls());
  auto lines = WaitForUpdater(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"specific\t\"" + updater + L"\"  /newpath  /specific \"Cadenza\"", lines[0]);

  FakeHost().failCreateAppControl = true;
  EXPECT_EQ(E_FAIL, other->RecommendUpgrade(prompt, 0));
  EXPECT_EQ(2u, WaitForUpdater(2).size());  // the updater was started all the same
  SysFreeString(prompt);
}

TEST_F(UpgradeHostTest, ForceAsksOncePerProcessAndAlwaysTriggers) {
  MessageBoxAnswerer answerer(IDNO);
  EXPECT_EQ(S_OK, host->ForceUpgrade(nullptr));
  ASSERT_EQ(1u, answerer.seen().size());
  EXPECT_EQ(L"Cadenza 升级", answerer.seen()[0].caption);
  EXPECT_NE(std::wstring::npos, answerer.seen()[0].text.find(L"已停止支持"));  // text 1355
  EXPECT_FALSE(answerer.seen()[0].hasIcon);
  EXPECT_EQ((std::vector<std::wstring>{L"CreateAppControl", L"Trigger(1)"}), Calls());
  EXPECT_TRUE(WaitForUpdater(1, 1500).empty());  // No: the updater is not started

  ComPtr<IUpgradeHost> other;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(other.GetAddressOf())));
  answerer.SetAnswer(IDYES);
  EXPECT_EQ(S_OK, other->ForceUpgrade(nullptr));
  EXPECT_EQ(1u, answerer.seen().size());
  EXPECT_EQ(2u, Calls().size());
}

namespace {

// Types text through the input queue, as a keyboard does, and lets it arrive.
void Type(const wchar_t* text) {
  for (const wchar_t* c = text; *c != 0; ++c) {
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = static_cast<WORD>(towupper(*c));
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
  }
  PumpPending(150);
}

}  // namespace

TEST_F(UpgradeHostTest, TheTipsWindowAppearsWithoutTakingTheKeyboard) {
  const HWND editor = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                                      100, 300, 200, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, editor);
  // A program that an earlier test started may still bring up a window: the editor is made the
  // foreground window until it stays so for a while.
  for (int tries = 0; tries < 20; ++tries) {
    SetForegroundWindow(editor);
    SetFocus(editor);
    PumpPending(300);
    if (GetForegroundWindow() == editor && GetFocus() == editor) break;
  }
  ASSERT_EQ(editor, GetForegroundWindow());
  Type(L"abc");
  WriteRecord(L"Cadenza", kAppVersion + 1, 0);
  FakeHost().promptUpgrade = 1;
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  PumpPending(200);
  const HWND tips = FindShownTips(GetCurrentThreadId());
  EXPECT_NE(nullptr, tips);
  Type(L"xyz");
  wchar_t typed[32] = {};
  GetWindowTextW(editor, typed, 32);
  EXPECT_STREQ(L"abcxyz", typed);
  EXPECT_EQ(editor, GetForegroundWindow());
  EXPECT_NE(tips, GetActiveWindow());
  DestroyWindow(editor);
}

TEST_F(UpgradeHostTest, TheLogLineOfAHugeDescriptionIsBounded) {
  std::wstring huge;
  while (huge.size() < 200000) huge += L"很长的更新说明 long notes\\n";
  WriteRecord(L"Cadenza", kAppVersion + 1, 0, huge);
  FakeHost().promptUpgrade = 1;
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  const std::string log = MusicLog();
  EXPECT_NE(std::string::npos, log.find("Upgrade Content:很长的更新说明 long notes")) << log.substr(0, 200);
  EXPECT_LT(log.size(), 10000u);
  EXPECT_NE(std::string::npos, log.find("\xE2\x80\xA6\xE2\x80\xA6")) << "the cut is marked";
}

// A library that may unload keeps no reference on the host's objects: the provider that a
// check obtained is released by the DllCanUnloadNow that answers S_OK (a fresh copy of the
// component, so that no tips window of the other tests keeps it).
TEST_F(UpgradeHostTest, UnloadingReleasesTheProvidersItObtained) {
  TempFolder copy;
  const std::wstring path = copy / L"Cadenza_Upgrade.dll";
  ASSERT_TRUE(CopyFileW((GetModuleFolder() + L"Cadenza_Upgrade.dll").c_str(), path.c_str(), FALSE));
  WriteRecord(L"Cadenza", kAppVersion + 1, 0);
  FakeHost().promptUpgrade = 0;
  FakeHost().promptedVersion = kAppVersion + 1;
  const int alive = FakeHost().providersAlive;
  LoadedComponent dll(path);
  ASSERT_NE(nullptr, dll.module());
  {
    ComPtr<IClassFactory> copyFactory;
    ComPtr<IUpgradeHost> copyHost;
    ASSERT_EQ(S_OK, dll.GetClassObject(CLSID_UpgradeHost, IID_IClassFactory, reinterpret_cast<void**>(copyFactory.GetAddressOf())));
    ASSERT_EQ(S_OK, copyFactory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(copyHost.GetAddressOf())));
    EXPECT_EQ(S_OK, copyHost->CheckUpgrade(0));
    EXPECT_EQ(1, FakeHost().Count(L"CreateSettings"));
    EXPECT_EQ(alive + 1, FakeHost().providersAlive);
    EXPECT_EQ(S_FALSE, dll.CanUnloadNow());  // the object lives
    EXPECT_EQ(alive + 1, FakeHost().providersAlive);
  }
  EXPECT_EQ(S_OK, dll.CanUnloadNow());
  EXPECT_EQ(alive, FakeHost().providersAlive) << "the provider outlives the library";
  dll.Free();
}
