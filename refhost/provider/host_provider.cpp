// The reference host's service provider, its settings and application-control objects, and the
// class object through which the component creates the provider.
#include "refhost/provider/host_provider.h"

#include "base/com_object.h"
#include "refhost/host_call.h"
#include "refhost/skin/skin_window.h"

#include <shlobj.h>
#include <wchar.h>

#include <cerrno>
#include <new>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace refhost {
namespace {

constexpr wchar_t kProfileVariable[] = L"CADENZA_PROFILE";
constexpr wchar_t kProfileSubpath[] = L"Cadenza\\Cadenza.ini";

// Hands a newly made object (count 1) to an IUnknown** out-argument.
template <typename Object, typename... Args>
HRESULT HandOut(IUnknown** ppObject, Args&&... args) {
  if (ppObject == nullptr) return E_POINTER;
  *ppObject = nullptr;
  Object* object = new (std::nothrow) Object(std::forward<Args>(args)...);
  if (object == nullptr) return E_OUTOFMEMORY;
  *ppObject = object;  // the new object's one reference goes to the caller
  return S_OK;
}

HRESULT LastErrorResult() {
  DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// The settings live in the host's profile file and are read and written at every call, so
// that every settings object, in this process or another, sees the same values.
class Settings final : public ComObject<IHostSettings> {
 public:
  explicit Settings(std::wstring profilePath) : path_(std::move(profilePath)) {}

  HRESULT STDMETHODCALLTYPE GetPromptUpgrade(LONG* pbPrompt) override {
    if (pbPrompt == nullptr) return E_POINTER;
    return HostCall([&] { return ReadPromptUpgrade(pbPrompt); });
  }
  HRESULT STDMETHODCALLTYPE SetPromptUpgrade(LONG bPrompt) override {
    wchar_t text[16];
    swprintf(text, 16, L"%ld", static_cast<long>(bPrompt));
    return HostCall([&] { return Write(kPromptUpgradeKey, text); });
  }
  HRESULT STDMETHODCALLTYPE GetPromptedVersion(DWORD* pdwVersion) override {
    if (pdwVersion == nullptr) return E_POINTER;
    return HostCall([&] { return ReadPromptedVersion(pdwVersion); });
  }
  HRESULT STDMETHODCALLTYPE SetPromptedVersion(DWORD dwVersion) override {
    wchar_t text[16];
    swprintf(text, 16, L"%lu", static_cast<unsigned long>(dwVersion));
    return HostCall([&] { return Write(kPromptedVersionKey, text); });
  }

 private:
  HRESULT ReadPromptUpgrade(LONG* pbPrompt) const {
    std::wstring text = Read(kPromptUpgradeKey);
    wchar_t* end = nullptr;
    errno = 0;
    long value = text.empty() ? 0 : wcstol(text.c_str(), &end, 10);
    bool valid = !text.empty() && errno == 0 && *end == L'\0';
    *pbPrompt = valid ? static_cast<LONG>(value) : kDefaultPromptUpgrade;
    return S_OK;
  }
  HRESULT ReadPromptedVersion(DWORD* pdwVersion) const {
    std::wstring text = Read(kPromptedVersionKey);
    wchar_t* end = nullptr;
    errno = 0;
    // wcstoul would take "-1" as a huge number: only digits are a version.
    bool digits = !text.empty() && text[0] >= L'0' && text[0] <= L'9';
    unsigned long value = digits ? wcstoul(text.c_str(), &end, 10) : 0;
    bool valid = digits && errno == 0 && *end == L'\0' && value <= 0xFFFFFFFFul;
    *pdwVersion = valid ? static_cast<DWORD>(value) : kDefaultPromptedVersion;
    return S_OK;
  }

  // The stored text, or empty when the file or the key is missing (the default then applies).
  std::wstring Read(const wchar_t* key) const {
    if (path_.empty()) return std::wstring();
    wchar_t text[64] = {};
    GetPrivateProfileStringW(kUpgradeSection, key, L"", text, 64, path_.c_str());
    return text;
  }

  HRESULT Write(const wchar_t* key, const wchar_t* text) const {
    if (path_.empty()) return E_UNEXPECTED;
    size_t slash = path_.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 0) {
      std::wstring folder = path_.substr(0, slash);
      int created = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
      if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS &&
          created != ERROR_FILE_EXISTS) {
        return HRESULT_FROM_WIN32(created);
      }
    }
    if (!WritePrivateProfileStringW(kUpgradeSection, key, text, path_.c_str()))
      return LastErrorResult();
    return S_OK;
  }

  std::wstring path_;
};

// The reference host counts each Trigger, remembers its action and passes it to the host's
// handler, which decides what the action means (the component sends 1 once it has started the
// updater, which is when a player makes way for it).
class AppControl final : public ComObject<IHostAppControl> {
 public:
  explicit AppControl(std::shared_ptr<HostState> state) : state_(std::move(state)) {}

  HRESULT STDMETHODCALLTYPE Trigger(LONG nAction) override {
    ++state_->triggerCount;
    state_->lastTriggerAction = nAction;
    return HostCall([&]() -> HRESULT {
      if (state_->triggerHandler) state_->triggerHandler(nAction);
      return S_OK;
    });
  }

