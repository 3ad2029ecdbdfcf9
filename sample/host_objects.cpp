// The host service provider and the objects it hands out: the settings (an INI file), the
// application control (Trigger), the skin window and the player's own UpgradeHost. The
// component creates the provider with CoCreateInstance(CLSID_HostServiceProvider) in each
// apartment that calls it, so the player registers the provider's class object in its process.
#include "sample.h"

// The GUID definitions of the component's interface and class, once in the program.
#include "Cadenza_Upgrade_i.c"

namespace {

const wchar_t kSection[] = L"Upgrade";
const wchar_t kPromptUpgradeKey[] = L"PromptUpgrade";
const wchar_t kPromptedVersionKey[] = L"PromptedVersion";

// An HRESULT for the last error of a failed call; never a success code.
HRESULT LastError() {
  const DWORD error = GetLastError();
  return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// IHostSettings: two values of the player's settings file. The component reads and writes them
// on every CheckUpgrade that finds a package, and the tips window writes PromptUpgrade when the
// user answers with the check box ticked.
class Settings final : public ComObject<IHostSettings> {
 public:
  Settings() : ComObject(IID_IHostSettings) {}

  HRESULT STDMETHODCALLTYPE GetPromptUpgrade(LONG* pbPrompt) override {
    if (pbPrompt == nullptr) return E_POINTER;
    DWORD value = 1;  // a new user is prompted
    HRESULT hr = Read(kPromptUpgradeKey, &value);
    *pbPrompt = value != 0 ? 1 : 0;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetPromptUpgrade(LONG bPrompt) override {
    return Write(kPromptUpgradeKey, bPrompt != 0 ? 1 : 0);
  }
  HRESULT STDMETHODCALLTYPE GetPromptedVersion(DWORD* pdwVersion) override {
    if (pdwVersion == nullptr) return E_POINTER;
    *pdwVersion = 0;
    return Read(kPromptedVersionKey, pdwVersion);
  }
  HRESULT STDMETHODCALLTYPE SetPromptedVersion(DWORD dwVersion) override {
    return Write(kPromptedVersionKey, dwVersion);
  }

 private:
  // A missing file or key keeps *value; a value that is not a decimal number is read as 0.
  static HRESULT Read(const wchar_t* key, DWORD* value) {
    wchar_t text[16] = L"";
    GetPrivateProfileStringW(kSection, key, L"", text, 16, g_player.profile);
    if (text[0] == L'\0') return S_OK;
    DWORD number = 0;
    for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) number = number * 10 + (*p - L'0');
    *value = number;
    return S_OK;
  }
  // A value the file did not take must not be reported as stored.
  static HRESULT Write(const wchar_t* key, DWORD value) {
    wchar_t text[16];
    wsprintfW(text, L"%lu", value);
    return WritePrivateProfileStringW(kSection, key, text, g_player.profile) ? S_OK : LastError();
  }
};

// IHostAppControl: Trigger(1) comes after a Yes to RecommendUpgrade and after the first
// ForceUpgrade: the updater may be running and wants the player's files. A real player would
// close its windows and exit here; the sample says so.
class AppControl final : public ComObject<IHostAppControl> {
 public:
  AppControl() : ComObject(IID_IHostAppControl) {}
  HRESULT STDMETHODCALLTYPE Trigger(LONG nAction) override {
    Say(L"host: Trigger(%ld): the player would now close so that the updater can replace it\n", nAction);
    return S_OK;
  }
};

// IHostServiceProvider: the component's way to every other host object. Only the five
// positions the component calls are implemented; host_services.h holds the others.
class ServiceProvider final : public ComObject<IHostServiceProvider> {
 public:
  ServiceProvider() : ComObject(IID_IHostServiceProvider) {}

  HRESULT STDMETHODCALLTYPE CreateSettings(IUnknown** ppSettings) override {
    return CreateSettingsObject(ppSettings);
  }
  HRESULT STDMETHODCALLTYPE CreateAppControl(IUnknown** ppAppControl) override {
    return HandOut<IHostAppControl>(new AppControl(), ppAppControl);
  }
  // A new object per call: the component makes the skin again after every answer.
  HRESULT STDMETHODCALLTYPE CreateSkinWindow(IUnknown** ppSkinWindow) override {
    return CreateSkinWindowObject(ppSkinWindow);
  }
  // The tips window's Install button calls ScheduledUpgrade(0) on this object.
  HRESULT STDMETHODCALLTYPE GetUpgradeHost(IUnknown** ppUpgradeHost) override {
    if (ppUpgradeHost == nullptr) return E_POINTER;
    *ppUpgradeHost = g_player.upgradeHost;
    if (g_player.upgradeHost == nullptr) return E_FAIL;
    g_player.upgradeHost->AddRef();
    return S_OK;
  }
  // The owner of the tips window: it stays above this window and goes when it is destroyed.
  HRESULT STDMETHODCALLTYPE GetMainWindow(HWND* phWnd) override {
    if (phWnd == nullptr) return E_POINTER;
    *phWnd = g_player.mainWindow;
    return g_player.mainWindow != nullptr ? S_OK : E_FAIL;
  }
};

// The provider's class object. It lives as long as the program, so its count owns nothing.
class ProviderFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // The checks in a fixed order: the out-pointer, then aggregation, then the object.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pOuter != nullptr) return CLASS_E_NOAGGREGATION;
    ServiceProvider* provider = new ServiceProvider();
    if (provider == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

ProviderFactory g_factory;
DWORD g_registration = 0;

}  // namespace

HRESULT CreateSettingsObject(IUnknown** ppSettings) {
  return HandOut<IHostSettings>(new Settings(), ppSettings);
}

// In-process registration, for this apartment: the component's CoCreateInstance finds it here
// and nowhere else. A player that calls the component from another apartment registers there too.
HRESULT RegisterHostServices() {
  return CoRegisterClassObject(CLSID_HostServiceProvider, &g_factory, CLSCTX_INPROC_SERVER,
                               REGCLS_MULTIPLEUSE, &g_registration);
}

void RevokeHostServices() {
  if (g_registration != 0) CoRevokeClassObject(g_registration);
  g_registration = 0;
}
