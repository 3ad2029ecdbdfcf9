// The reference player Cadenza.exe driving the component end to end, in a staged installation
// folder: the whole road of one request (a pending package, the tips window, Install pressed
// with the mouse, the updater started with the install line), the player build probe against
// player files with different version resources, and a forced upgrade answered in a message box;
// the same with the Microsoft-ABI pair of common libraries, and with libraries or functions
// missing.
#include <gtest/gtest.h>

#include <cstdio>

#include "base/folders.h"
#include "refhost/stamp/version_stamp.h"
#include "refhost/updater/updater_log.h"
#include "store/update_folders.h"
#include "tests/common/child_process.h"
#include "tests/common/test_files.h"
#include "tests/common/window_kit.h"

using namespace testing_support;

namespace {

constexpr DWORD kAppVersion = 327681;  // 5.1

struct PlayerRun {
  DWORD exitCode = kNoExitCode;
  std::string output;
  std::wstring boxCaption, boxText;  // of the message box answered, if one was
  bool boxSeen = false;
};

// Texts of the host's string table (refhost/common/CadenzaCommon.rc).
const std::wstring kCaption = L"Cadenza 升级";
const std::wstring kRecommendText = L"Cadenza 有新版本可以使用，建议您现在升级。是否立即检查并升级？";
const std::wstring kForceText = L"当前版本的 Cadenza 已停止支持，需要升级到新版本才能继续使用。是否立即升级？";

// A staged installation: the player, the component, the common libraries and the updater.
class StagedPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* file : {L"Cadenza.exe", L"Cadenza_Upgrade.dll", L"CadenzaCommon.dll",
                                L"CadenzaWidget_MFC.dll", L"CadenzaUpdate.exe"})
      ASSERT_TRUE(CopyFileW((GetModuleFolder() + file).c_str(), (install / file).c_str(), FALSE));
    dataFolder = GetUpdateDataFolder((install / L"CadenzaUpdate.exe").c_str());
    RemoveTree(dataFolder);
    CreateDirectoryW((GetAppDataFolder() + L"CadenzaUpdate").c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(dataFolder.c_str(), nullptr));
  }
  void TearDown() override { RemoveTree(dataFolder); }

  // The common libraries of the installation: the Microsoft-ABI pair instead of the GCC one;
  // none; or each present under the other's name (so that none of its functions is there).
  void UseMicrosoftLibraries() {
    for (const wchar_t* file : {L"CadenzaCommon.dll", L"CadenzaWidget_MFC.dll"})
      ASSERT_TRUE(CopyFileW((GetModuleFolder() + L"mfc\\" + file).c_str(), (install / file).c_str(), FALSE));
  }
  void RemoveLibraries() {
    for (const wchar_t* file : {L"CadenzaCommon.dll", L"CadenzaWidget_MFC.dll"})
      ASSERT_TRUE(DeleteFileW((install / file).c_str()));
  }
  void SwapLibraries() {
    ASSERT_TRUE(CopyFileW((GetModuleFolder() + L"CadenzaCommon.dll").c_str(), (install / L"CadenzaWidget_MFC.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((GetModuleFolder() + L"CadenzaWidget_MFC.dll").c_str(), (install / L"CadenzaCommon.dll").c_str(), FALSE));
  }

  void WriteRecord(DWORD version, WORD build, const std::wstring& description = L"更快的播放\\nFaster playback") {
    std::wstring text = L"[Cadenza]\r\nUpdateRecord_S_bScheduleInstallation=1\r\nUpdateRecord_S_bCrisisPack=0\r\n"
        L"UpdateRecord_S_strModuleType=Cadenza\r\nUpdateRecord_S_dwVersion=" + std::to_wstring(version) +
        L"\r\nUpdateRecord_S_wPatchNum=0\r\nUpdateRecord_S_wBuildNum=" + std::to_wstring(build) +
        L"\r\nUpdateRecord_S_strVersionName=5.2\r\nUpdateRecord_S_strDescription=" + description +
        L"\r\nUpdateRecord_S_strZipFileName=c.zip\r\nUpdateRecord_S_strExeFileName=setup.exe\r\n"
        L"UpdateRecord_S_byarHash=00112233445566778899AABBCCDDEEFF\r\n";
    ASSERT_TRUE(WriteUnicodeText(dataFolder + L"CadenzaUpdate.ini", text));
  }

  // Runs the staged player; `answer` (IDYES/IDNO, or 0) answers a message box it opens.
  PlayerRun Run(const std::wstring& arguments, int answer = 0, DWORD timeoutMs = 60000) {
    PlayerRun run;
    SetEnvironmentVariableW(L"CADENZA_APP_VERSION", std::to_wstring(kAppVersion).c_str());
    SetEnvironmentVariableW(L"CADENZA_LOG_FOLDER", logs.path().c_str());
    SetEnvironmentVariableW(L"CADENZA_PROFILE", (work / L"Cadenza.ini").c_str());
    ChildOptions options;
    options.workingFolder = install.path();
    options.timeoutMs = timeoutMs;
    options.whileRunning = [&](const PROCESS_INFORMATION& child) {
      if (answer != 0 && !run.boxSeen) run.boxSeen = AnswerMessageBoxOf(child.dwProcessId, answer, run);
    };
    run.exitCode = RunProgramForOutput(install / L"Cadenza.exe", arguments + L" --direct", work.path(), run.output, options);
    EXPECT_NE(kNoExitCode, run.exitCode) << "the player did not start or did not end in time";
    return run;
  }

  // Reads the caption and text of the process's message box and answers it; false when it has none.
  static bool AnswerMessageBoxOf(DWORD processId, int answer, PlayerRun& run) {
    const HWND box = FindTopLevelWindow(processId, L"#32770");
    if (!box) return false;
    wchar_t text[512] = {};
    GetWindowTextW(box, text, 512);
    run.boxCaption = text;
    text[0] = 0;
    GetDlgItemTextW(box, 0xFFFF, text, 512);  // the message box's text control
    run.boxText = text;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return true;
  }

  std::vector<std::wstring> UpdaterLog(size_t count, DWORD timeoutMs = 15000) {
    return WaitForUpdaterLog(dataFolder + kUpdaterLogName, count, timeoutMs);
  }
  std::wstring Quoted() { return L"\"" + (install / L"CadenzaUpdate.exe") + L"\""; }

  TempFolder install, work, logs;
  std::wstring dataFolder;
};

}  // namespace

TEST_F(StagedPlayer, WholeRoadFromCheckToTheStartedInstaller) {
  WriteRecord(kAppVersion + 1, 0);
  const std::wstring picture = work / L"tips.png";
  PlayerRun run = Run(L"check 0 --press install --wait 30 --picture \"" + picture + L"\"");
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("CheckUpgrade(0) -> 0x00000000 S_OK")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("the tips window is shown")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("the tips window was closed")) << run.output;
  EXPECT_GT(ReadBytes(picture).size(), 1000u);

  auto lines = UpdaterLog(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"install\t" + Quoted() + L"  /install /newpath \"Cadenza\"", lines[0]);
  const std::string log = ReadBytes(logs / L"music.txt");
  EXPECT_NE(std::string::npos, log.find("Upgrade Content:")) << log;
  const std::wstring settings = ReadText(work / L"Cadenza.ini");
  EXPECT_NE(std::wstring::npos, settings.find(L"PromptedVersion=" + std::to_wstring(kAppVersion + 1)));
}

