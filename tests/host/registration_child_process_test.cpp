// The registration tool, run as a child process against the built component: per-user keys
// written exactly from the carried scripts, the class creatable by ProgID, and all of it removed
// again; clear exit codes for a missing file and a file that is not the component.
#include <functional>

#include <gtest/gtest.h>

#include <wrl/client.h>

#include "base/folders.h"
#include "res/Cadenza_Upgrade.h"
#include "store/update_folders.h"
#include "tests/common/child_process.h"
#include "tests/common/test_files.h"

using namespace testing_support;

namespace {

constexpr wchar_t kClsidKey[] = L"CLSID\\{7BD3BA14-D00B-413D-BB01-AC0B17EBEA33}";
constexpr wchar_t kAppId[] = L"{D312BCC7-F7C9-46DA-941E-275C9E7D571C}";

// The registration tool's exit code (kNoExitCode when it did not start or end within a minute).
DWORD RunTool(const std::wstring& arguments) {
  return RunProgram(GetModuleFolder() + L"CadenzaRegister.exe", arguments);
}

// The default value (or a named value) of a key below HKCU\Software\Classes; "<none>" when absent.
std::wstring UserClassValue(const std::wstring& subKey, const wchar_t* name = nullptr) {
  wchar_t data[1024] = {};
  DWORD size = sizeof(data);
  LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + subKey).c_str(), name,
                                RRF_RT_REG_SZ, nullptr, data, &size);
  return status == ERROR_SUCCESS ? std::wstring(data) : L"<none>";
}

