// The process launcher on Windows 6.0 and later (Wine's default here): how the shell start splits a
// command line and picks its verb, and real starts of the spy program through the shell.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "launch/process_launcher.h"
#include "tests/common/spy_process.h"
#include "tests/common/test_files.h"

using namespace testing_support;
using ::testing::ElementsAre;

namespace {

struct SplitCase {
  const wchar_t* commandLine;
  const wchar_t* program;
  const wchar_t* parameters;
  const wchar_t* verb;
};

const SplitCase kSplitCases[] = {
    {L"\"C:\\Program Files\\Cadenza\\CadenzaUpdate.exe\" /newpath /pull",
     L"C:\\Program Files\\Cadenza\\CadenzaUpdate.exe", L" /newpath /pull", L"open"},
    {L"   \"C:\\A\\u.exe\" /install", L"C:\\A\\u.exe", L" /install", L"open"},
    {L"\"C:\\A\\u.exe\"", L"C:\\A\\u.exe", L"", L"open"},
    {L"\"\" /x", L"", L" /x", L"open"},
    {L"\"C:\\A\\u.exe\" /copy", L"C:\\A\\u.exe", L" /copy", L"runas"},
    {L"\"C:\\A\\u.exe\" /specific x/copyright", L"C:\\A\\u.exe", L" /specific x/copyright", L"runas"},
    {L"\"C:\\A\\u.exe\" /COPY", L"C:\\A\\u.exe", L" /COPY", L"open"},
    {L"\"C:\\A\\u.exe\" /Copy", L"C:\\A\\u.exe", L" /Copy", L"open"},
    // "/copy" in the quoted program is not part of the parameters.
    {L"\"C:\\x/copy\\u.exe\" /pull", L"C:\\x/copy\\u.exe", L" /pull", L"open"},
    // Unquoted text is the program as a whole, even with blanks or "/copy" in it.
    {L"C:\\A\\u.exe /copy", L"C:\\A\\u.exe /copy", L"", L"open"},
    {L"  C:\\A\\u.exe", L"C:\\A\\u.exe", L"", L"open"},
    // Only the space counts as a blank: a tab stays, and the text is then unquoted.
    {L"\t\"C:\\A\\u.exe\" /x", L"\t\"C:\\A\\u.exe\" /x", L"", L"open"},
    {L"", L"", L"", L"open"},
    {L"    ", L"", L"", L"open"},
};

}  // namespace

TEST(ShellCommandLineSplit, ProgramParametersAndVerb) {
  for (const SplitCase& c : kSplitCases) {
    SCOPED_TRACE(Narrow(c.commandLine));
    ShellStartCommand command;
    ASSERT_TRUE(SplitShellCommandLine(c.commandLine, command));
    EXPECT_EQ(c.program, command.strProgram);
    EXPECT_EQ(c.parameters, command.strParameters);
    ASSERT_NE(nullptr, command.pszVerb);
    EXPECT_STREQ(c.verb, command.pszVerb);
  }
}

TEST(ShellCommandLineSplit, UnbalancedQuoteAndNullAreRefused) {
  ShellStartCommand command;
  command.strProgram = L"kept";
  EXPECT_FALSE(SplitShellCommandLine(L"\"C:\\A\\u.exe /pull", command));
  EXPECT_FALSE(SplitShellCommandLine(L"  \"", command));
  EXPECT_FALSE(SplitShellCommandLine(nullptr, command));
  EXPECT_EQ(L"kept", command.strProgram);
}

