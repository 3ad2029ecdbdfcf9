// Loading and freeing the component again and again, as a host that creates the object only
// when an upgrade question comes up and lets COM free the library in between.
#include "bench/load_cycles.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "bench/window_wait.h"
#include "refhost/provider/host_provider.h"

namespace bench {
namespace {

constexpr DWORD kChildTimeoutMs = 300000;
constexpr int kWarmUpCycles = 20;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// Committed private memory of the process. Where the platform does not answer PrivateUsage
// (Wine gives 0), the address space is walked and its committed private regions added up.
SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters) &&
      counters.PrivateUsage != 0)
    return counters.PrivateUsage;
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region = {};
  for (const char* address = nullptr;
       VirtualQuery(address, &region, sizeof region) == sizeof region;
       address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (region.RegionSize == 0) break;
  }
  return total;
}

// One cycle: load, create, check, release, free. False when a step failed; unloaded tells
// whether the library was gone afterwards.
bool Cycle(const std::wstring& path, bool& unloaded) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) return false;
  bool ok = false;
  {
    auto get = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    Microsoft::WRL::ComPtr<IUpgradeHost> host;
    if (get != nullptr &&
        SUCCEEDED(get(CLSID_UpgradeHost, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()))) &&
        SUCCEEDED(factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf()))))
      ok = host->CheckUpgrade(0) == S_OK;
    DrainMessages();
  }
  FreeLibrary(module);
  unloaded = GetModuleHandleW(path.c_str()) == nullptr;
  return ok;
}

}  // namespace

int RunLoadCyclesChild(const std::wstring& resultPath, const std::wstring& profilePath,
                       const std::wstring& componentPath, int cycles) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return FailChild(resultPath, "CoInitializeEx failed");
  int exitCode = 0;
  {
    refhost::HostServices services(profilePath);
    if (FAILED(services.Register())) return FailChild(resultPath, "host provider not registered");
    bool unloaded = false;
    for (int i = 0; i < kWarmUpCycles; ++i)
      if (!Cycle(componentPath, unloaded)) return FailChild(resultPath, "a warm-up cycle failed");
    const ResourceCounts first = ResourceCounts::Take();
    const SIZE_T firstBytes = PrivateBytes();
    int unloads = 0;
    for (int i = 0; i < cycles; ++i) {
      if (!Cycle(componentPath, unloaded)) return FailChild(resultPath, "a cycle failed");
      unloads += unloaded ? 1 : 0;
    }
    const ResourceCounts last = ResourceCounts::Take();
    const SIZE_T lastBytes = PrivateBytes();
    // A few KiB of heap may move with the platform's own caches; per cycle it must not grow.
    const long long growth = static_cast<long long>(lastBytes) - static_cast<long long>(firstBytes);
    const bool bytesFlat = growth < 64 * 1024;
    Values figures{{"cycles", std::to_string(cycles)},
                   {"unloads", std::to_string(unloads)},
                   {"counts", CountsChange(first, last)},
                   {"same", first.SameAs(last) ? "1" : "0"},
                   {"private_kib_before", std::to_string(firstBytes / 1024)},
                   {"private_kib_after", std::to_string(lastBytes / 1024)},
                   {"bytes_flat", bytesFlat ? "1" : "0"}};
    if (!first.SameAs(last) || !bytesFlat) exitCode = 1;
    if (!WriteValues(resultPath, figures)) exitCode = 1;
  }
  CoUninitialize();
  return exitCode;
}

bool MeasureLoadCycles(const std::wstring& workFolder, bool withWindow, int cycles, Values& figures,
                       std::string& error) {
  const std::wstring tag = withWindow ? L"window" : L"plain";
  const std::wstring resultPath = workFolder + L"load_cycles_" + tag + L".txt";
  const std::wstring profilePath = workFolder + L"load_cycles_" + tag + L".ini";
  // A copy in a folder of its own: the skin engine keeps the installation's copy loaded.
  const std::wstring componentFolder = workFolder + L"component\\";
  const std::wstring componentPath = componentFolder + L"Cadenza_Upgrade.dll";
  CreateDirectoryW(componentFolder.c_str(), nullptr);
  if (!CopyFileW((ProgramFolder() + L"Cadenza_Upgrade.dll").c_str(), componentPath.c_str(), FALSE)) {
    error = "the component could not be copied";
    return false;
  }
  return RunChild(L"--load-cycles-child \"" + resultPath + L"\" \"" + profilePath + L"\" \"" +
                      componentPath + L"\" " + std::to_wstring(cycles),
                  resultPath, kChildTimeoutMs, "load-cycle", figures, error);
}

void PrintLoadCycles(bool withWindow, const Values& figures) {
  printf("    %s: %s cycles (%s of them unloaded the library): %s, private bytes %s -> %s KiB: %s\n",
         withWindow ? "with the tips window shown" : "no pending package",
         figures.at("cycles").c_str(), figures.at("unloads").c_str(), figures.at("counts").c_str(),
         figures.at("private_kib_before").c_str(), figures.at("private_kib_after").c_str(),
         figures.at("same") == "1" && figures.at("bytes_flat") == "1" ? "flat" : "GREW");
}

}  // namespace bench
