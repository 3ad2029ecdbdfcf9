// Module object, module guard, class factory and the four exports.
#include "server/module.h"

#include <new>

#include "adapters/common_libraries.h"
#include "base/runtime_release.h"
#include "base/thread_runtime.h"
#include "res/Cadenza_Upgrade.h"
#include "server/upgrade_host.h"

CCadenza_UpgradeModule g_Module;

CCadenza_UpgradeModule::CCadenza_UpgradeModule() = default;
CCadenza_UpgradeModule::~CCadenza_UpgradeModule() = default;

LONG CCadenza_UpgradeModule::Lock() { return InterlockedIncrement(&m_nLockCount); }
LONG CCadenza_UpgradeModule::Unlock() { return InterlockedDecrement(&m_nLockCount); }
LONG CCadenza_UpgradeModule::GetLockCount() const {
  return InterlockedCompareExchange(const_cast<volatile LONG*>(&m_nLockCount), 0, 0);
}

void CCadenza_UpgradeModule::Attach(HINSTANCE hInstance) {
  ACTCTXW context = {};
  context.cbSize = sizeof(context);
  context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.hModule = hInstance;
  context.lpResourceName = MAKEINTRESOURCEW(2);  // the manifest of an isolation-aware DLL
  m_hActCtx = CreateActCtxW(&context);
}

void CCadenza_UpgradeModule::Detach() {
  if (m_hActCtx != INVALID_HANDLE_VALUE) ReleaseActCtx(m_hActCtx);
  m_hActCtx = INVALID_HANDLE_VALUE;
}

ModuleGuard::ModuleGuard() noexcept {
  HANDLE context = g_Module.ActivationContext();
  if (context != INVALID_HANDLE_VALUE) m_active = ActivateActCtx(context, &m_cookie) != FALSE;
}

ModuleGuard::~ModuleGuard() {
  if (m_active) DeactivateActCtx(0, m_cookie);
}

namespace {

// The one class factory, kept for as long as the library is loaded.
class UpgradeHostFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
  STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_cRef); }  // static

  STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    return GuardedCall([&]() -> HRESULT {
      if (ppv == nullptr) return E_POINTER;
      *ppv = nullptr;
      // Aggregated, the object hands out only its inner unknown.
      if (pUnkOuter != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
      return CUpgradeHost::CreateInstance(pUnkOuter, riid, ppv);
    });
  }
  STDMETHODIMP LockServer(BOOL fLock) override {
    if (fLock)
      g_Module.Lock();
    else
      g_Module.Unlock();
    return S_OK;
  }

 private:
  volatile LONG m_cRef = 1;
};

UpgradeHostFactory g_factory;

}  // namespace

// Under the loader lock only the module handle, the activation context and the runtime's
// memory are dealt with: no window and no COM call. The tips window keeps the library loaded
// while it exists, so an unload never finds one; at process exit nothing of the component is
// torn down at all. Thread detaches come through too: the runtime's per-thread values of a
// thread that ends are freed then.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved) noexcept {
  if (dwReason == DLL_PROCESS_ATTACH) {
    g_Module.Attach(hInstance);
  } else if (dwReason == DLL_PROCESS_DETACH) {
    g_Module.Detach();
    if (lpReserved == nullptr) ReleaseRuntimeBuffers();  // FreeLibrary; at exit the heap goes anyway
  }
  CallThreadRuntimeDetach(dwReason, lpReserved);
  return TRUE;
}

// Not while objects, server locks or the tips window live: the window's procedure is this
// library's code. On S_OK the caller is about to free the library: the common libraries the
// component loaded itself are freed here, outside the loader lock (never from DllMain); a
// later call binds them again should the library stay.
STDAPI DllCanUnloadNow() noexcept {
  return GuardedCall([]() -> HRESULT {
    if (g_Module.GetLockCount() != 0) return S_FALSE;
    if (CUpgradeHost::ProcessResourcesInUse()) return S_FALSE;
    common_libraries::Release();
    return S_OK;
  });
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept {
  return CallBarrier(
      [&]() -> HRESULT {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (rclsid != CLSID_UpgradeHost) return CLASS_E_CLASSNOTAVAILABLE;
        return g_factory.QueryInterface(riid, ppv);
      },
      [](HRESULT hrFault) { return hrFault; });
}

// Registration data (scripts 101 and 103, the type library) are carried as resources for a
// registration tool; the library's own entry points write nothing.
STDAPI DllRegisterServer() noexcept { return S_OK; }
STDAPI DllUnregisterServer() noexcept { return S_OK; }