 private:
  std::shared_ptr<HostState> state_;
};

class ServiceProvider final : public ComObject<IHostServiceProvider> {
 public:
  explicit ServiceProvider(std::shared_ptr<HostState> state) : state_(std::move(state)) {}

  HRESULT STDMETHODCALLTYPE CreateSettings(IUnknown** ppSettings) override {
    if (ppSettings == nullptr) return E_POINTER;
    *ppSettings = nullptr;
    return HostCall([&] { return CreateHostSettings(state_->profilePath, ppSettings); });
  }
  HRESULT STDMETHODCALLTYPE CreateAppControl(IUnknown** ppAppControl) override {
    return HandOut<AppControl>(ppAppControl, state_);
  }
  HRESULT STDMETHODCALLTYPE CreateSkinWindow(IUnknown** ppSkinWindow) override {
    return FromSource(state_->skinWindowSource, ppSkinWindow);
  }
  HRESULT STDMETHODCALLTYPE GetUpgradeHost(IUnknown** ppUpgradeHost) override {
    return FromSource(state_->upgradeHostSource, ppUpgradeHost);
  }
  HRESULT STDMETHODCALLTYPE GetMainWindow(HWND* phWnd) override {
    if (phWnd == nullptr) return E_POINTER;
    *phWnd = state_->mainWindow;
    return S_OK;
  }

 private:
  static HRESULT FromSource(const ObjectSource& source, IUnknown** ppObject) {
    if (ppObject == nullptr) return E_POINTER;
    *ppObject = nullptr;
    if (!source) return E_NOTIMPL;
    return HostCall([&] { return source(ppObject); });
  }

  std::shared_ptr<HostState> state_;
};

class ProviderFactory final : public ComObject<IClassFactory> {
 public:
  explicit ProviderFactory(std::shared_ptr<HostState> state) : state_(std::move(state)) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    ServiceProvider* provider = new (std::nothrow) ServiceProvider(state_);
    if (provider == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
  }
  // The provider lives in the host's executable, which outlives every object it hands out.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  ~ProviderFactory() override = default;
  std::shared_ptr<HostState> state_;
};

std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return path;
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::vector<wchar_t> buffer(size);
  DWORD length = GetFullPathNameW(path.c_str(), size, buffer.data(), nullptr);
  if (length == 0 || length >= size) return path;
  return std::wstring(buffer.data(), length);
}

}  // namespace

ObjectSource ReferenceSkinWindows() {
  return [](IUnknown** ppObject) { return CreateSkinWindowObject(ppObject); };
}

ObjectSource KeepObject(IUnknown* object) {
  return [kept = ComPtr<IUnknown>(object)](IUnknown** ppObject) -> HRESULT {
    if (ppObject == nullptr) return E_POINTER;
    *ppObject = nullptr;
    if (!kept) return E_FAIL;
    return kept.CopyTo(ppObject);
  };
}

std::wstring DefaultProfilePath() {
  DWORD size = GetEnvironmentVariableW(kProfileVariable, nullptr, 0);
  if (size > 1) {
    std::vector<wchar_t> buffer(size);
    DWORD length = GetEnvironmentVariableW(kProfileVariable, buffer.data(), size);
    if (length > 0 && length < size) return FullPath(std::wstring(buffer.data(), length));
  }
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)) ||
      appData[0] == L'\0') {
    return std::wstring();
  }
  std::wstring path = appData;
  if (path.back() != L'\\') path += L'\\';
  return path + kProfileSubpath;
}

HRESULT CreateHostSettings(const std::wstring& profilePath, IUnknown** ppSettings) {
  // The path is copied into the new object, which may fail as the allocation may.
  return HostCall([&] { return HandOut<Settings>(ppSettings, profilePath); });
}

HostServices::HostServices(const std::wstring& profilePath)
    : state_(std::make_shared<HostState>()) {
  state_->profilePath = FullPath(profilePath);
  state_->skinWindowSource = ReferenceSkinWindows();
}

HostServices::~HostServices() {
  Revoke();
  // Objects still held by the component keep the state; what the host plugged in goes now.
  state_->skinWindowSource = nullptr;
  state_->upgradeHostSource = nullptr;
  state_->triggerHandler = nullptr;
  state_->mainWindow = nullptr;
}

HRESULT HostServices::Register() {
  if (cookie_ != 0) return S_FALSE;
  ProviderFactory* factory = new (std::nothrow) ProviderFactory(state_);
  if (factory == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = CoRegisterClassObject(CLSID_HostServiceProvider, factory, CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie_);
  factory->Release();  // COM keeps its own reference while registered
  if (FAILED(hr)) cookie_ = 0;
  return hr;
}

HRESULT HostServices::Revoke() {
  if (cookie_ == 0) return S_FALSE;
  HRESULT hr = CoRevokeClassObject(cookie_);
  cookie_ = 0;
  return hr;
}

HRESULT HostServices::CreateProvider(IHostServiceProvider** ppProvider) const {
  if (ppProvider == nullptr) return E_POINTER;
  *ppProvider = nullptr;
  ServiceProvider* provider = new (std::nothrow) ServiceProvider(state_);
  if (provider == nullptr) return E_OUTOFMEMORY;
  *ppProvider = provider;
  return S_OK;
}

}  // namespace refhost