TEST_F(StagedPlayer, LaterStoresTheKeepPromptingFlagAndStartsNothing) {
  WriteRecord(kAppVersion + 1, 0);
  PlayerRun run = Run(L"check 0 --press later --wait 30");
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_NE(std::wstring::npos, ReadText(work / L"Cadenza.ini").find(L"PromptUpgrade=1"));
  EXPECT_TRUE(UpdaterLog(1, 1500).empty());
}

// The build is the whole third field of the player's file version; the package is newer only
// when its build is above it (the versions being equal here).
TEST_F(StagedPlayer, PlayerBuildComesFromTheWholeThirdVersionField) {
  struct Case { const wchar_t* version; WORD recordBuild; bool installs; };
  const Case cases[] = {
      {L"5.1.255.0", 256, true}, {L"5.1.255.0", 255, false},
      {L"5.1.256.0", 256, false}, {L"5.1.256.0", 257, true},
      {L"1.2.300.4", 300, false}, {L"1.2.300.4", 301, true},
      {nullptr, 1, true}, {nullptr, 0, false},  // no version resource: build 0
  };
  size_t started = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.version ? Narrow(c.version) : "no version") << " record build " << c.recordBuild);
    DWORD ms = 0, ls = 0;
    if (c.version) {
      ASSERT_TRUE(ParseFileVersion(c.version, ms, ls));
      ASSERT_TRUE(StampFileVersion(install / L"Cadenza.exe", ms, ls));
    } else {
      ASSERT_TRUE(CopyFileW((GetModuleFolder() + L"CadenzaNoVersion.exe").c_str(),
                            (install / L"Cadenza.exe").c_str(), FALSE));
    }
    WriteRecord(kAppVersion, c.recordBuild);
    PlayerRun run = Run(L"scheduled 0");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    if (c.installs) ++started;
    auto lines = UpdaterLog(started, c.installs ? 15000 : 1000);
    EXPECT_EQ(started, lines.size());
    // A stale package has its schedule flag cleared instead.
    EXPECT_EQ(!c.installs, ReadText(dataFolder + L"CadenzaUpdate.ini").find(L"Installation=0") != std::wstring::npos);
  }
}

