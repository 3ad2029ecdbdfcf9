// Shared pieces of the benchmark's runs.
#include "bench/bench_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/common/child_process.h"
#include "tests/common/test_files.h"

namespace bench {

namespace {

// Several lines of mixed text, long enough that the tips window folds it behind its link.
constexpr wchar_t kStoredDescription[] =
    L"新版本 5.1.301：播放更流畅，启动更快。\\n"
    L"- Gapless playback between tracks of one album\\n"
    L"- 修复了歌词窗口在高分屏上的显示问题\\n"
    L"- Faster library scan for large collections\\n"
    L"- 新增均衡器预设，并改进了音效设置\\n"
    L"- Many smaller fixes and translations";

// This process's entries in the system's handle table (NtQuerySystemInformation class 16), for
// platforms whose GetProcessHandleCount answers 0. Returns 0 when the table cannot be read.
DWORD HandlesInSystemTable() {
  struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
  };
  using QueryFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  std::vector<BYTE> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    LONG status = query(kSystemHandleInformation, buffer.data(),
                        static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch && buffer.size() < (1u << 28)) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0) return 0;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const size_t room = (buffer.size() - offsetof(HandleTable, entries)) / sizeof(HandleEntry);
    DWORD count = 0;
    for (size_t i = 0; i < table->count && i < room; ++i)
      count += table->entries[i].ownerPid == GetCurrentProcessId();
    return count;
  }
}

// GDI objects in use in the process's GDI handle table (the one the PEB points to), for
// platforms whose GetGuiResources answers 0. Wine keeps this table per process with 24-byte
// entries whose type byte (offset 14) is 0 when free. The reading is trusted only when the
// table is readable whole and counts a brush made and deleted here; else false.
bool GdiObjectsInSharedTable(DWORD& count) {
  constexpr size_t kEntries = 0x10000;
  constexpr size_t kEntrySize = 24;
  constexpr size_t kTypeOffset = 14;
  constexpr size_t kGdiTableInPeb = 0xF8;
  struct BasicInformation {
    LONG exitStatus;
    const BYTE* peb;
    ULONG_PTR affinity, basePriority, processId, parentProcessId;
  } basic = {};
  using QueryFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  if (query == nullptr || query(GetCurrentProcess(), 0 /* ProcessBasicInformation */, &basic,
                                sizeof basic, nullptr) < 0 || basic.peb == nullptr)
    return false;
  const BYTE* table = *reinterpret_cast<const BYTE* const*>(basic.peb + kGdiTableInPeb);
  if (table == nullptr) return false;
  for (size_t offset = 0; offset < kEntries * kEntrySize;) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(table + offset, &region, sizeof region) == 0 || region.State != MEM_COMMIT ||
        !(region.Protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY)))
      return false;
    offset = static_cast<size_t>(static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize -
                                 table);
  }
  auto inUse = [table] {
    DWORD n = 0;
    for (size_t i = 0; i < kEntries; ++i) n += table[i * kEntrySize + kTypeOffset] != 0;
    return n;
  };
  const DWORD before = inUse();
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  const DWORD with = inUse();
  DeleteObject(brush);
  const DWORD after = inUse();
  if (brush == nullptr || with != before + 1 || after != before) return false;
  count = after;
  return true;
}

BOOL CALLBACK CountChild(HWND, LPARAM count) {
  ++*reinterpret_cast<DWORD*>(count);
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM count) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId()) {
    ++*reinterpret_cast<DWORD*>(count);
    EnumChildWindows(window, CountChild, count);
  }
  return TRUE;
}

}  // namespace

bool ComponentClient::Load(const std::wstring& folder, std::string& error) {
  component_.emplace(folder + L"Cadenza_Upgrade.dll");
  if (!*component_) {
    error = "Cadenza_Upgrade.dll not loaded, error " + std::to_string(GetLastError());
    return false;
  }
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  if (component_->Export<GetClassObjectFn>("DllGetClassObject") == nullptr) {
    error = "DllGetClassObject not exported";
    return false;
  }
  HRESULT hr = component_->GetClassObject(CLSID_UpgradeHost, IID_IClassFactory,
                                          reinterpret_cast<void**>(factory_.GetAddressOf()));
  if (FAILED(hr)) {
    error = "DllGetClassObject failed";
    return false;
  }
  return true;
}

HRESULT ComponentClient::CreateHost(IUpgradeHost** ppHost) {
  if (!factory_) return E_UNEXPECTED;
  return factory_->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(ppHost));
}

// How many TLS indexes TlsAlloc still gives out: all of them taken, counted and given back.
DWORD FreeTlsIndexes() {
  std::vector<DWORD> taken;
  for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(index);
  for (DWORD index : taken) TlsFree(index);
  return static_cast<DWORD>(taken.size());
}

ResourceCounts ResourceCounts::Take() {
  ResourceCounts counts;
  if (!GetProcessHandleCount(GetCurrentProcess(), &counts.handles) || counts.handles == 0) {
    counts.handles = HandlesInSystemTable();
    counts.handlesFromTable = true;
  }
  SetLastError(ERROR_SUCCESS);
  counts.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  DWORD gdiError = GetLastError();
  counts.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  // Wine answers 0 with ERROR_CALL_NOT_IMPLEMENTED; a live process has at least one of each.
  counts.guiCounted = gdiError != ERROR_CALL_NOT_IMPLEMENTED &&
                      (counts.gdiObjects != 0 || counts.userObjects != 0);
  if (!counts.guiCounted) counts.gdiFromTable = GdiObjectsInSharedTable(counts.gdiObjects);
  EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&counts.windows));
  counts.freeTlsIndexes = FreeTlsIndexes();
  return counts;
}