bool UserClassKeyExists(const std::wstring& subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + subKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// A component registers in the registry view of its architecture, where a host of the same
// architecture looks (a 32-bit one in the 32-bit view), and its type library under its system kind.
#ifdef _WIN64
constexpr REGSAM kOwnView = KEY_WOW64_64KEY, kOtherView = KEY_WOW64_32KEY;
constexpr wchar_t kTypeLibKind[] = L"TypeLib\\{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}\\1.0\\0\\win64";
#else
constexpr REGSAM kOwnView = KEY_WOW64_32KEY, kOtherView = KEY_WOW64_64KEY;
constexpr wchar_t kTypeLibKind[] = L"TypeLib\\{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}\\1.0\\0\\win32";
#endif

bool MachineClassKeyExists(const std::wstring& subKey, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + subKey).c_str(), 0, KEY_READ | view,
                    &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

TEST(RegistrationTool, RegistersPerUserAndUnregistersAgain) {
  const std::wstring dll = GetModuleFolder() + L"Cadenza_Upgrade.dll";
  ASSERT_EQ(0u, RunTool(L"\"" + dll + L"\""));

  EXPECT_EQ(L"UpgradeHost Class", UserClassValue(L"Cadenza_Upgrade.UpgradeHost.1"));
  EXPECT_EQ(L"{7BD3BA14-D00B-413D-BB01-AC0B17EBEA33}", UserClassValue(L"Cadenza_Upgrade.UpgradeHost.1\\CLSID"));
  EXPECT_EQ(L"UpgradeHost Class", UserClassValue(L"Cadenza_Upgrade.UpgradeHost"));
  EXPECT_EQ(L"{7BD3BA14-D00B-413D-BB01-AC0B17EBEA33}", UserClassValue(L"Cadenza_Upgrade.UpgradeHost\\CLSID"));
  EXPECT_EQ(L"Cadenza_Upgrade.UpgradeHost.1", UserClassValue(L"Cadenza_Upgrade.UpgradeHost\\CurVer"));
  const std::wstring cls = kClsidKey;
  EXPECT_EQ(L"UpgradeHost Class", UserClassValue(cls));
  EXPECT_EQ(kAppId, UserClassValue(cls, L"AppID"));
  EXPECT_EQ(L"Cadenza_Upgrade.UpgradeHost.1", UserClassValue(cls + L"\\ProgID"));
  EXPECT_EQ(L"Cadenza_Upgrade.UpgradeHost", UserClassValue(cls + L"\\VersionIndependentProgID"));
  EXPECT_TRUE(UserClassKeyExists(cls + L"\\Programmable"));
  EXPECT_EQ(0, _wcsicmp(dll.c_str(), UserClassValue(cls + L"\\InprocServer32").c_str()));
  EXPECT_EQ(L"Apartment", UserClassValue(cls + L"\\InprocServer32", L"ThreadingModel"));
  EXPECT_EQ(L"{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}", UserClassValue(cls + L"\\TypeLib"));
  EXPECT_EQ(L"Cadenza_Upgrade", UserClassValue(std::wstring(L"AppID\\") + kAppId));
  EXPECT_EQ(kAppId, UserClassValue(L"AppID\\Cadenza_Upgrade.DLL", L"AppID"));
  EXPECT_TRUE(UserClassKeyExists(L"TypeLib\\{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}\\1.0"));

  ASSERT_EQ(0u, RunTool(L"/unregister \"" + dll + L"\""));
  EXPECT_FALSE(UserClassKeyExists(cls));
  EXPECT_FALSE(UserClassKeyExists(L"Cadenza_Upgrade.UpgradeHost"));
  EXPECT_FALSE(UserClassKeyExists(L"Cadenza_Upgrade.UpgradeHost.1"));
  EXPECT_FALSE(UserClassKeyExists(std::wstring(L"AppID\\") + kAppId));
  EXPECT_FALSE(UserClassKeyExists(L"AppID\\Cadenza_Upgrade.DLL"));
  EXPECT_FALSE(UserClassKeyExists(L"TypeLib\\{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}"));
  EXPECT_TRUE(UserClassKeyExists(L"CLSID"));  // kept: not ours alone
  EXPECT_TRUE(UserClassKeyExists(L"AppID"));
}

// For the machine the same scripts go to HKEY_CLASSES_ROOT, where COM finds the class by its
// ProgID. (Wine does not merge HKCU\Software\Classes into HKEY_CLASSES_ROOT, so only a machine
// registration is visible to COM in a Wine prefix; on Windows a per-user one is as well.)
TEST(RegistrationTool, RegistersForTheMachineAndCOMCreatesTheClass) {
  const std::wstring dll = GetModuleFolder() + L"Cadenza_Upgrade.dll";
  ASSERT_EQ(0u, RunTool(L"/machine \"" + dll + L"\""));
  struct Unregister {
    std::wstring dll;
    ~Unregister() { RunTool(L"/machine /unregister \"" + dll + L"\""); }
  } unregisterAtEnd{dll};
  EXPECT_TRUE(MachineClassKeyExists(std::wstring(kClsidKey) + L"\\InprocServer32", kOwnView));
  EXPECT_FALSE(MachineClassKeyExists(kClsidKey, kOtherView));
  EXPECT_TRUE(MachineClassKeyExists(kTypeLibKind, kOwnView));

  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    CLSID clsid = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Cadenza_Upgrade.UpgradeHost", &clsid));
    EXPECT_EQ(CLSID_UpgradeHost, clsid);
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Cadenza_Upgrade.UpgradeHost.1", &clsid));
    Microsoft::WRL::ComPtr<IUpgradeHost> host;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUpgradeHost,
                                     reinterpret_cast<void**>(host.GetAddressOf())));
    Microsoft::WRL::ComPtr<ITypeLib> typeLib;
    EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_Cadenza_UpgradeLib, 1, 0, LOCALE_NEUTRAL, typeLib.GetAddressOf()));
  }
  CoUninitialize();

  EXPECT_EQ(0u, RunTool(L"/machine /unregister \"" + dll + L"\""));
  EXPECT_FALSE(MachineClassKeyExists(kTypeLibKind, kOwnView));
  HKEY key = nullptr;
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, kClsidKey, 0, KEY_READ, &key));
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Cadenza_Upgrade.UpgradeHost", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &key));  // kept
  RegCloseKey(key);
}

