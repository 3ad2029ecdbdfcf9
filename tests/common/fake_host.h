// A fake host service provider for tests: registered in-process under CLSID_HostServiceProvider,
// it records every call with its arguments and can be told to fail at each step.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "player_api/host_services.h"

namespace testing_support {

struct FakeHostState {
  // Settings kept between calls, as a host's settings object does.
  LONG promptUpgrade = 1;
  DWORD promptedVersion = 0;
  // Failures to inject.
  bool failCreateSettings = false;
  bool nullSettings = false;
  bool failGetPromptUpgrade = false;
  bool failSetPromptUpgrade = false;
  bool failGetPromptedVersion = false;
  bool failSetPromptedVersion = false;
  bool failCreateAppControl = false;
  // What the provider hands out for the skin window and the host-kept upgrade host.
  std::function<HRESULT(IUnknown**)> createSkinWindow;
  IUnknown* upgradeHost = nullptr;  // not owned
  // Without an upgradeHost, hand out a fake one that records "ScheduledUpgrade(n)".
  bool offerFakeUpgradeHost = false;
  HWND mainWindow = nullptr;  // kept by ResetFakeHost, like the window it stands for
  // Every call, in order: "CreateSettings", "SetPromptUpgrade(1)", "Trigger(1)", ...
  std::vector<std::wstring> calls;
  int providersCreated = 0;
  int providersAlive = 0;  // created and not yet released for the last time
  // Calls (AddRef and Release too) that a fake object got on another thread than the one that
  // made it: each thread being an apartment of its own, a call from another apartment.
  int callsFromAnotherThread = 0;
  // Told of every call and of every release of a fake object, as it happens (kept by
  // ResetFakeHost): for a test that must see calls made while the process ends.
  void (*observer)(const wchar_t* what) = nullptr;

  int Count(const std::wstring& call) const;
  // The arguments of every recorded call "name(n)", in order.
  std::vector<LONG> ArgumentsOf(const std::wstring& name) const;
};

// The state the fake reads and records into; reset it at the start of each test.
FakeHostState& FakeHost();
void ResetFakeHost();

// Registers the fake provider's class object in the calling thread's apartment (idempotent);
// FALSE on failure. Revoke on the same thread.
bool RegisterFakeHostProvider();
void RevokeFakeHostProvider();

}  // namespace testing_support
