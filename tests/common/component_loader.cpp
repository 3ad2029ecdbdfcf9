// Component test kit: the component DLL loaded through its exports.
#include "tests/common/component_loader.h"

#include "base/folders.h"

namespace testing_support {

using Microsoft::WRL::ComPtr;

std::wstring ComponentPath() { return GetModuleFolder() + L"Cadenza_Upgrade.dll"; }

LoadedComponent::LoadedComponent() : LoadedComponent(ComponentPath()) {}

LoadedComponent::LoadedComponent(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}

HRESULT LoadedComponent::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto get = Export<GetClassObjectFn>("DllGetClassObject");
  return get != nullptr ? get(clsid, riid, ppv) : E_FAIL;
}

ComPtr<IClassFactory> LoadedComponent::Factory() const {
  ComPtr<IClassFactory> factory;
  GetClassObject(CLSID_UpgradeHost, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
  return factory;
}

ComPtr<IUpgradeHost> LoadedComponent::Create() const {
  ComPtr<IUpgradeHost> host;
  if (ComPtr<IClassFactory> factory = Factory())
    factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf()));
  return host;
}

HRESULT LoadedComponent::CanUnloadNow() const {
  const auto can = Export<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
  return can != nullptr ? can() : E_FAIL;
}

void LoadedComponent::Free() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
}

}  // namespace testing_support