TEST(RegistrationTool, RefusesWhatItCannotRegister) {
  TempFolder folder;
  EXPECT_EQ(1u, RunTool(L""));
  EXPECT_EQ(2u, RunTool(L"\"" + (folder / L"Cadenza_Upgrade.dll") + L"\""));
  const std::wstring stranger = folder / L"Other.dll";
  ASSERT_TRUE(CopyFileW((GetModuleFolder() + L"CadenzaUpdate.exe").c_str(), stranger.c_str(), FALSE));
  EXPECT_EQ(3u, RunTool(L"\"" + stranger + L"\""));
  ASSERT_TRUE(WriteBytes(folder / L"garbage.dll", std::string(4096, '\x5A')));
  EXPECT_EQ(3u, RunTool(L"\"" + (folder / L"garbage.dll") + L"\""));
  EXPECT_FALSE(UserClassKeyExists(kClsidKey));
}

// The ProgIDs, the AppID and the type library key are shared by the 64-bit and 32-bit views:
// while the other architecture's component is registered (its view holds the class; here
// written by hand, as its tool would), unregistering this one takes only this view's class and
// this system kind's type library entry. The last one to go takes everything, and unregistering
// what is not registered is no refused write.
TEST(RegistrationTool, UnregisteringOneArchitectureKeepsWhatTheOtherUses) {
  const std::wstring dll = GetModuleFolder() + L"Cadenza_Upgrade.dll";
  const std::wstring otherClass = std::wstring(L"Software\\Classes\\") + kClsidKey + L"\\InprocServer32";
#ifdef _WIN64
  const std::wstring otherKind = L"Software\\Classes\\TypeLib\\{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}\\1.0\\0\\win32";
#else
  const std::wstring otherKind = L"Software\\Classes\\TypeLib\\{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}\\1.0\\0\\win64";
#endif
  auto createOther = [&](const std::wstring& subKey) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0,
                                             KEY_WRITE | kOtherView, nullptr, &key, nullptr));
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"C:\\other\\Cadenza_Upgrade.dll"), 60);
    RegCloseKey(key);
  };
  auto removeOther = [&] {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, otherClass.c_str(), kOtherView, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\") + kClsidKey).c_str(), kOtherView, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, otherKind.c_str(), kOtherView, 0);
  };
  struct Cleanup {
    std::function<void()> run;
    ~Cleanup() { run(); }
  } cleanup{[&] {
    removeOther();
    RunTool(L"/machine /unregister \"" + dll + L"\"");
  }};
  const std::wstring appIdKey = std::wstring(L"AppID\\") + kAppId;

  EXPECT_EQ(0u, RunTool(L"/machine /unregister \"" + dll + L"\"")) << "nothing registered";
  ASSERT_EQ(0u, RunTool(L"/machine \"" + dll + L"\""));
  createOther(otherClass);
  createOther(otherKind);

  EXPECT_EQ(0u, RunTool(L"/machine /unregister \"" + dll + L"\""));
  EXPECT_FALSE(MachineClassKeyExists(kClsidKey, kOwnView));
  EXPECT_FALSE(MachineClassKeyExists(kTypeLibKind, kOwnView));
  EXPECT_TRUE(MachineClassKeyExists(std::wstring(kClsidKey) + L"\\InprocServer32", kOtherView));
  for (const std::wstring& shared : {std::wstring(L"Cadenza_Upgrade.UpgradeHost"),
                                     std::wstring(L"Cadenza_Upgrade.UpgradeHost.1"), appIdKey,
                                     std::wstring(L"AppID\\Cadenza_Upgrade.DLL"), otherKind.substr(17)})
    EXPECT_TRUE(MachineClassKeyExists(shared, kOwnView)) << Narrow(shared) << " was removed";

  // Registered again, and now the last one: everything goes.
  ASSERT_EQ(0u, RunTool(L"/machine \"" + dll + L"\""));
  removeOther();
  EXPECT_EQ(0u, RunTool(L"/machine /unregister \"" + dll + L"\""));
  for (const std::wstring& gone : {std::wstring(kClsidKey), std::wstring(L"Cadenza_Upgrade.UpgradeHost"),
                                   std::wstring(L"Cadenza_Upgrade.UpgradeHost.1"), appIdKey,
                                   std::wstring(L"TypeLib\\{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}")})
    EXPECT_FALSE(MachineClassKeyExists(gone, kOwnView)) << Narrow(gone) << " was left";
}
