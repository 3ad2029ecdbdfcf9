// The component inside a host's process, driven as a host would drive it: unloading while
// its tips window lives on another thread or on the same one, process exit with the window
// shown, a tips window destroyed from outside, a skin that cannot be set up again,
// allocation failures that must not unwind into the host, and a second apartment whose host
// objects must stay its own. This file is the parent side: it stages an installation folder of
// its own and runs each case (host_safety_scenario.h) in a child process of this program
// started from there, which loads the component from a folder that the skin engine does not
// load it from (which would keep it loaded).
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/folders.h"
#include "store/update_folders.h"
#include "tests/common/child_process.h"
#include "tests/common/test_files.h"
#include "tests/host/host_safety_scenario.h"

using namespace testing_support;
using host_safety::InChild;
using host_safety::kScenarioVariable;

namespace {

class HostSafety : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Early in the path, so that the installation's update data folder is its own.
    wchar_t name[64];
    swprintf(name, 64, L"C:\\hs%lu-%lu\\", GetCurrentProcessId(), GetTickCount());
    installation_ = name;
    CreateDirectoryW(installation_.c_str(), nullptr);
    CreateDirectoryW((installation_ + L"component").c_str(), nullptr);
    CreateDirectoryW((installation_ + L"logs").c_str(), nullptr);
    CopyFileW(ThisProgramPath().c_str(), (installation_ + L"host_safety.exe").c_str(), FALSE);
    for (const wchar_t* file : {L"Cadenza_Upgrade.dll", L"CadenzaCommon.dll", L"CadenzaWidget_MFC.dll"})
      CopyFileW((GetModuleFolder() + file).c_str(), (installation_ + file).c_str(), FALSE);
    CopyFileW((GetModuleFolder() + L"Cadenza_Upgrade.dll").c_str(),
              (installation_ + L"component\\Cadenza_Upgrade.dll").c_str(), FALSE);
  }
  static void TearDownTestSuite() {
    RemoveTree(GetUpdateDataFolder((installation_ + L"CadenzaUpdate.exe").c_str()));
    RemoveTree(installation_);
  }
  void SetUp() override {
    if (InChild()) GTEST_SKIP();
  }

  // Runs one scenario in a child process started in the installation; its exit code (0 when
  // every check held).
  static DWORD RunScenario(const std::wstring& scenario) {
    const std::wstring exe = installation_ + L"host_safety.exe";
    ScopedEnvironment marker(kScenarioVariable, scenario);
    ChildOptions options;
    options.workingFolder = installation_;
    options.timeoutMs = 90000;
    return RunProgram(exe, L"--gtest_filter=Scenario." + scenario, options);
  }

  static inline std::wstring installation_;
};

TEST_F(HostSafety, UnloadWhileAnotherThreadShowsTheWindow) {
  EXPECT_EQ(0u, RunScenario(L"UnloadWhileAnotherThreadShowsTheWindow"));
}

TEST_F(HostSafety, UnloadOnTheWindowsThreadDoesNotWait) {
  EXPECT_EQ(0u, RunScenario(L"UnloadOnTheWindowsThreadDoesNotWait"));
}

TEST_F(HostSafety, ProcessExitMakesNoWindowOrHostCall) {
  DeleteFileW((installation_ + L"exit-report.txt").c_str());
  EXPECT_EQ(0u, RunScenario(L"ProcessExitWithTheWindowShown"));
  const std::string report = ReadBytes(installation_ + L"exit-report.txt");
  ASSERT_TRUE(FileExists(installation_ + L"exit-report.txt"));
  EXPECT_EQ("", report) << "calls into the host at exit: " << report.size() / 2 << " bytes";
}

TEST_F(HostSafety, PromptComesBackAfterTheWindowWasDestroyed) {
  EXPECT_EQ(0u, RunScenario(L"PromptComesBackAfterTheWindowWasDestroyed"));
}

TEST_F(HostSafety, PromptComesBackAfterItsThreadEnded) {
  EXPECT_EQ(0u, RunScenario(L"PromptComesBackAfterItsThreadEnded"));
}

TEST_F(HostSafety, UnskinnedWindowIsNeverShown) {
  EXPECT_EQ(0u, RunScenario(L"UnskinnedWindowIsNeverShown"));
}

TEST_F(HostSafety, PromptFromAnotherThreadDoesNotWaitForTheWindowsThread) {
  EXPECT_EQ(0u, RunScenario(L"PromptFromAnotherThreadDoesNotWaitForTheWindowsThread"));
}

TEST_F(HostSafety, AllocationFailuresNeverReachTheHost) {
  EXPECT_EQ(0u, RunScenario(L"AllocationFailuresNeverReachTheHost"));
}

TEST_F(HostSafety, EachApartmentCallsOnlyItsOwnHostObjects) {
  EXPECT_EQ(0u, RunScenario(L"EachApartmentCallsOnlyItsOwnHostObjects"));
}

}  // namespace
