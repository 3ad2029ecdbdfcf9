// Obtaining a host object through the host service provider.
#include "host/host_services.h"

HRESULT ObtainHostProvider(IHostServiceProvider*& cachedProvider) {
  if (cachedProvider != nullptr) return S_OK;
  IHostServiceProvider* provider = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_HostServiceProvider, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                    CLSCTX_REMOTE_SERVER,
                                IID_IHostServiceProvider, reinterpret_cast<void**>(&provider));
  if (FAILED(hr)) return hr;
  if (provider == nullptr) return E_FAIL;
  cachedProvider = provider;  // kept for the life of the process, never released
  return S_OK;
}

HRESULT ObtainHostObject(IHostServiceProvider*& cachedProvider, HostObject which, REFIID riid,
                         void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  HRESULT hr = ObtainHostProvider(cachedProvider);
  if (FAILED(hr)) return hr;

  IUnknown* created = nullptr;
  hr = E_FAIL;
  switch (which) {
    case HostObject::Settings: hr = cachedProvider->CreateSettings(&created); break;
    case HostObject::AppControl: hr = cachedProvider->CreateAppControl(&created); break;
    case HostObject::SkinWindow: hr = cachedProvider->CreateSkinWindow(&created); break;
    case HostObject::UpgradeHost: hr = cachedProvider->GetUpgradeHost(&created); break;
  }
  if (created != nullptr) {
    if (SUCCEEDED(hr)) created->QueryInterface(riid, ppv);
    created->Release();  // also what a failing host handed back anyway
  }
  return hr;
}
