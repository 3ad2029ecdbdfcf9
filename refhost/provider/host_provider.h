// The reference host's service provider: the COM object that hands the component the host's
// settings, application control, skin windows, its own UpgradeHost object and its main window.
// The host registers it in its process; the component creates it with CoCreateInstance.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "player_api/host_services.h"

namespace refhost {

// Hands out one object for a creating operation of the provider: fills *ppObject with a
// reference the caller owns and returns S_OK, or fails.
using ObjectSource = std::function<HRESULT(IUnknown** ppObject)>;

// A source that hands out `object` on every call (the host keeps one reference to it).
ObjectSource KeepObject(IUnknown* object);

// A source that makes a new skin window object of the reference skin engine on every call:
// what CreateSkinWindow hands out unless the host plugs in another source.
ObjectSource ReferenceSkinWindows();

// The host's profile file, which keeps the upgrade settings: $CADENZA_PROFILE when set, else
// Cadenza\Cadenza.ini in the user's roaming application data. Empty when neither is known.
std::wstring DefaultProfilePath();

// The profile section and keys of the upgrade settings.
inline constexpr wchar_t kUpgradeSection[] = L"Upgrade";
inline constexpr wchar_t kPromptUpgradeKey[] = L"PromptUpgrade";
inline constexpr wchar_t kPromptedVersionKey[] = L"PromptedVersion";
inline constexpr LONG kDefaultPromptUpgrade = 1;
inline constexpr DWORD kDefaultPromptedVersion = 0;

// A settings object over the given profile file (a full path), as CreateSettings gives it.
HRESULT CreateHostSettings(const std::wstring& profilePath, IUnknown** ppSettings);

// What the provider and the objects it handed out share with the host. Used on the host's thread.
struct HostState {
  std::wstring profilePath;
  HWND mainWindow = nullptr;
  ObjectSource skinWindowSource;   // empty: CreateSkinWindow answers E_NOTIMPL
  ObjectSource upgradeHostSource;  // empty: GetUpgradeHost answers E_NOTIMPL
  std::function<void(LONG nAction)> triggerHandler;
  std::atomic<LONG> triggerCount{0};
  std::atomic<LONG> lastTriggerAction{0};
};

// The host's side of the provider: owns the shared state and the class registration.
// Objects that the component still holds keep working after this owner is gone, except that
// the sources and the trigger handler are dropped.
class HostServices {
 public:
  // profilePath: the settings file; a relative path is made full against the current folder.
  explicit HostServices(const std::wstring& profilePath = DefaultProfilePath());
  ~HostServices();
  HostServices(const HostServices&) = delete;
  HostServices& operator=(const HostServices&) = delete;

  // Registers the provider's class object for CLSID_HostServiceProvider in this thread's
  // apartment (COM must be initialised); Revoke undoes it. Both may be called again.
  HRESULT Register();
  HRESULT Revoke();
  bool IsRegistered() const { return cookie_ != 0; }

  void SetMainWindow(HWND hWnd) { state_->mainWindow = hWnd; }
  // The reference skin engine until another source is set.
  void SetSkinWindowSource(ObjectSource source) { state_->skinWindowSource = std::move(source); }
  void SetUpgradeHostSource(ObjectSource source) { state_->upgradeHostSource = std::move(source); }
  // Called with the action of every Trigger after it has been counted.
  void SetTriggerHandler(std::function<void(LONG)> handler) {
    state_->triggerHandler = std::move(handler);
  }

  LONG TriggerCount() const { return state_->triggerCount; }
  LONG LastTriggerAction() const { return state_->lastTriggerAction; }
  const std::wstring& ProfilePath() const { return state_->profilePath; }

  // A provider object of this host, as CoCreateInstance gives it to the component.
  HRESULT CreateProvider(IHostServiceProvider** ppProvider) const;

 private:
  std::shared_ptr<HostState> state_;
  DWORD cookie_ = 0;
};

}  // namespace refhost
