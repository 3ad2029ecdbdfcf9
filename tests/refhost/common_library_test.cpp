// The host's common libraries: string table, log lines, player version, host folder and font.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "base/folders.h"
#include "player_api/cadenza_common.h"
#include "tests/common/child_process.h"
#include "tests/common/test_files.h"

namespace {

using testing::HasSubstr;
using namespace testing_support;

std::wstring FromUtf8(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
  return text;
}

// The lines of a log file, each without its CR LF; `complete` tells whether the file ended in one.
std::vector<std::wstring> LogLines(const std::wstring& path, bool* complete = nullptr) {
  std::wstring text = FromUtf8(ReadBytes(path));
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (complete) *complete = start == text.size();
  return lines;
}

// A log line: time stamp, process id in brackets, then the text.
std::wstring TextOf(const std::wstring& line) {
  static const std::wregex stamp(L"^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} \\[\\d+\\] ");
  std::wsmatch match;
  if (!std::regex_search(line, match, stamp)) return L"<no time stamp> " + line;
  return match.suffix();
}

TEST(CadenzaCommonStrings, TextsOfTheUpgradePromptsLoadInChinese) {
  std::wstring caption;
  EXPECT_EQ(10, cadenza::LoadStringW(1217, caption));
  EXPECT_EQ(L"Cadenza 升级", caption);

  for (UINT id : {1354u, 1355u}) {
    std::wstring prompt;
    EXPECT_GT(cadenza::LoadStringW(id, prompt), 0) << id;
    EXPECT_THAT(Narrow(prompt), HasSubstr(Narrow(L"升级"))) << id;
    EXPECT_EQ(L'？', prompt.empty() ? 0 : prompt.back()) << "a yes/no question: " << id;
  }
}

TEST(CadenzaCommonStrings, UnknownIdLoadsNothingAndLeavesTheTargetAsItWas) {
  // 1216 and 1218 share 1217's block; 1360 is past the last text of 1355's block; 0 and 60000
  // are in blocks that do not exist.
  for (UINT id : {0u, 1216u, 1218u, 1360u, 60000u}) {
    std::wstring empty;
    EXPECT_EQ(0, cadenza::LoadStringW(id, empty)) << id;
    EXPECT_TRUE(empty.empty()) << id;
    std::wstring kept = L"unchanged";
    cadenza::LoadStringW(id, kept);
    EXPECT_EQ(L"unchanged", kept) << id;
  }
}

class CadenzaCommonLog : public testing::Test {
 protected:
  TempFolder temp_;
  // A folder that does not exist yet: the first line creates it.
  std::wstring folder_ = temp_ / L"logs\\nested\\";
  ScopedEnvironment logFolder_{L"CADENZA_LOG_FOLDER", folder_};
};

TEST_F(CadenzaCommonLog, ArgumentTextArrivesAsItIsWhateverPercentSignsItHolds) {
  cadenza::Log(L"music.txt", L"Upgrade Content:%s", L"100% 完成 %s %d %n %% %ls");
  cadenza::Log(L"music.txt", L"%d-%hs-%ls-%s", 42, "narrow", L"宽", L"wide");

  bool complete = false;
  std::vector<std::wstring> lines = LogLines(folder_ + L"music.txt", &complete);
  ASSERT_EQ(2u, lines.size());
  EXPECT_TRUE(complete);
  EXPECT_EQ(L"Upgrade Content:100% 完成 %s %d %n %% %ls", TextOf(lines[0]));
  EXPECT_EQ(L"42-narrow-宽-wide", TextOf(lines[1]));
}

TEST_F(CadenzaCommonLog, LineBreaksInTheTextKeepOneEntryOnOneLine) {
  cadenza::Log(L"music.txt", L"Upgrade Content:%s", L"第一行\r\n第二行\n第三行\r");
  std::vector<std::wstring> lines = LogLines(folder_ + L"music.txt");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"Upgrade Content:第一行\\n第二行\\n第三行\\n", TextOf(lines[0]));
}

