// The fake host service provider.
#include "tests/common/fake_host.h"

#include "res/Cadenza_Upgrade.h"

#include <algorithm>
#include <new>

namespace testing_support {
namespace {

FakeHostState g_state;
DWORD g_cookie = 0;

void Record(const std::wstring& call) {
  if (g_state.observer != nullptr) g_state.observer(call.c_str());
  g_state.calls.push_back(call);
}

// Reference counting shared by the small fake objects; each deletes itself at zero.
template <typename Interface>
class FakeObject : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
      *ppv = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override {
    if (g_state.observer != nullptr) g_state.observer(L"Release");
    ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
  }

 protected:
  virtual ~FakeObject() = default;

 private:
  ULONG m_cRef = 1;
};

class FakeSettings final : public FakeObject<IHostSettings> {
 public:
  STDMETHODIMP GetPromptUpgrade(LONG* pbPrompt) override {
    Record(L"GetPromptUpgrade");
    if (g_state.failGetPromptUpgrade) return E_FAIL;
    *pbPrompt = g_state.promptUpgrade;
    return S_OK;
  }
  STDMETHODIMP SetPromptUpgrade(LONG bPrompt) override {
    Record(L"SetPromptUpgrade(" + std::to_wstring(bPrompt) + L")");
    if (g_state.failSetPromptUpgrade) return E_FAIL;
    g_state.promptUpgrade = bPrompt;
    return S_OK;
  }
  STDMETHODIMP GetPromptedVersion(DWORD* pdwVersion) override {
    Record(L"GetPromptedVersion");
    if (g_state.failGetPromptedVersion) return E_FAIL;
    *pdwVersion = g_state.promptedVersion;
    return S_OK;
  }
  STDMETHODIMP SetPromptedVersion(DWORD dwVersion) override {
    Record(L"SetPromptedVersion(" + std::to_wstring(dwVersion) + L")");
    if (g_state.failSetPromptedVersion) return E_FAIL;
    g_state.promptedVersion = dwVersion;
    return S_OK;
  }
};

class FakeAppControl final : public FakeObject<IHostAppControl> {
 public:
  STDMETHODIMP Trigger(LONG nAction) override {
    Record(L"Trigger(" + std::to_wstring(nAction) + L")");
    return S_OK;
  }
};

class FakeUpgradeHost final : public FakeObject<IUpgradeHost> {
 public:
  STDMETHODIMP CheckUpgrade(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP ManualUpgrade(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP PullUpgrade(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP ScheduledUpgrade(LONG nModuleType) override {
    Record(L"ScheduledUpgrade(" + std::to_wstring(nModuleType) + L")");
    return S_OK;
  }
  STDMETHODIMP RecommendUpgrade(BSTR, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP ForceUpgrade(BSTR) override { return E_NOTIMPL; }
};

class FakeProvider final : public FakeObject<IHostServiceProvider> {
 public:
  STDMETHODIMP CreateSettings(IUnknown** pp) override {
    Record(L"CreateSettings");
    *pp = nullptr;
    if (g_state.failCreateSettings) return E_FAIL;
    if (!g_state.nullSettings) *pp = new FakeSettings();
    return S_OK;
  }
  STDMETHODIMP CreateAppControl(IUnknown** pp) override {
    Record(L"CreateAppControl");
    *pp = nullptr;
    if (g_state.failCreateAppControl) return E_FAIL;
    *pp = new FakeAppControl();
    return S_OK;
  }
  STDMETHODIMP CreateSkinWindow(IUnknown** pp) override {
    Record(L"CreateSkinWindow");
    *pp = nullptr;
    return g_state.createSkinWindow ? g_state.createSkinWindow(pp) : E_NOTIMPL;
  }
  STDMETHODIMP GetUpgradeHost(IUnknown** pp) override {
    Record(L"GetUpgradeHost");
    *pp = g_state.upgradeHost;
    if (*pp != nullptr) {
      (*pp)->AddRef();
      return S_OK;
    }
    if (!g_state.offerFakeUpgradeHost) return E_FAIL;
    *pp = new FakeUpgradeHost();
    return S_OK;
  }
  STDMETHODIMP GetMainWindow(HWND* phWnd) override {
    Record(L"GetMainWindow");
    *phWnd = g_state.mainWindow;
    return S_OK;
  }
};

class FakeProviderFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ++g_state.providersCreated;
    FakeProvider* provider = new FakeProvider();
    HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

FakeProviderFactory g_factory;

}  // namespace

int FakeHostState::Count(const std::wstring& call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

std::vector<LONG> FakeHostState::ArgumentsOf(const std::wstring& name) const {
  std::vector<LONG> arguments;
  const std::wstring prefix = name + L"(";
  for (const std::wstring& call : calls)
    if (call.compare(0, prefix.size(), prefix) == 0) arguments.push_back(std::stol(call.substr(prefix.size())));
  return arguments;
}

FakeHostState& FakeHost() { return g_state; }

void ResetFakeHost() {
  const int created = g_state.providersCreated;  // providers cached by the component outlive a test
  const HWND mainWindow = g_state.mainWindow;
  const auto observer = g_state.observer;
  g_state = FakeHostState();
  g_state.providersCreated = created;
  g_state.mainWindow = mainWindow;
  g_state.observer = observer;
}

bool RegisterFakeHostProvider() {
  if (g_cookie != 0) return true;
  return SUCCEEDED(CoRegisterClassObject(CLSID_HostServiceProvider, &g_factory, CLSCTX_INPROC_SERVER,
                                         REGCLS_MULTIPLEUSE, &g_cookie));
}

void RevokeFakeHostProvider() {
  if (g_cookie != 0) CoRevokeClassObject(g_cookie);
  g_cookie = 0;
}

}  // namespace testing_support
