// CadenzaRegister.exe: puts Cadenza_Upgrade.dll into the registry (or takes it out) from the
// registration scripts and type library the DLL carries, since the DLL's own entry points write
// nothing. Per user by default (HKCU\Software\Classes); /machine writes HKEY_CLASSES_ROOT.
//
//   CadenzaRegister.exe [/machine] [/unregister] PATH\Cadenza_Upgrade.dll
//
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
#include "store/handles.h"

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
#ifdef _WIN64
    constexpr SYSKIND kSysKind = SYS_WIN64;
#else
    constexpr SYSKIND kSysKind = SYS_WIN32;
#endif
    hr = UnRegisterTypeLib(LIBID_Cadenza_UpgradeLib, 1, 0, LOCALE_NEUTRAL, kSysKind);
    // A type library that is not registered is already gone.
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY) hr = S_OK;
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
    if (machine) {
      hr = Apply(file, unregister);
    } else {
      PerUserClasses perUser;
      hr = perUser.active() ? Apply(file, unregister) : E_ACCESSDENIED;
    }
    if (FAILED(hr)) {
      Print(unregister ? L"CadenzaRegister: %ls: unregistration failed (HRESULT 0x%08X)\n"
                       : L"CadenzaRegister: %ls: the registry refused the registration (HRESULT 0x%08X)\n",
            file, hr);
      result = kRegistryRefused;
    } else {
      Print(unregister ? L"CadenzaRegister: %ls: unregistered\n" : L"CadenzaRegister: %ls: registered\n",
            file);
    }
  }
  CoUninitialize();
  return result;
}
