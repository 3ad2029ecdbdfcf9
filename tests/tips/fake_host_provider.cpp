// The fake host service provider of the tips window tests.
#include "tests/tips/fake_host_provider.h"

#include <new>

#include "host/host_services.h"
#include "refhost/skin/skin_window.h"
#include "res/Cadenza_Upgrade.h"

namespace fake_host {
namespace {

Calls g_calls;
Behaviour g_behaviour;

// IUnknown for a fake implementing one interface; deleted at the last Release.
template <typename Interface>
class FakeObject : public Interface {
 public:
  virtual ~FakeObject() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(Interface)) return E_NOINTERFACE;
    *ppv = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }

 private:
  LONG refs_ = 1;
};

class Settings final : public FakeObject<IHostSettings> {
 public:
  HRESULT STDMETHODCALLTYPE GetPromptUpgrade(LONG* pbPrompt) override {
    *pbPrompt = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPromptUpgrade(LONG bPrompt) override {
    g_calls.promptUpgradeStored.push_back(bPrompt);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPromptedVersion(DWORD* pdwVersion) override {
    *pdwVersion = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPromptedVersion(DWORD) override { return S_OK; }
};

class UpgradeHost final : public FakeObject<IUpgradeHost> {
 public:
  HRESULT STDMETHODCALLTYPE CheckUpgrade(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ManualUpgrade(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PullUpgrade(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ScheduledUpgrade(LONG nModuleType) override {
    g_calls.scheduledUpgrades.push_back(nModuleType);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RecommendUpgrade(BSTR, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ForceUpgrade(BSTR) override { return E_NOTIMPL; }
};

class Provider final : public FakeObject<IHostServiceProvider> {
 public:
  HRESULT STDMETHODCALLTYPE CreateSettings(IUnknown** ppSettings) override {
    *ppSettings = nullptr;
    ++g_calls.settingsCreated;
    if (!g_behaviour.settingsAvailable) return E_FAIL;
    *ppSettings = new Settings();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateAppControl(IUnknown** ppAppControl) override {
    *ppAppControl = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateSkinWindow(IUnknown** ppSkinWindow) override {
    *ppSkinWindow = nullptr;
    ++g_calls.skinWindowsCreated;
    if (!g_behaviour.skinWindowAvailable) return E_FAIL;
    return CreateSkinWindowObject(ppSkinWindow);
  }
  HRESULT STDMETHODCALLTYPE GetUpgradeHost(IUnknown** ppUpgradeHost) override {
    *ppUpgradeHost = nullptr;
    ++g_calls.upgradeHostRequests;
    if (!g_behaviour.upgradeHostAvailable) return E_NOINTERFACE;
    *ppUpgradeHost = new UpgradeHost();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMainWindow(HWND* phWnd) override {
    ++g_calls.mainWindowRequests;
    *phWnd = g_behaviour.mainWindow;
    return S_OK;
  }
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives as long as the process
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* provider = new (std::nothrow) Provider();
    if (provider == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

Calls& Recorded() { return g_calls; }
Behaviour& Configured() { return g_behaviour; }

void Reset() {
  g_calls = Calls();
  HWND mainWindow = g_behaviour.mainWindow;
  g_behaviour = Behaviour();
  g_behaviour.mainWindow = mainWindow;
}

HRESULT Register() {
  static DWORD cookie = 0;
  if (cookie != 0) return S_OK;
  return CoRegisterClassObject(CLSID_HostServiceProvider, &g_factory, CLSCTX_INPROC_SERVER,
                               REGCLS_MULTIPLEUSE, &cookie);
}

}  // namespace fake_host
