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

using SetAllocationFaultFn = void (*)(LONG);
using AllocationFaultsInjectedFn = LONG (*)();

// One cycle: load, create, check, release, free. False when a step failed; unloaded tells
// whether the library was gone afterwards. With fault, the first allocation of CheckUpgrade
// fails: the library throws std::bad_alloc and must catch it itself.
bool Cycle(const std::wstring& path, bool fault, bool& unloaded) {
  testing_support::LoadedComponent component(path);
  if (!component) return false;
  bool ok = false;
  {
    auto setFault = component.Export<SetAllocationFaultFn>("SetAllocationFault");
    auto injected = component.Export<AllocationFaultsInjectedFn>("AllocationFaultsInjected");
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    Microsoft::WRL::ComPtr<IUpgradeHost> host;
    if ((!fault || (setFault != nullptr && injected != nullptr)) &&
        SUCCEEDED(component.GetClassObject(CLSID_UpgradeHost, IID_IClassFactory,
                                           reinterpret_cast<void**>(factory.GetAddressOf()))) &&
        SUCCEEDED(factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf())))) {
      if (fault) {
        setFault(1);
        // Whichever handler caught it (a barrier answers E_OUTOFMEMORY, a store treats the
        // failed read as no record), the call returns and one exception was thrown.
        const HRESULT hr = host->CheckUpgrade(0);
        ok = (hr == S_OK || hr == E_OUTOFMEMORY) && injected() == 1;
        setFault(0);
      } else {
        ok = host->CheckUpgrade(0) == S_OK;
      }
    }
    DrainMessages();
  }
  component.Free();
  unloaded = GetModuleHandleW(path.c_str()) == nullptr;
  return ok;
}

const wchar_t* Tag(LoadCycleKind kind) {
  switch (kind) {
    case LoadCycleKind::kWindow: return L"window";
    case LoadCycleKind::kFault: return L"fault";
    default: return L"plain";
  }
}

}  // namespace

int RunLoadCyclesChild(const std::wstring& resultPath, const std::wstring& profilePath,
                       const std::wstring& componentPath, int cycles, bool fault) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return FailChild(resultPath, "CoInitializeEx failed");
  int exitCode = 0;
  {
    refhost::HostServices services(profilePath);
    if (FAILED(services.Register())) return FailChild(resultPath, "host provider not registered");
    bool unloaded = false;
    for (int i = 0; i < kWarmUpCycles; ++i)
      if (!Cycle(componentPath, fault, unloaded)) return FailChild(resultPath, "a warm-up cycle failed");
    const ResourceCounts first = ResourceCounts::Take();
    const SIZE_T firstBytes = PrivateBytes();
    int unloads = 0;
    SIZE_T middleBytes = firstBytes;
    for (int i = 0; i < cycles; ++i) {
      if (!Cycle(componentPath, fault, unloaded)) return FailChild(resultPath, "a cycle failed");
      unloads += unloaded ? 1 : 0;
      if (i == cycles / 2) middleBytes = PrivateBytes();
    }
    const ResourceCounts last = ResourceCounts::Take();
    const SIZE_T lastBytes = PrivateBytes();
    // The heap may grow by a step once (a new segment of the platform's own caches, seen as
    // 64 KiB on 32-bit Wine); what grows per cycle grows in the second half of the run too.
    auto grown = [](SIZE_T from, SIZE_T to) {
      return static_cast<long long>(to) - static_cast<long long>(from);
    };
    const bool bytesFlat = grown(firstBytes, lastBytes) < 64 * 1024 ||
                           (grown(middleBytes, lastBytes) < 16 * 1024 &&
                            grown(firstBytes, lastBytes) <= 128 * 1024);
    Values figures{{"cycles", std::to_string(cycles)},
                   {"unloads", std::to_string(unloads)},
                   {"counts", CountsChange(first, last)},
                   {"same", first.SameAs(last) ? "1" : "0"},
                   {"private_kib_before", std::to_string(firstBytes / 1024)},
                   {"private_kib_after", std::to_string(lastBytes / 1024)},
                   {"bytes_flat", bytesFlat ? "1" : "0"}};
    if (!first.SameAs(last) || !bytesFlat) exitCode = 1;
    if (fault && unloads != cycles) exitCode = 1;  // every cycle must have unloaded what threw
    if (!WriteValues(resultPath, figures)) exitCode = 1;
  }
  CoUninitialize();
  return exitCode;
}

bool MeasureLoadCycles(const std::wstring& workFolder, LoadCycleKind kind, int cycles,
                       Values& figures, std::string& error) {
  const std::wstring tag = Tag(kind);
  const std::wstring resultPath = workFolder + L"load_cycles_" + tag + L".txt";
  const std::wstring profilePath = workFolder + L"load_cycles_" + tag + L".ini";
  // A copy in a folder of its own: the skin engine keeps the installation's copy loaded.
  const bool fault = kind == LoadCycleKind::kFault;
  const std::wstring library = fault ? L"Cadenza_Upgrade_faults.dll" : L"Cadenza_Upgrade.dll";
  const std::wstring componentFolder = workFolder + L"component\\";
  const std::wstring componentPath = componentFolder + library;
  CreateDirectoryW(componentFolder.c_str(), nullptr);
  if (!CopyFileW((GetModuleFolder() + library).c_str(), componentPath.c_str(), FALSE)) {
    error = "the component could not be copied";
    return false;
  }
  return RunChild(L"--load-cycles-child \"" + resultPath + L"\" \"" + profilePath + L"\" \"" +
                      componentPath + L"\" " + std::to_wstring(cycles) + (fault ? L" fault" : L""),
                  resultPath, kChildTimeoutMs, "load-cycle", figures, error);
}

void PrintLoadCycles(LoadCycleKind kind, const Values& figures) {
  const char* what = kind == LoadCycleKind::kWindow ? "with the tips window shown"
                     : kind == LoadCycleKind::kFault ? "an exception thrown and caught in each"
                                                     : "no pending package";
  printf("    %s: %s cycles (%s of them unloaded the library): %s, private bytes %s -> %s KiB: %s\n",
         what, figures.at("cycles").c_str(), figures.at("unloads").c_str(), figures.at("counts").c_str(),
         figures.at("private_kib_before").c_str(), figures.at("private_kib_after").c_str(),
         figures.at("same") == "1" && figures.at("bytes_flat") == "1" ? "flat" : "GREW");
}

}  // namespace bench
