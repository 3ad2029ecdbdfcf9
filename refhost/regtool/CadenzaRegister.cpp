// CadenzaRegister.exe: puts Cadenza_Upgrade.dll into the registry (or takes it out) from the
// registration scripts and type library the DLL carries, since the DLL's own entry points write
// nothing. Per user by default (HKCU\Software\Classes); /machine writes HKEY_CLASSES_ROOT.
//
//   CadenzaRegister.exe [/machine] [/unregister] PATH\Cadenza_Upgrade.dll
//
// Unregistering keeps what the other architecture's registration shares while that one is
// still registered, and is done (exit 0) when nothing was registered.
// Exit codes: 0 done; 1 usage; 2 the file is missing; 3 the file is not the component;
// 4 the registry refused a write (or COM could not be started).
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "res/Cadenza_Upgrade.h"
#include "res/component_ids.h"
#include "base/handles.h"

// The platform registrar (atl.dll) that applies .rgs scripts. Its interfaces are declared at
// namespace scope: inside an unnamed namespace the compiler may assume it sees every
// implementation of them and turn the calls into nothing.
const CLSID CLSID_Registrar = {0x44ec053a, 0x400f, 0x11d0, {0x9d, 0xcd, 0x00, 0xa0, 0xc9, 0x03, 0x91, 0xd3}};

struct IRegistrarBase : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR key, LPCOLESTR item) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearReplacements() = 0;
};
struct IRegistrar : public IRegistrarBase {
  virtual HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR file) = 0;
  virtual HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR file) = 0;
  virtual HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR file, UINT id, LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR file, UINT id, LPCOLESTR type) = 0;
};
__CRT_UUID_DECL(IRegistrar, 0x44ec053b, 0x400f, 0x11d0, 0x9d, 0xcd, 0x00, 0xa0, 0xc9, 0x03, 0x91, 0xd3)

namespace {

enum ExitCode { kDone = 0, kUsage = 1, kMissingFile = 2, kNotComponent = 3, kRegistryRefused = 4 };

constexpr wchar_t kUsageText[] =
    L"usage: CadenzaRegister.exe [/machine] [/unregister] PATH\\Cadenza_Upgrade.dll\n"
    L"  registers the UpgradeHost class, its AppID and its type library for the current user\n"
    L"  (HKCU\\Software\\Classes), or for the machine with /machine; /unregister removes them.\n";

void Print(const wchar_t* format, const std::wstring& argument, HRESULT hr = S_OK) {
  fwprintf(stderr, format, argument.c_str(), static_cast<unsigned>(hr));
  fflush(stderr);
}

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  }
  return n ? std::wstring(buffer.data(), n) : path;
}

// The component carries both scripts and a type library of Cadenza_UpgradeLib.
bool IsComponent(const std::wstring& path) {
  UniqueModule module(LoadLibraryExW(path.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module) return false;
  for (unsigned id : {kAppIdScriptId, kClassScriptId})
    if (!FindResourceW(module.get(), MAKEINTRESOURCEW(id), L"REGISTRY")) return false;
  Microsoft::WRL::ComPtr<ITypeLib> typeLib;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, typeLib.GetAddressOf()))) return false;
  TLIBATTR* attr = nullptr;
  if (FAILED(typeLib->GetLibAttr(&attr))) return false;
  bool ours = attr->guid == LIBID_Cadenza_UpgradeLib;
  typeLib->ReleaseTLibAttr(attr);
  return ours;
}

// While it lives, HKEY_CLASSES_ROOT of this process means HKCU\Software\Classes.
class PerUserClasses {
 public:
  PerUserClasses() {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key_, nullptr) == ERROR_SUCCESS)
      active_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, key_) == ERROR_SUCCESS;
  }
  ~PerUserClasses() {
    if (active_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    if (key_) RegCloseKey(key_);
  }
  bool active() const { return active_; }

 private:
  HKEY key_ = nullptr;
  bool active_ = false;
};

// The registry keeps the class key (CLSID\{...}) and the interface keys once per view, 64-bit
// and 32-bit; the ProgIDs, the AppID and the type library key (with one entry per system kind)
// are shared by both. So the other architecture's component is still registered when its view
// holds the class, and then only this view's keys and this system kind's type library entry go.
#ifdef _WIN64
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr wchar_t kSysKindKey[] = L"win64";
#else
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr wchar_t kSysKindKey[] = L"win32";
#endif
constexpr wchar_t kProgIdKey[] = L"Cadenza_Upgrade.UpgradeHost.1";
constexpr wchar_t kVersionIndependentProgIdKey[] = L"Cadenza_Upgrade.UpgradeHost";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  return StringFromGUID2(guid, text, 40) ? std::wstring(text) : std::wstring();
}
const std::wstring kClassKey = L"CLSID\\" + GuidText(CLSID_UpgradeHost);
const std::wstring kTypeLibKey = L"TypeLib\\" + GuidText(LIBID_Cadenza_UpgradeLib) + L"\\1.0";

bool ClassKeyExists(HKEY root, const std::wstring& subKey, REGSAM view = 0) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, (L"Software\\Classes\\" + subKey).c_str(), 0, KEY_READ | view, &key) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

struct RegistrationState {
  bool anything = false;        // any key of the component in this view or the shared ones
  bool otherArchitecture = false;  // the other view's class is registered
};