TEST_F(StagedPlayer, ForcedUpgradeAnsweredYesStartsACheckAndTriggersTheHost) {
  PlayerRun run = Run(L"force --prompt \"Please upgrade now\"", IDYES);
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("Trigger(1)")) << run.output;
  auto lines = UpdaterLog(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"specific\t" + Quoted() + L"  /newpath  /specific \"Cadenza\"", lines[0]);
}

TEST_F(StagedPlayer, UsageAndMissingComponentHaveTheirOwnExitCodes) {
  EXPECT_EQ(1u, Run(L"frobnicate").exitCode);
  EXPECT_EQ(1u, Run(L"check").exitCode);
  ASSERT_TRUE(DeleteFileW((install / L"Cadenza_Upgrade.dll").c_str()));
  PlayerRun run = Run(L"check 0");
  EXPECT_EQ(3u, run.exitCode) << run.output;
}

// The face the player reports for the tips window's text, and whether it is one that the host's
// widget library chooses.
std::string TipsTextFace(const std::string& output) {
  const std::string mark = "text font is '";
  const size_t at = output.find(mark);
  if (at == std::string::npos) return std::string();
  const size_t from = at + mark.size();
  return output.substr(from, output.find('\'', from) - from);
}
bool IsHostFontFace(const std::string& face) {
  return face == "WenQuanYi Micro Hei" || face == "Microsoft YaHei" || face == "SimSun" || face == "NSimSun";
}

// The counts the Microsoft-ABI CadenzaCommon.dll prints through the player at the end of a run:
// every string it made was freed through it, nothing it did not make came back to it, and it
// assigned LoadStringW's text through the component's own manager. `folderAsked`: GetExeFolder
// was called (the strings the library made); `stringsLoaded`: LoadStringW was.
void ExpectBalancedStrings(const std::string& output, bool folderAsked, bool stringsLoaded) {
  long made = -1, freed = -1, foreign = -1, assigned = -1;
  const size_t at = output.find("library strings: ");
  ASSERT_NE(std::string::npos, at) << output;
  ASSERT_EQ(4, sscanf(output.c_str() + at, "library strings: made %ld, freed %ld, not its own but freed "
                      "through it %ld, assigned through another manager %ld", &made, &freed, &foreign, &assigned)) << output;
  EXPECT_EQ(folderAsked, made > 0) << made;
  EXPECT_EQ(made, freed);
  EXPECT_EQ(0, foreign);
  EXPECT_EQ(stringsLoaded, assigned > 0) << assigned;
}