bool ResourceCounts::SameAs(const ResourceCounts& other) const {
  return handles == other.handles && gdiObjects == other.gdiObjects &&
         gdiFromTable == other.gdiFromTable &&
         userObjects == other.userObjects && windows == other.windows &&
         freeTlsIndexes == other.freeTlsIndexes;
}

std::string CountsChange(const ResourceCounts& before, const ResourceCounts& after) {
  auto change = [](DWORD a, DWORD b) { return std::to_string(a) + " -> " + std::to_string(b); };
  std::string text = "handles " + change(before.handles, after.handles);
  if (before.handlesFromTable) text += " (system handle table)";
  text += ", windows " + change(before.windows, after.windows);
  text += ", free TLS indexes " + change(before.freeTlsIndexes, after.freeTlsIndexes);
  if (before.guiCounted) {
    text += ", GDI objects " + change(before.gdiObjects, after.gdiObjects) + ", USER objects " +
            change(before.userObjects, after.userObjects);
  } else if (before.gdiFromTable) {
    text += ", GDI objects " + change(before.gdiObjects, after.gdiObjects) +
            " (process GDI table), USER objects not counted by this platform";
  } else {
    text += ", GDI/USER objects not counted by this platform";
  }
  return text;
}

bool WriteRecord(const std::wstring& path, bool scheduled) {
  return WriteRecord(path, scheduled, kStoredDescription);
}

bool WriteRecord(const std::wstring& path, bool scheduled, const std::wstring& storedDescription) {
  std::wstring text = std::wstring(L"[") + kModuleType + L"]\r\n" +
      L"UpdateRecord_S_bScheduleInstallation=" + (scheduled ? L"1" : L"0") + L"\r\n" +
      L"UpdateRecord_S_bCrisisPack=0\r\n"
      L"UpdateRecord_S_strModuleType=" + kModuleType + L"\r\n" +
      L"UpdateRecord_S_dwVersion=" + std::to_wstring(kPackageVersion) + L"\r\n" +
      L"UpdateRecord_S_wPatchNum=1\r\n"
      L"UpdateRecord_S_wBuildNum=" + std::to_wstring(kPlayerBuild + 1) + L"\r\n" +
      L"UpdateRecord_S_strVersionName=5.1.301\r\n"
      L"UpdateRecord_S_strDescription=" + storedDescription + L"\r\n" +
      L"UpdateRecord_S_strZipFileName=Cadenza_5.1.301.zip\r\n"
      L"UpdateRecord_S_strExeFileName=Cadenza_Setup.exe\r\n"
      L"UpdateRecord_S_byarHash=00112233445566778899AABBCCDDEEFF\r\n"
      L"[CadenzaAddin]\r\n"
      L"UpdateRecord_S_bScheduleInstallation=0\r\n";
  return testing_support::WriteUnicodeText(path, text);
}

std::wstring RecordDescription() {
  std::wstring text = kStoredDescription;
  for (size_t pos = text.find(L"\\n"); pos != std::wstring::npos; pos = text.find(L"\\n", pos + 2))
    text.replace(pos, 2, L"\r\n");
  return text;
}

bool WriteValues(const std::wstring& path, const Values& values) {
  std::string text;
  for (const auto& [name, value] : values) text += name + "=" + value + "\n";
  return testing_support::WriteBytes(path, text);
}

Values ReadValues(const std::wstring& path) {
  Values values;
  const std::string text = testing_support::ReadBytes(path);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return values;
}

std::string PlatformName() {
  using WineVersionFn = const char*(CDECL*)();
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto wineVersion = reinterpret_cast<WineVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  if (wineVersion != nullptr) return std::string("Wine ") + wineVersion();
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&info);
#pragma GCC diagnostic pop
  return "Windows " + std::to_string(info.dwMajorVersion) + "." +
         std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
}

std::string Milliseconds(double us) {
  char text[32];
  snprintf(text, sizeof text, "%.3f", us / 1000.0);
  return text;
}

int FailChild(const std::wstring& resultPath, const std::string& error) {
  WriteValues(resultPath, Values{{"error", error}});
  return 1;
}

bool RunChild(const std::wstring& arguments, const std::wstring& resultPath, DWORD timeoutMs,
              const std::string& what, Values& figures, std::string& error) {
  testing_support::ChildOptions options;
  options.timeoutMs = timeoutMs;  // then the child is ended
  const ULONGLONG start = GetTickCount64();
  const DWORD exitCode = testing_support::RunThisProgram(arguments, options);
  if (exitCode == testing_support::kNoExitCode) {
    // No exit code: either it never started, or it ran out its time.
    error = "the " + what +
            (GetTickCount64() - start >= timeoutMs ? " run did not finish in time" : " run could not be started");
    return false;
  }
  figures = ReadValues(resultPath);
  if (figures.count("error")) {
    error = figures["error"];
    return false;
  }
  if (exitCode != 0 || figures.empty()) {
    error = "the " + what + " run failed (exit code " + std::to_string(exitCode) + ")";
    return false;
  }
  return true;
}

}  // namespace bench
