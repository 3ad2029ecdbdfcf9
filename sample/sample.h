// What the sample player's files share: the player's state, its console output, and the host
// objects the component asks for through the service provider.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "host_services.h"
#include "Cadenza_Upgrade.h"

// The player's state that its host objects hand out. One player per process.
struct PlayerState {
  HWND mainWindow;              // owner of the component's tips window
  IUpgradeHost* upgradeHost;    // the player's own UpgradeHost, handed out by GetUpgradeHost
  wchar_t profile[MAX_PATH];    // the settings file (an INI file)
};
extern PlayerState g_player;

// Prints one line to standard output (UTF-8), formatted by wvsprintfW (%ls, %ld, %lu, %08lX).
void Say(const wchar_t* format, ...);

// Every COM object of the sample: an interlocked count, IUnknown and one interface, and an
// allocation that answers NULL instead of throwing, so that a failed allocation becomes
// E_OUTOFMEMORY and no exception ever reaches the component or COM.
template <class Interface>
class ComObject : public Interface {
 public:
  explicit ComObject(const IID& iid) : m_iid(iid), m_refs(1) {}
  virtual ~ComObject() {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, m_iid)) return E_NOINTERFACE;
    *ppv = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return refs;
  }

  static void* operator new(size_t size) noexcept { return HeapAlloc(GetProcessHeap(), 0, size); }
  static void operator delete(void* p) noexcept { HeapFree(GetProcessHeap(), 0, p); }

 private:
  IID m_iid;
  LONG m_refs;
};

// Hands out a new object as the IUnknown** of a creating operation: S_OK, or E_OUTOFMEMORY.
template <class Interface>
HRESULT HandOut(ComObject<Interface>* object, IUnknown** ppOut) {
  if (ppOut == nullptr) {
    if (object != nullptr) object->Release();
    return E_POINTER;
  }
  *ppOut = object;  // the creation's reference goes to the caller
  return object != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The settings object over the INI file g_player.profile (host_objects.cpp).
HRESULT CreateSettingsObject(IUnknown** ppSettings);
// Registers the service provider's class object in this apartment; RevokeHostServices undoes it.
HRESULT RegisterHostServices();
void RevokeHostServices();
// A new skin window object (skin_window.cpp).
HRESULT CreateSkinWindowObject(IUnknown** ppSkinWindow);
