// The component's module: the lock count of outstanding objects and server locks, the module
// guard that every entry point takes.
#pragma once
#include <windows.h>

#include "base/call_barrier.h"

class CCadenza_UpgradeModule {
 public:
  CCadenza_UpgradeModule();
  virtual ~CCadenza_UpgradeModule();

  virtual LONG Lock();
  virtual LONG Unlock();
  virtual LONG GetLockCount() const;

  // Called from DllMain: the activation context of the DLL's own manifest.
  void Attach(HINSTANCE hInstance);
  void Detach();
  HANDLE ActivationContext() const { return m_hActCtx; }

 private:
  volatile LONG m_nLockCount = 0;
  HANDLE m_hActCtx = INVALID_HANDLE_VALUE;
};

extern CCadenza_UpgradeModule g_Module;

// Taken at the top of every entry point: activates the DLL's manifest (common controls, the
// rich edit control) for the call and deactivates it on every way out.
class ModuleGuard {
 public:
  ModuleGuard() noexcept;
  ~ModuleGuard();
  ModuleGuard(const ModuleGuard&) = delete;
  ModuleGuard& operator=(const ModuleGuard&) = delete;

 private:
  ULONG_PTR m_cookie = 0;
  bool m_active = false;
};

// An entry point that returns an HRESULT: the module guard, then the barrier.
template <typename Body>
HRESULT GuardedCall(Body&& body) noexcept {
  ModuleGuard guard;
  return CallBarrier(body, [](HRESULT hrFault) { return hrFault; });
}