TEST_F(StagedPlayer, MicrosoftLibrariesServeTheWholeRoadWithBalancedStrings) {
  UseMicrosoftLibraries();
  // Loaded by the player before the component (found by base name), then found by the component
  // in its own folder.
  for (const wchar_t* preload : {L" --preload", L""}) {
    SCOPED_TRACE(Narrow(preload));
    WriteRecord(kAppVersion + 1, 0);
    const size_t started = UpdaterLog(9, 0).size();
    PlayerRun run = Run(std::wstring(L"check 0 --press install --wait 30") + preload);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("CheckUpgrade(0) -> 0x00000000 S_OK")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("the tips window was closed")) << run.output;
    EXPECT_TRUE(IsHostFontFace(TipsTextFace(run.output))) << run.output;
    ExpectBalancedStrings(run.output, true, true);  // the tips window's title, string 1217

    auto lines = UpdaterLog(started + 1);
    ASSERT_EQ(started + 1, lines.size());
    EXPECT_EQ(L"install\t" + Quoted() + L"  /install /newpath \"Cadenza\"", lines.back());
    EXPECT_NE(std::string::npos, ReadBytes(logs / L"music.txt").find("Upgrade Content:更快的播放\\nFaster playback"));
    DeleteFileW((logs / L"music.txt").c_str());
  }
}

TEST_F(StagedPlayer, MicrosoftLibrariesGiveTheHostStringsOfBothMessageBoxes) {
  UseMicrosoftLibraries();
  PlayerRun recommend = Run(L"recommend --preload", IDNO);
  EXPECT_EQ(0u, recommend.exitCode) << recommend.output;
  EXPECT_EQ(kCaption, recommend.boxCaption);
  EXPECT_EQ(kRecommendText, recommend.boxText);
  ExpectBalancedStrings(recommend.output, false, true);  // No: nothing started

  PlayerRun force = Run(L"force --preload", IDYES);
  EXPECT_EQ(0u, force.exitCode) << force.output;
  EXPECT_EQ(kCaption, force.boxCaption);
  EXPECT_EQ(kForceText, force.boxText);
  ExpectBalancedStrings(force.output, true, true);
  auto lines = UpdaterLog(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"specific\t" + Quoted() + L"  /newpath  /specific \"Cadenza\"", lines[0]);
}

// Without the libraries, or with libraries that lack every function, the component still loads
// and answers: no folder (so no record is found and no updater is started), version 0, empty
// host strings, no font, no log line.
TEST_F(StagedPlayer, MissingLibrariesOrFunctionsLeaveTheComponentAnswering) {
  for (bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "libraries without the functions" : "no libraries");
    if (swapped) SwapLibraries(); else RemoveLibraries();
    WriteRecord(kAppVersion + 1, 0);
    PlayerRun check = Run(L"check 0 --wait 2");
    EXPECT_EQ(0u, check.exitCode) << check.output;
    EXPECT_NE(std::string::npos, check.output.find("CheckUpgrade(0) -> 0x00000000 S_OK")) << check.output;
    EXPECT_EQ(std::string::npos, check.output.find("the tips window is shown")) << check.output;

    PlayerRun force = Run(L"force --prompt \"Please upgrade now\"", IDYES);
    EXPECT_EQ(0u, force.exitCode) << force.output;
    EXPECT_TRUE(force.boxSeen);
    EXPECT_EQ(L"Please upgrade now", force.boxText);
    EXPECT_NE(std::string::npos, force.output.find("Trigger(1)")) << force.output;
    PlayerRun recommend = Run(L"recommend", IDNO);
    EXPECT_EQ(0u, recommend.exitCode) << recommend.output;
    EXPECT_TRUE(recommend.boxSeen);
    EXPECT_EQ(L"", recommend.boxText);
    EXPECT_TRUE(UpdaterLog(1, 1500).empty());
    EXPECT_FALSE(FileExists(logs / L"music.txt"));
  }
}

// Only the widget library missing: the road works, the text just has no host font.
TEST_F(StagedPlayer, MicrosoftCommonLibraryWithoutTheWidgetLibraryStillPrompts) {
  UseMicrosoftLibraries();
  ASSERT_TRUE(DeleteFileW((install / L"CadenzaWidget_MFC.dll").c_str()));
  WriteRecord(kAppVersion + 1, 0);
  PlayerRun run = Run(L"check 0 --press install --wait 30 --preload");
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("the tips window was closed")) << run.output;
  EXPECT_FALSE(IsHostFontFace(TipsTextFace(run.output))) << run.output;
  EXPECT_EQ(1u, UpdaterLog(1).size());
  ExpectBalancedStrings(run.output, true, true);
}
