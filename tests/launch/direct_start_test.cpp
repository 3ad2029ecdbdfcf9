// The process launcher before Windows 6.0: direct process creation, run for real in a program that
// sees Windows 5.2. Wine takes the version from HKCU\Software\Wine\AppDefaults\<exe name>\Version
// when a program starts, so main sets that value, starts this same program again as the test run
// proper, waits for it, and removes the value.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "launch/process_launcher.h"
#include "tests/common/child_process.h"
#include "tests/common/spy_process.h"
#include "tests/common/test_files.h"

using namespace testing_support;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::Eq;

namespace {

constexpr wchar_t kChildMarker[] = L"CADENZA_DIRECT_START_CHILD";
constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults";
constexpr DWORD kChildTimeoutMs = 240000;

OSVERSIONINFOW WindowsVersion() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&info);
#pragma GCC diagnostic pop
  return info;
}

class DirectStartChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spy = folder / L"spy_process.exe";
    ASSERT_TRUE(CopyFileW(SpyProgramPath().c_str(), spy.c_str(), TRUE));
    ASSERT_TRUE(CreateDirectoryW((folder / L"spy folder").c_str(), nullptr));
    spyWithBlank = folder / L"spy folder\\spy_process.exe";
    ASSERT_TRUE(CopyFileW(SpyProgramPath().c_str(), spyWithBlank.c_str(), TRUE));
  }

  // Starts the command line with StartProcess and returns the spy's report.
  SpyReport StartAndWait(const std::wstring& commandLine, int showCommand) {
    std::wstring reportPath = folder / (L"report" + std::to_wstring(++launches) + L".txt");
    SpyOutputScope scope(reportPath);
    SpyReport report;
    EXPECT_EQ(33u, StartProcess(commandLine.c_str(), showCommand)) << Narrow(commandLine);
    EXPECT_TRUE(WaitForSpyReport(reportPath, report)) << "the spy did not report";
    return report;
  }

  TempFolder folder;
  std::wstring spy, spyWithBlank;
  int launches = 0;
};

}  // namespace

TEST(DirectStartVersion, ThisProgramSeesWindows52) {
  OSVERSIONINFOW info = WindowsVersion();
  EXPECT_EQ(5u, info.dwMajorVersion);
  EXPECT_EQ(2u, info.dwMinorVersion);
}

TEST_F(DirectStartChildProcessTest, CommandLineArrivesUnchangedWithTheShowCommand) {
  const std::wstring commandLine = L"\"" + spyWithBlank + L"\" /install /newpath  \"Cadenza\" /copy";
  {
    std::wstring reportPath = folder / L"execute.txt";
    SpyOutputScope scope(reportPath);
    ASSERT_TRUE(ExecuteCmdLine(commandLine.c_str()));
    SpyReport report;
    ASSERT_TRUE(WaitForSpyReport(reportPath, report));
    EXPECT_EQ(commandLine, report.commandLine);
    EXPECT_TRUE(report.startupFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(static_cast<DWORD>(SW_SHOW), report.showWindow);
    wchar_t current[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(ARRAYSIZE(current), current);
    EXPECT_EQ(std::wstring(current), report.currentFolder);
  }
  // The show command of StartProcess is the one the child gets on this path.
  SpyReport report = StartAndWait(commandLine, SW_SHOWMINNOACTIVE);
  EXPECT_EQ(static_cast<DWORD>(SW_SHOWMINNOACTIVE), report.showWindow);
}

TEST_F(DirectStartChildProcessTest, LineThatTheShellStartWouldRefuseIsPassedWhole) {
  // Unquoted with parameters, and an unbalanced quote: both reach CreateProcessW unchanged.
  SpyReport report = StartAndWait(spy + L" /pull", SW_SHOW);
  EXPECT_EQ(spy + L" /pull", report.commandLine);
  EXPECT_THAT(report.Arguments(), ElementsAre(spy, L"/pull"));
  // The shell start refuses an unbalanced quote before any start (0); here process creation
  // gets the line and reports the missing program.
  const std::wstring unbalanced = L"\"" + (folder / L"missing.exe") + L" /pull";
  EXPECT_EQ(2u, StartProcess(unbalanced.c_str(), SW_SHOW));
}

TEST_F(DirectStartChildProcessTest, FailuresGiveTheirCodes) {
  ORBITUPDATE::CCmdLineExecutor executor;
  const std::wstring missing = L"\"" + (folder / L"missing.exe") + L"\" /pull";
  EXPECT_EQ(2u, StartProcess(missing.c_str(), SW_SHOW));
  EXPECT_FALSE(executor.Execute(missing.c_str()));

  // Windows reports a missing folder as ERROR_PATH_NOT_FOUND (3); Wine's process creation looks
  // the program up first and reports ERROR_FILE_NOT_FOUND (2). The mapping of 3 is tested alone.
  const std::wstring noFolder = L"\"" + (folder / L"no folder\\CadenzaUpdate.exe") + L"\" /pull";
  EXPECT_THAT(StartProcess(noFolder.c_str(), SW_SHOW), AnyOf(Eq(2u), Eq(3u)));
  EXPECT_FALSE(executor.Execute(noFolder.c_str()));

  const std::wstring text = folder / L"notes.exe";
  ASSERT_TRUE(WriteBytes(text, "This is not a program.\r\n"));
  EXPECT_EQ(11u, StartProcess((L"\"" + text + L"\" /pull").c_str(), SW_SHOW));
  EXPECT_FALSE(executor.Execute(text.c_str()));

  EXPECT_EQ(0u, StartProcess(nullptr, SW_SHOW));
  EXPECT_FALSE(executor.Execute(nullptr));
}

// Parent run: gives this program's name the Windows 5.2 version, runs itself again as the test
// run proper with the same arguments and output, and always removes the version again.
static int RunAsWindows52Child() {
  std::wstring exeName = ThisProgramPath();
  exeName = exeName.substr(exeName.find_last_of(L'\\') + 1);
  const std::wstring keyPath = std::wstring(kAppDefaults) + L"\\" + exeName;

  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    fprintf(stderr, "cannot create HKCU\\%ls\n", keyPath.c_str());
    return 1;
  }
  const wchar_t version[] = L"winxp64";
  LSTATUS set = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                               sizeof(version));
  RegCloseKey(key);

  int result = 1;
  if (set == ERROR_SUCCESS) {
    SetEnvironmentVariableW(kChildMarker, L"1");
    ChildOptions options;
    options.application = ThisProgramPath();
    options.timeoutMs = kChildTimeoutMs;
    options.inheritStdHandles = true;
    const DWORD exitCode = RunChild(GetCommandLineW(), options);  // the same arguments
    if (exitCode != kNoExitCode) {
      result = static_cast<int>(exitCode);
    } else {
      fprintf(stderr, "the Windows 5.2 test run could not start or did not finish\n");
    }
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, keyPath.c_str(), L"Version");
  RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
  return result;
}

int main(int argc, char** argv) {
  if (GetEnvironmentVariableW(kChildMarker, nullptr, 0) == 0) return RunAsWindows52Child();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
