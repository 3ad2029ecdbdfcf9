// A fake host service provider for the tips window tests, registered in this process under
// CLSID_HostServiceProvider: it records every call the tips window makes, hands out skin
// windows of the reference skin engine, and can be told to fail.
#pragma once
#include <windows.h>

#include <vector>

namespace fake_host {

struct Calls {
  int settingsCreated = 0;
  int skinWindowsCreated = 0;
  int upgradeHostRequests = 0;
  int mainWindowRequests = 0;
  std::vector<LONG> promptUpgradeStored;  // SetPromptUpgrade arguments, in order
  std::vector<LONG> scheduledUpgrades;    // ScheduledUpgrade arguments, in order
};

struct Behaviour {
  HWND mainWindow = nullptr;
  bool settingsAvailable = true;
  bool skinWindowAvailable = true;
  bool upgradeHostAvailable = true;
};

Calls& Recorded();
Behaviour& Configured();
void Reset();  // clears the calls and restores the default behaviour

// Registers the provider's class object in this thread's apartment (once per process).
HRESULT Register();

}  // namespace fake_host
