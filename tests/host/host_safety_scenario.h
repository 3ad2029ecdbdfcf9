// The child side of the host-safety program: each scenario runs alone in a child process started
// from an installation of its own (host_safety_test.cpp), with the pending package written, the
// reference skins and the fake host. The scenarios are grouped by what they guard in
// host_safety_unload_test.cpp, host_safety_prompt_test.cpp and host_safety_allocation_test.cpp.
#pragma once
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "res/Cadenza_Upgrade.h"

namespace host_safety {

// Set in a child run to the scenario it runs.
inline constexpr wchar_t kScenarioVariable[] = L"CADENZA_SAFETY_SCENARIO";
inline constexpr DWORD kAppVersion = 327681;  // 5.1

bool InChild();

// The component's copy in the installation's component folder, which the skin engine does not
// load from (a copy it loaded would stay loaded).
std::wstring ComponentCopyPath();
bool ComponentLoaded();

// Pumps until the tips window shows on this thread (5 s at most).
bool PumpUntilTipsShown();
// CheckUpgrade with the pending package, then pumps until the tips window shows on this thread.
bool PromptHere(IUpgradeHost* host);

std::wstring TitleOf(HWND window);

// A scenario: skipped in the parent run; in a child, an apartment on this thread, the log folder
// and player version of the installation, the pending package and the reference skins.
class Scenario : public testing::Test {
 protected:
  void SetUp() override;
};

}  // namespace host_safety