TEST(ProcessCreationFailure, MapsTheThreeKnownErrorsAndNothingElse) {
  EXPECT_EQ(2u, ProcessCreationFailureCode(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(3u, ProcessCreationFailureCode(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(11u, ProcessCreationFailureCode(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(0u, ProcessCreationFailureCode(ERROR_ACCESS_DENIED));
  EXPECT_EQ(0u, ProcessCreationFailureCode(ERROR_SUCCESS));
}

// Real starts through the shell. The spy is copied into a folder whose name holds a blank.
class ShellStartChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(GetVersionExW(&info));
#pragma GCC diagnostic pop
    ASSERT_GE(info.dwMajorVersion, 6u) << "these tests need the shell start";
    ASSERT_TRUE(CreateDirectoryW((folder / L"spy folder").c_str(), nullptr));
    spy = folder / L"spy folder\\spy_process.exe";
    ASSERT_TRUE(CopyFileW(SpyProgramPath().c_str(), spy.c_str(), TRUE)) << Narrow(SpyProgramPath());
    wchar_t current[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(ARRAYSIZE(current), current);
    currentFolder = current;
  }

  // Starts the command line and returns the spy's report.
  SpyReport StartAndWait(const std::wstring& commandLine) {
    std::wstring reportPath = folder / (L"report" + std::to_wstring(++launches) + L".txt");
    SpyOutputScope scope(reportPath);
    SpyReport report;
    EXPECT_TRUE(ExecuteCmdLine(commandLine.c_str())) << Narrow(commandLine);
    EXPECT_TRUE(WaitForSpyReport(reportPath, report)) << "the spy did not report";
    return report;
  }

  TempFolder folder;
  std::wstring spy;
  std::wstring currentFolder;
  int launches = 0;
};

TEST_F(ShellStartChildProcessTest, QuotedProgramGetsItsParametersShownNormal) {
  SpyReport report = StartAndWait(L"\"" + spy + L"\" /newpath /pull");
  EXPECT_THAT(report.Arguments(), ElementsAre(spy, L"/newpath", L"/pull"));
  EXPECT_TRUE(report.commandLine.ends_with(L" /newpath /pull")) << Narrow(report.commandLine);
  EXPECT_EQ(currentFolder, report.currentFolder);
  EXPECT_TRUE(report.startupFlags & STARTF_USESHOWWINDOW);
  EXPECT_EQ(static_cast<DWORD>(SW_SHOWNORMAL), report.showWindow);  // not the SW_SHOW of Execute
}

TEST_F(ShellStartChildProcessTest, LeadingBlanksAreRemovedAndCopyStillStarts) {
  SpyReport report = StartAndWait(L"   \"" + spy + L"\" /install /newpath \"Cadenza\"");
  EXPECT_THAT(report.Arguments(), ElementsAre(spy, L"/install", L"/newpath", L"Cadenza"));
  report = StartAndWait(L"\"" + spy + L"\" /copy \"a b\"");  // verb "runas"
  EXPECT_THAT(report.Arguments(), ElementsAre(spy, L"/copy", L"a b"));
}

TEST_F(ShellStartChildProcessTest, UnquotedProgramWithoutParametersStarts) {
  // The copy beside the tests has no blank in its path, so it needs no quotes.
  std::wstring plain = folder / L"spy_process.exe";
  ASSERT_TRUE(CopyFileW(spy.c_str(), plain.c_str(), TRUE));
  SpyReport report = StartAndWait(plain);
  EXPECT_THAT(report.Arguments(), ElementsAre(plain));
}

namespace {

// Counts the windows activated on this thread while alive, and closes each one, so that a modal
// error box from the shell shows up as a count instead of holding the test.
class ActivatedWindowCounter {
 public:
  ActivatedWindowCounter() {
    count = 0;
    hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
  }
  ~ActivatedWindowCounter() { UnhookWindowsHookEx(hook_); }
  static inline int count = 0;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
      ++count;
      PostMessageW(reinterpret_cast<HWND>(wParam), WM_CLOSE, 0, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  HHOOK hook_;
};

}  // namespace

TEST_F(ShellStartChildProcessTest, WhatCannotBeSplitOrFoundIsNotStartedAndShowsNothing) {
  std::wstring plain = folder / L"spy_process.exe";
  ASSERT_TRUE(CopyFileW(spy.c_str(), plain.c_str(), TRUE));
  const std::wstring reportPath = folder / L"never.txt";
  SpyOutputScope scope(reportPath);
  const std::wstring failing[] = {
      L"\t\"" + spy + L"\" /pull",  // a tab is not a blank: the whole text is the program
      L"\"" + spy + L" /pull",      // unbalanced quote
      plain + L" /pull",            // unquoted: taken whole as the program name
      L"\"" + (folder / L"missing.exe") + L"\" /pull",
  };
  ActivatedWindowCounter windows;
  for (const std::wstring& commandLine : failing) {
    EXPECT_EQ(0u, StartProcess(commandLine.c_str(), SW_SHOW)) << Narrow(commandLine);
    EXPECT_FALSE(ExecuteCmdLine(commandLine.c_str())) << Narrow(commandLine);
  }
  EXPECT_EQ(0u, StartProcess(nullptr, SW_SHOW));
  EXPECT_FALSE(ExecuteCmdLine(nullptr));
  EXPECT_EQ(0, ActivatedWindowCounter::count) << "the shell showed an error box";
  SpyReport report;  // a wrongly started spy would report within a second
  EXPECT_FALSE(WaitForSpyReport(reportPath, report, 1000)) << Narrow(report.commandLine);
}
