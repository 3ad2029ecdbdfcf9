// What the benchmark's runs share: the component loaded as a client loads it, the process's
// resource counts, the update record it writes, and a small result file between processes.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <map>
#include <optional>
#include <string>

#include "base/folders.h"
#include "res/Cadenza_Upgrade.h"
#include "tests/common/component_loader.h"

namespace bench {

inline constexpr DWORD kAppVersion = 327681;  // player 5.1, as CADENZA_APP_VERSION gives it
inline constexpr WORD kPlayerBuild = 300;     // Cadenza.exe 5.1.300.0
inline constexpr DWORD kPackageVersion = kAppVersion + 1;
inline constexpr wchar_t kModuleType[] = L"Cadenza";

// Cadenza_Upgrade.dll from the program's folder (GetModuleFolder(), build\bin), through
// LoadLibrary and DllGetClassObject.
class ComponentClient {
 public:
  bool Load(const std::wstring& folder, std::string& error);
  HRESULT CreateHost(IUpgradeHost** ppHost);

 private:
  std::optional<testing_support::LoadedComponent> component_;  // kept loaded for the life of the process
  Microsoft::WRL::ComPtr<IClassFactory> factory_;
};

// What a leak would raise: kernel handles, GDI and USER objects, and this process's windows.
struct ResourceCounts {
  DWORD handles = 0;
  bool handlesFromTable = false;  // GetProcessHandleCount gave 0: counted in the handle table
  DWORD gdiObjects = 0;
  DWORD userObjects = 0;
  bool guiCounted = false;  // false: the platform does not count GDI/USER objects
  bool gdiFromTable = false;  // not counted by the platform: GDI objects read from its table
  DWORD windows = 0;        // top-level and child windows of this process
  DWORD freeTlsIndexes = 0;  // TLS indexes the process could still allocate

  static ResourceCounts Take();
  bool SameAs(const ResourceCounts& other) const;
};

// "handles 32 -> 32 (...), windows 0 -> 0, GDI objects ...": the counts before and after.
std::string CountsChange(const ResourceCounts& before, const ResourceCounts& after);

// The update record of the player module, as the updater writes it (UTF-16 with a mark).
// scheduled: UpdateRecord_S_bScheduleInstallation.
bool WriteRecord(const std::wstring& path, bool scheduled);
// The same with another description, as stored (a line break written as backslash, n).
bool WriteRecord(const std::wstring& path, bool scheduled, const std::wstring& storedDescription);
// The description that WriteRecord stores, as the component reads it back (with CR LF).
std::wstring RecordDescription();

// name=value lines.
using Values = std::map<std::string, std::string>;
bool WriteValues(const std::wstring& path, const Values& values);
Values ReadValues(const std::wstring& path);

// "12.345": microseconds as milliseconds with three decimals, for a result file.
std::string Milliseconds(double us);

// In a child run: writes the error for the parent to read and returns the failing exit code.
int FailChild(const std::wstring& resultPath, const std::string& error);
// In the parent: starts this program with `arguments` (after the program's own quoted path),
// waits at most timeoutMs and reads the child's figures from resultPath. False, with an error
// naming the run (`what`), when it could not start, did not finish, reported an error or
// failed; the figures it wrote are kept either way.
bool RunChild(const std::wstring& arguments, const std::wstring& resultPath, DWORD timeoutMs,
              const std::string& what, Values& figures, std::string& error);

// Platform version text: "Wine 8.0" under Wine, else the Windows version.
std::string PlatformName();

}  // namespace bench