// The library path that the class key of a view names; empty when there is none.
std::wstring ServerPath(HKEY root, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, (L"Software\\Classes\\" + kClassKey + L"\\InprocServer32").c_str(), 0,
                    KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
    return std::wstring();
  wchar_t data[MAX_PATH * 2] = {};
  DWORD size = sizeof(data) - sizeof(wchar_t);
  const LSTATUS status = RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, data, &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::wstring(data) : std::wstring();
}

// root: HKEY_LOCAL_MACHINE for the machine, HKEY_CURRENT_USER per user. The other view names
// another library when the other architecture is registered; where the platform keeps one view
// only (Wine's per-user classes), it names this one.
RegistrationState ReadState(HKEY root, const std::wstring& path) {
  RegistrationState state;
  const std::wstring other = ServerPath(root, kOtherView);
  state.otherArchitecture = !other.empty() && _wcsicmp(other.c_str(), path.c_str()) != 0;
  state.anything = ClassKeyExists(root, kClassKey) || ClassKeyExists(root, kProgIdKey) ||
                   ClassKeyExists(root, kVersionIndependentProgIdKey) ||
                   ClassKeyExists(root, std::wstring(L"AppID\\") + kComponentAppId) ||
                   ClassKeyExists(root, kTypeLibKey + L"\\0\\" + kSysKindKey);
  return state;
}

// This view's class key and this system kind's type library entry (with this view's interface
// keys, which the platform removes with it); the shared keys stay for the other architecture.
HRESULT UnregisterThisView() {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
  HRESULT hr = UnRegisterTypeLib(LIBID_Cadenza_UpgradeLib, 1, 0, LOCALE_NEUTRAL, kSysKind);
  if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY || hr == E_INVALIDARG) hr = S_OK;
  return hr;
}

HRESULT Apply(const std::wstring& path, bool unregister) {
  Microsoft::WRL::ComPtr<IRegistrar> registrar;
  HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IRegistrar),
                                reinterpret_cast<void**>(registrar.GetAddressOf()));
  if (FAILED(hr)) return hr;
  if (FAILED(hr = registrar->AddReplacement(L"MODULE", path.c_str()))) return hr;
  if (FAILED(hr = registrar->AddReplacement(L"APPID", kComponentAppId))) return hr;
  for (unsigned id : {kAppIdScriptId, kClassScriptId}) {
    hr = unregister ? registrar->ResourceUnregister(path.c_str(), id, L"REGISTRY")
                    : registrar->ResourceRegister(path.c_str(), id, L"REGISTRY");
    if (FAILED(hr)) return hr;
  }
  if (unregister) {
    // The type library was registered for this build's system kind (its win32 or win64 key).
    hr = UnRegisterTypeLib(LIBID_Cadenza_UpgradeLib, 1, 0, LOCALE_NEUTRAL, kSysKind);
    // A type library that is not registered (its key cannot be opened) is already gone.
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY || hr == E_INVALIDARG) hr = S_OK;
    return hr;
  }
  Microsoft::WRL::ComPtr<ITypeLib> typeLib;
  if (FAILED(hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, typeLib.GetAddressOf()))) return hr;
  std::wstring pathCopy = path;
  return RegisterTypeLib(typeLib.Get(), pathCopy.data(), nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool machine = false, unregister = false;
  std::wstring file;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (_wcsicmp(arg.c_str(), L"/machine") == 0) {
      machine = true;
    } else if (_wcsicmp(arg.c_str(), L"/unregister") == 0 || _wcsicmp(arg.c_str(), L"/u") == 0) {
      unregister = true;
    } else if (file.empty() && !arg.empty() && arg[0] != L'/') {
      file = arg;
    } else {
      fwprintf(stderr, L"%ls", kUsageText);
      return kUsage;
    }
  }
  if (file.empty()) {
    fwprintf(stderr, L"%ls", kUsageText);
    return kUsage;
  }
  file = FullPath(file);
  DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Print(L"CadenzaRegister: %ls: no such file\n", file);
    return kMissingFile;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    Print(L"CadenzaRegister: %ls: COM could not be started\n", file);
    return kRegistryRefused;
  }
  int result = kDone;
  if (!IsComponent(file)) {
    Print(L"CadenzaRegister: %ls: not Cadenza_Upgrade.dll (no registration scripts or type library)\n", file);
    result = kNotComponent;
  } else {
    HRESULT hr = E_FAIL;
    const RegistrationState state = ReadState(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, file);
    // Unregistered already: nothing to remove, and nothing refused.
    const bool nothingToDo = unregister && !state.anything;
    auto run = [&] {
      if (!unregister) return Apply(file, false);
      return state.otherArchitecture ? UnregisterThisView() : Apply(file, true);
    };
    if (nothingToDo) {
      hr = S_OK;
    } else if (machine) {
      hr = run();
    } else {
      PerUserClasses perUser;
      hr = perUser.active() ? run() : E_ACCESSDENIED;
    }
    if (nothingToDo) {
      Print(L"CadenzaRegister: %ls: not registered; nothing to remove\n", file);
    } else if (FAILED(hr)) {
      Print(unregister ? L"CadenzaRegister: %ls: unregistration failed (HRESULT 0x%08X)\n"
                       : L"CadenzaRegister: %ls: the registry refused the registration (HRESULT 0x%08X)\n",
            file, hr);
      result = kRegistryRefused;
    } else {
      Print(!unregister ? L"CadenzaRegister: %ls: registered\n"
            : state.otherArchitecture
                ? L"CadenzaRegister: %ls: unregistered; the keys the other architecture's registration shares are kept\n"
                : L"CadenzaRegister: %ls: unregistered\n",
            file);
    }
  }
  CoUninitialize();
  return result;
}
