// The sample player (sample/, built by clang for the Microsoft target) driving the component end
// to end in a staged installation with the Microsoft-ABI pair of common libraries: the demo road,
// the check box with Later, the message boxes of RecommendUpgrade and ForceUpgrade with Trigger,
// and the two rules of its skin engine (a click where rectangles overlap; the description
// control left out of the skin's painting).
#include <gtest/gtest.h>

#include <functional>

#include "base/folders.h"
#include "refhost/updater/updater_log.h"
#include "store/update_folders.h"
#include "tests/common/child_process.h"
#include "tests/common/test_files.h"
#include "tests/common/window_kit.h"

using namespace testing_support;

namespace {

constexpr DWORD kPackageVersion = 327682;  // 5.2, newer than the sample's 5.1
constexpr int kDescriptionId = 4097;

struct SampleRun {
  DWORD exitCode = kNoExitCode;
  std::string output;
};

// The installation a player team makes: the sample beside the component, the updater and the
// Microsoft-ABI common libraries; a downloaded package waits in its update data folder.
class SamplePlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring bin = GetModuleFolder();
    const std::pair<std::wstring, const wchar_t*> files[] = {
        {bin + L"sample\\CadenzaSample.exe", L"CadenzaSample.exe"},
        {bin + L"Cadenza_Upgrade.dll", L"Cadenza_Upgrade.dll"},
        {bin + L"CadenzaUpdate.exe", L"CadenzaUpdate.exe"},
        {bin + L"mfc\\CadenzaCommon.dll", L"CadenzaCommon.dll"},
        {bin + L"mfc\\CadenzaWidget_MFC.dll", L"CadenzaWidget_MFC.dll"}};
    for (const auto& [from, name] : files) ASSERT_TRUE(CopyFileW(from.c_str(), (install / name).c_str(), FALSE)) << Narrow(from);
    dataFolder = GetUpdateDataFolder((install / L"CadenzaUpdate.exe").c_str());
    RemoveTree(dataFolder);
    CreateDirectoryW((GetAppDataFolder() + L"CadenzaUpdate").c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(dataFolder.c_str(), nullptr));
    const std::wstring record =
        L"[Cadenza]\r\nUpdateRecord_S_bScheduleInstallation=1\r\nUpdateRecord_S_bCrisisPack=0\r\n"
        L"UpdateRecord_S_strModuleType=Cadenza\r\nUpdateRecord_S_dwVersion=" + std::to_wstring(kPackageVersion) +
        L"\r\nUpdateRecord_S_wPatchNum=0\r\nUpdateRecord_S_wBuildNum=0\r\nUpdateRecord_S_strVersionName=5.2\r\n"
        L"UpdateRecord_S_strDescription=更快的播放\\nFaster playback\r\nUpdateRecord_S_strZipFileName=c.zip\r\n"
        L"UpdateRecord_S_strExeFileName=setup.exe\r\nUpdateRecord_S_byarHash=00112233445566778899AABBCCDDEEFF\r\n";
    ASSERT_TRUE(WriteUnicodeText(dataFolder + L"CadenzaUpdate.ini", record));
  }
  void TearDown() override { RemoveTree(dataFolder); }

  // Runs the sample with `arguments`; `whileRunning` sees the child every 100 ms.
  SampleRun Run(const std::wstring& arguments, std::function<void(DWORD processId)> whileRunning = nullptr) {
    SampleRun run;
    ScopedEnvironment logFolder(L"CADENZA_LOG_FOLDER", logs.path());
    ChildOptions options;
    options.workingFolder = install.path();
    options.timeoutMs = 60000;
    if (whileRunning) options.whileRunning = [&](const PROCESS_INFORMATION& child) { whileRunning(child.dwProcessId); };
    run.exitCode = RunProgramForOutput(install / L"CadenzaSample.exe", arguments + L" --direct", work.path(), run.output, options);
    EXPECT_NE(kNoExitCode, run.exitCode) << "the sample did not start or did not end in time";
    return run;
  }

  std::wstring Settings() { return ReadText(install / L"CadenzaSample.ini"); }
  std::vector<std::wstring> UpdaterLog(size_t count, DWORD timeoutMs = 15000) {
    return WaitForUpdaterLog(dataFolder + kUpdaterLogName, count, timeoutMs);
  }
  std::wstring Updater() { return L"\"" + (install / L"CadenzaUpdate.exe") + L"\""; }

  TempFolder install, work, logs;
  std::wstring dataFolder;
};

