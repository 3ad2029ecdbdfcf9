// The fake host service provider.
#include "tests/common/fake_host.h"

#include "base/com_object.h"
#include "refhost/host_call.h"
#include "res/Cadenza_Upgrade.h"

#include <algorithm>
#include <new>

namespace testing_support {
namespace {

using refhost::HostCall;

FakeHostState g_state;
// Each apartment registers the class object for itself (COM finds it only there).
thread_local DWORD g_cookie = 0;

void Record(const std::wstring& call) {
  if (g_state.observer != nullptr) g_state.observer(call.c_str());
  g_state.calls.push_back(call);
}

// The small fake objects: base's reference counting, each deleting itself at zero. Each
// remembers the thread (the single-threaded apartment) that made it and counts every call
// that comes from another; every release is told to the observer.
template <typename Interface>
class FakeObject : public ComObject<Interface> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    Enter();
    return ComObject<Interface>::QueryInterface(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    Enter();
    return ComObject<Interface>::AddRef();
  }
  STDMETHODIMP_(ULONG) Release() override {
    Enter();
    if (g_state.observer != nullptr) g_state.observer(L"Release");
    return ComObject<Interface>::Release();
  }

 protected:
  ~FakeObject() override = default;
  void Enter() const {
    if (GetCurrentThreadId() != m_thread) ++g_state.callsFromAnotherThread;
  }
  // A method's body: recording allocates, and nothing may unwind into the caller.
  template <typename Body>
  HRESULT Call(Body&& body) const noexcept {
    Enter();
    return HostCall(body);
  }

 private:
  const DWORD m_thread = GetCurrentThreadId();
};

class FakeSettings final : public FakeObject<IHostSettings> {
 public:
  STDMETHODIMP GetPromptUpgrade(LONG* pbPrompt) override {
    return Call([&]() -> HRESULT {
      Record(L"GetPromptUpgrade");
      if (g_state.failGetPromptUpgrade) return E_FAIL;
      *pbPrompt = g_state.promptUpgrade;
      return S_OK;
    });
  }
  STDMETHODIMP SetPromptUpgrade(LONG bPrompt) override {
    return Call([&]() -> HRESULT {
      Record(L"SetPromptUpgrade(" + std::to_wstring(bPrompt) + L")");
      if (g_state.failSetPromptUpgrade) return E_FAIL;
      g_state.promptUpgrade = bPrompt;
      return S_OK;
    });
  }
  STDMETHODIMP GetPromptedVersion(DWORD* pdwVersion) override {
    return Call([&]() -> HRESULT {
      Record(L"GetPromptedVersion");
      if (g_state.failGetPromptedVersion) return E_FAIL;
      *pdwVersion = g_state.promptedVersion;
      return S_OK;
    });
  }
  STDMETHODIMP SetPromptedVersion(DWORD dwVersion) override {
    return Call([&]() -> HRESULT {
      Record(L"SetPromptedVersion(" + std::to_wstring(dwVersion) + L")");
      if (g_state.failSetPromptedVersion) return E_FAIL;
      g_state.promptedVersion = dwVersion;
      return S_OK;
    });
  }
};

class FakeAppControl final : public FakeObject<IHostAppControl> {
 public:
  STDMETHODIMP Trigger(LONG nAction) override {
    return Call([&]() -> HRESULT {
      Record(L"Trigger(" + std::to_wstring(nAction) + L")");
      return S_OK;
    });
  }
};

class FakeUpgradeHost final : public FakeObject<IUpgradeHost> {
 public:
  STDMETHODIMP CheckUpgrade(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP ManualUpgrade(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP PullUpgrade(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP ScheduledUpgrade(LONG nModuleType) override {
    return Call([&]() -> HRESULT {
      Record(L"ScheduledUpgrade(" + std::to_wstring(nModuleType) + L")");
      return S_OK;
    });
  }
  STDMETHODIMP RecommendUpgrade(BSTR, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP ForceUpgrade(BSTR) override { return E_NOTIMPL; }
};

class FakeProvider final : public FakeObject<IHostServiceProvider> {
 public:
  FakeProvider() { ++g_state.providersAlive; }
  ~FakeProvider() override { --g_state.providersAlive; }
  STDMETHODIMP CreateSettings(IUnknown** pp) override {
    *pp = nullptr;
    return Call([&]() -> HRESULT {
      Record(L"CreateSettings");
      if (g_state.failCreateSettings) return E_FAIL;
      return g_state.nullSettings ? S_OK : HandOut<FakeSettings>(pp);
    });
  }
  STDMETHODIMP CreateAppControl(IUnknown** pp) override {
    *pp = nullptr;
    return Call([&]() -> HRESULT {
      Record(L"CreateAppControl");
      if (g_state.failCreateAppControl) return E_FAIL;
      return HandOut<FakeAppControl>(pp);
    });
  }
  STDMETHODIMP CreateSkinWindow(IUnknown** pp) override {
    *pp = nullptr;
    return Call([&]() -> HRESULT {
      Record(L"CreateSkinWindow");
      return g_state.createSkinWindow ? g_state.createSkinWindow(pp) : E_NOTIMPL;
    });
  }
  STDMETHODIMP GetUpgradeHost(IUnknown** pp) override {
    *pp = nullptr;
    return Call([&]() -> HRESULT {
      Record(L"GetUpgradeHost");
      if (g_state.upgradeHost != nullptr) {
        *pp = g_state.upgradeHost;
        (*pp)->AddRef();
        return S_OK;
      }
      if (!g_state.offerFakeUpgradeHost) return E_FAIL;
      return HandOut<FakeUpgradeHost>(pp);
    });
  }
  STDMETHODIMP GetMainWindow(HWND* phWnd) override {
    *phWnd = nullptr;
    return Call([&]() -> HRESULT {
      Record(L"GetMainWindow");
      *phWnd = g_state.mainWindow;
      return S_OK;
    });
  }

 private:
  template <typename Object>
  static HRESULT HandOut(IUnknown** pp) {
    *pp = new (std::nothrow) Object();
    return *pp != nullptr ? S_OK : E_OUTOFMEMORY;
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
  // Called by COM inside CoCreateInstance: a failure is an HRESULT, never an exception.
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    FakeProvider* provider = new (std::nothrow) FakeProvider();
    if (provider == nullptr) return E_OUTOFMEMORY;
    ++g_state.providersCreated;
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
  const int alive = g_state.providersAlive;
  const HWND mainWindow = g_state.mainWindow;
  const auto observer = g_state.observer;
  g_state = FakeHostState();
  g_state.providersCreated = created;
  g_state.providersAlive = alive;
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
