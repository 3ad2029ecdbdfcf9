// Component test kit: the component DLL loaded as a host loads it, through its exports only.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "res/Cadenza_Upgrade.h"

namespace testing_support {

class LoadedComponent {
 public:
  // Loads the DLL at `path` (default: the component beside this test program). The library
  // stays loaded unless Free() is called: what a host leaves loaded, a test does too.
  LoadedComponent();
  explicit LoadedComponent(const std::wstring& path);
  LoadedComponent(const LoadedComponent&) = delete;
  LoadedComponent& operator=(const LoadedComponent&) = delete;

  HMODULE module() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }

  // An export by name, cast to the function type; null when missing.
  template <typename Function>
  Function Export(const char* name) const {
    return module_ == nullptr ? nullptr
                              : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  // DllGetClassObject's result for the class and interface asked for.
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const;
  // UpgradeHost's class factory; null when the export fails.
  Microsoft::WRL::ComPtr<IClassFactory> Factory() const;
  // A new UpgradeHost; null when any step fails.
  Microsoft::WRL::ComPtr<IUpgradeHost> Create() const;
  // DllCanUnloadNow's answer (E_FAIL without the export).
  HRESULT CanUnloadNow() const;
  // FreeLibrary; the object then holds nothing.
  void Free();

 private:
  HMODULE module_ = nullptr;
};

// The component beside this test program.
std::wstring ComponentPath();

}  // namespace testing_support