bool Has(const std::string& output, const char* text) { return output.find(text) != std::string::npos; }

// A click as the window's thread sees it, at a point of the window's client area.
void ClickAt(HWND window, int x, int y) {
  PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// The sample's message box: its caption and text, then the wanted button.
struct AnsweredBox {
  std::wstring caption, text;
  bool seen = false;
};
void AnswerBox(DWORD processId, int answer, AnsweredBox& box) {
  const HWND found = box.seen ? nullptr : FindTopLevelWindow(processId, L"#32770");
  if (found == nullptr) return;
  wchar_t text[512] = {};
  GetWindowTextW(found, text, 512);
  box.caption = text;
  text[0] = 0;
  GetDlgItemTextW(found, 0xFFFF, text, 512);
  box.text = text;
  box.seen = true;
  PostMessageW(found, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
}

}  // namespace

// check 0, the tips window with the sample's skin, a picture, Install pressed with the mouse:
// the updater gets the install line, the settings file the package's version, the player's log
// the component's line.
TEST_F(SamplePlayer, DemoRoadFromCheckToTheStartedInstaller) {
  const std::wstring picture = work / L"tips.bmp";
  const SampleRun run = Run(L"check 0 --picture \"" + picture + L"\" --press install --wait 30");
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_TRUE(Has(run.output, "host: CheckUpgrade(0) -> 0x00000000")) << run.output;
  EXPECT_TRUE(Has(run.output, "the tips window is shown at")) << run.output;
  EXPECT_TRUE(Has(run.output, "skin: WM_SKINEVENT 1002\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "the tips window was closed")) << run.output;
  const std::string bitmap = ReadBytes(picture);
  ASSERT_GT(bitmap.size(), 54u + 258 * 170 * 4 - 1);
  EXPECT_EQ("BM", bitmap.substr(0, 2));

  const auto lines = UpdaterLog(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"install\t" + Updater() + L"  /install /newpath \"Cadenza\"", lines[0]);
  EXPECT_NE(std::wstring::npos, Settings().find(L"PromptedVersion=" + std::to_wstring(kPackageVersion))) << Narrow(Settings());
  EXPECT_TRUE(Has(ReadBytes(logs / L"music.txt"), "Upgrade Content:")) << ReadBytes(logs / L"music.txt");
}

// A ticked box answered with Later stops prompting: the next check finds the same package and
// shows nothing.
TEST_F(SamplePlayer, TickedCheckBoxAndLaterStopPromptingForThisPackage) {
  const SampleRun run = Run(L"check 0 --press checkbox --press later --wait 30");
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_TRUE(Has(run.output, "skin: WM_SKINEVENT 1004 (ticked 1)\nhost: pressed later")) << run.output;
  EXPECT_TRUE(Has(run.output, "skin: WM_SKINEVENT 1003\n")) << run.output;
  EXPECT_NE(std::wstring::npos, Settings().find(L"PromptUpgrade=0")) << Narrow(Settings());
  EXPECT_TRUE(UpdaterLog(1, 1000).empty());

  const SampleRun again = Run(L"check 0 --wait 5");
  EXPECT_EQ(0u, again.exitCode) << again.output;
  EXPECT_FALSE(Has(again.output, "the tips window is shown")) << again.output;
}

// The message boxes take the sample's strings (1217 the caption, 1354 and 1355 the texts when the
// player gives none); Trigger(1) follows a Yes to RecommendUpgrade and any answer to ForceUpgrade.
TEST_F(SamplePlayer, RecommendAndForceAskInTheSamplesWordsAndTrigger) {
  AnsweredBox recommend, force, prompted;
  SampleRun run = Run(L"recommend", [&](DWORD pid) { AnswerBox(pid, IDYES, recommend); });
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_TRUE(Has(run.output, "host: RecommendUpgrade(NULL, 0) -> 0x00000000")) << run.output;
  EXPECT_EQ(L"Cadenza 升级", recommend.caption);
  EXPECT_EQ(L"Cadenza 有新版本可以使用，建议您现在升级。是否立即检查并升级？", recommend.text);
  EXPECT_TRUE(Has(run.output, "host: Trigger(1)")) << run.output;
  const auto lines = UpdaterLog(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::wstring::npos, lines[0].find(L"/specific \"Cadenza\"")) << Narrow(lines[0]);

  run = Run(L"force", [&](DWORD pid) { AnswerBox(pid, IDNO, force); });
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_EQ(L"当前版本的 Cadenza 已停止支持，需要升级到新版本才能继续使用。是否立即升级？", force.text);
  EXPECT_TRUE(Has(run.output, "host: Trigger(1)")) << run.output;

  run = Run(L"recommend --prompt 现在升级？", [&](DWORD pid) { AnswerBox(pid, IDNO, prompted); });
  EXPECT_EQ(L"现在升级？", prompted.text);
  EXPECT_FALSE(Has(run.output, "Trigger")) << run.output;
}

// The check box's rectangle runs under Install: a click there goes to Install, drawn above it
// (higher zIndex); a click on the box's own part toggles the box.
TEST_F(SamplePlayer, ClickWhereRectanglesOverlapGoesToTheElementDrawnLast) {
  int step = 0;
  const SampleRun run = Run(L"check 0 --wait 30", [&](DWORD pid) {
    const HWND tips = FindTopLevelWindow(pid, kTipsWindowClass);
    if (tips == nullptr || step >= 2) return;
    ClickAt(tips, step == 0 ? 100 : 145, 145);  // the box's label; then Install's left edge
    ++step;
  });
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_TRUE(Has(run.output, "skin: WM_SKINEVENT 1004 (ticked 1)\nskin: WM_SKINEVENT 1002\n")) << run.output;
  EXPECT_EQ(1u, UpdaterLog(1).size());
}

// After the skin repaints (the window invalidated, as after a click), the description is still
// there: the skin leaves the transparent control's rectangle alone.
TEST_F(SamplePlayer, DescriptionSurvivesTheSkinsRepaint) {
  Capture before, after;
  DWORD shownAt = 0;
  int step = 0;
  RECT description = {};
  const SampleRun run = Run(L"check 0 --wait 30", [&](DWORD pid) {
    const HWND tips = FindTopLevelWindow(pid, kTipsWindowClass);
    if (tips == nullptr) return;
    if (shownAt == 0) shownAt = GetTickCount();
    if (step == 0 && GetTickCount() - shownAt > 700) {  // the first paint is done
      GetWindowRect(GetDlgItem(tips, kDescriptionId), &description);
      before = CaptureScreen(description);
      RedrawWindow(tips, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
      step = 1;
    } else if (step == 1 && GetTickCount() - shownAt > 1400) {
      after = CaptureScreen(description);
      ClickAt(tips, 225, 150);  // Later
      step = 2;
    }
  });
  EXPECT_EQ(0u, run.exitCode) << run.output;
  ASSERT_EQ(2, step) << run.output;
  ASSERT_EQ(225, before.width);
  size_t text = 0;  // pixels not of the control's background (its top-left corner)
  for (uint32_t pixel : before.rgb) text += pixel != before.rgb[0];
  EXPECT_GT(text, 100u) << "no text in the description before the repaint";
  EXPECT_TRUE(before.rgb == after.rgb) << "the repaint drew over the description";
}