TEST_F(CadenzaCommonLog, NamesThatLeaveTheLogFolderAndMissingFormatsWriteNothing) {
  CreateDirectoryW((temp_ / L"logs").c_str(), nullptr);
  cadenza::Log(L"..\\escape.txt", L"x");
  cadenza::Log(L"sub/escape.txt", L"x");
  cadenza::Log(L"C:escape.txt", L"x");
  cadenza::Log(L"", L"x");
  cadenza::Log(nullptr, L"x");
  cadenza::Log(L"music.txt", nullptr);

  EXPECT_FALSE(FileExists(temp_ / L"logs\\escape.txt"));
  EXPECT_FALSE(FileExists(temp_ / L"logs\\nested\\sub\\escape.txt"));
  EXPECT_FALSE(FileExists(folder_ + L"music.txt"));
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder_ + L"*.txt").c_str(), &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find) << Narrow(found.cFileName);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

TEST(CadenzaCommonVersion, EnvironmentValueInDecimalOrHexOverridesTheExecutablesVersion) {
  {
    ScopedEnvironment version(L"CADENZA_APP_VERSION", std::nullopt);
    EXPECT_EQ(0u, cadenza::GetAppVersion()) << "this test program carries no version resource";
  }
  const struct {
    const wchar_t* text;
    DWORD expected;
  } cases[] = {
      {L"327681", 327681u},      {L"0x00050002", 0x00050002u}, {L"0XFFFFFFFF", 0xFFFFFFFFu},
      {L"4294967295", 0xFFFFFFFFu},
      // Not a 32-bit unsigned number: the executable's version (none here) is used.
      {L"4294967296", 0u}, {L"-1", 0u}, {L"0x", 0u}, {L"12abc", 0u}, {L" 5", 0u}, {L"", 0u},
  };
  for (const auto& test : cases) {
    ScopedEnvironment version(L"CADENZA_APP_VERSION", std::wstring(test.text));
    EXPECT_EQ(test.expected, cadenza::GetAppVersion()) << Narrow(test.text);
  }
}

// The probe, copied with CadenzaCommon.dll into a folder whose name has Chinese and a space.
TEST(CadenzaCommonChildProcess, ProbeSeesItsOwnFolderAndItsFileVersion) {
  TempFolder temp;
  std::wstring folder = temp / L"宿主 程序\\";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  for (const wchar_t* file : {L"refhost_probe.exe", L"CadenzaCommon.dll"})
    ASSERT_TRUE(CopyFileW((GetModuleFolder() + file).c_str(), (folder + file).c_str(), FALSE));
  std::wstring result = temp / L"result.txt";
  ChildOptions probe;
  probe.timeoutMs = 30000;

  {
    ScopedEnvironment version(L"CADENZA_APP_VERSION", std::nullopt);
    ASSERT_EQ(0u, RunProgram(folder + L"refhost_probe.exe", L"common \"" + result + L"\"", probe));
  }
  // File version 5.1.200.7: major 5 in the high word, minor 1 in the low word.
  EXPECT_EQ(folder + L"\n" + std::to_wstring(0x00050001u), ReadText(result));

  ScopedEnvironment version(L"CADENZA_APP_VERSION", std::wstring(L"0x00060003"));
  ASSERT_EQ(0u, RunProgram(folder + L"refhost_probe.exe", L"common \"" + result + L"\"", probe));
  EXPECT_EQ(folder + L"\n" + std::to_wstring(0x00060003u), ReadText(result));
}

TEST(CadenzaWidgetFont, NormalFontIsOneChineseCapableFontAtNinePoints) {
  HFONT font = CCadenzaFont::GetNormalFont();
  ASSERT_NE(nullptr, font);
  EXPECT_EQ(font, CCadenzaFont::GetNormalFont()) << "made once and kept";

  HDC screen = GetDC(nullptr);
  ASSERT_NE(nullptr, screen);
  LOGFONTW logFont = {};
  ASSERT_EQ(static_cast<int>(sizeof(logFont)), GetObjectW(font, sizeof(logFont), &logFont));
  EXPECT_EQ(-MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72), logFont.lfHeight);

  HGDIOBJ old = SelectObject(screen, font);
  const wchar_t text[] = L"已下载新版的Cadenza，是否现在安装？";
  WORD glyphs[ARRAYSIZE(text)] = {};
  int count = static_cast<int>(wcslen(text));
  ASSERT_EQ(static_cast<DWORD>(count),
            GetGlyphIndicesW(screen, text, count, glyphs, GGI_MARK_NONEXISTING_GLYPHS));
  for (int i = 0; i < count; ++i) EXPECT_NE(0xFFFF, glyphs[i]) << "no glyph for character " << i;
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
}

}  // namespace
