// cadenza_bench: what the component's record lookups cost beside the platform calls they
// cannot avoid, whether many checks leave the process's handles and objects where they were,
// and how long the tips window takes to come up the first time beside the calls that a first
// show cannot avoid.
//
//   cadenza_bench [--calls N] [--leak-calls N] [--first-show-runs N] [--shown-calls N]
//                 [--fold-rounds N] [--load-cycles N] [--require-target] [--smoke]
//
// Run from build\bin (beside Cadenza_Upgrade.dll, Cadenza.exe and CadenzaUpdate.exe), under
// Xvfb for the tips window. Exit code 0 when every result was right; with --require-target,
// also only when each lookup stayed within 1.5 times its floor, the first show within 1.2 times
// its floor, and the tips window came up for a 1,000,000-character description within 1.5
// times what a 100-character one takes.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/folders.h"
#include "bench/bench_clock.h"
#include "bench/bench_support.h"
#include "bench/first_show.h"
#include "bench/load_cycles.h"
#include "bench/fold_curve.h"
#include "bench/platform_floor.h"
#include "launch/update_commands.h"
#include "store/update_folders.h"
#include "tests/common/test_files.h"

using Microsoft::WRL::ComPtr;
using namespace bench;

namespace {

constexpr double kTargetRatio = 1.5;
constexpr double kFirstShowTargetRatio = 1.2;
constexpr int kMostWarmUpCalls = 100;

struct Options {
  int calls = 2000;
  int leakCalls = 10000;
  int firstShowRuns = 15;
  int shownCalls = 1000;
  int loadCycles = 1000;
  int foldRounds = 5;
  bool requireTarget = false;
};

// Keeps whatever the installation's update data folder held before the run, and puts it back.
class UpdateFolderGuard {
 public:
  explicit UpdateFolderGuard(const std::wstring& folder)
      : folder_(folder), record_(folder + L"CadenzaUpdate.ini") {
    existed_ = testing_support::FolderExists(folder_);
    hadRecord_ = testing_support::FileExists(record_);
    if (hadRecord_) bytes_ = testing_support::ReadBytes(record_);
  }
  ~UpdateFolderGuard() {
    if (!existed_) {
      testing_support::RemoveTree(folder_);
    } else if (hadRecord_) {
      testing_support::WriteBytes(record_, bytes_);
    } else {
      DeleteFileW(record_.c_str());
    }
  }
  UpdateFolderGuard(const UpdateFolderGuard&) = delete;
  UpdateFolderGuard& operator=(const UpdateFolderGuard&) = delete;

 private:
  std::wstring folder_, record_;
  bool existed_ = false, hadRecord_ = false;
  std::string bytes_;
};

// A lookup measured beside its floor, in alternating blocks of calls (the floor's CryptoAPI
// context is held only during its own blocks).
struct Comparison {
  Samples path;
  Samples floor;
  Samples parts[kFloorPartCount];
  bool ok = true;
};

// Calls made before measuring: as many as measured, up to kMostWarmUpCalls.
int WarmUpCalls(int calls) { return std::min(calls, kMostWarmUpCalls); }

template <typename Path>
Comparison Compare(int calls, PlatformFloor& floor, Path path) {
  constexpr int kBlock = 50;
  Comparison result;
  result.path.Reserve(static_cast<size_t>(calls));
  result.floor.Reserve(static_cast<size_t>(calls));
  auto pathBlock = [&](int n, bool measured) {
    for (int i = 0; i < n; ++i) {
      const double t = NowMicroseconds();
      const bool ok = path();
      const double us = NowMicroseconds() - t;
      result.ok = ok && result.ok;
      if (measured) result.path.Add(us);
    }
  };
  auto floorBlock = [&](int n, bool measured) {
    result.ok = floor.BeginBlock() && result.ok;
    for (int i = 0; i < n; ++i) {
      const double t = NowMicroseconds();
      const bool ok = floor.Run(measured ? result.parts : nullptr);
      const double us = NowMicroseconds() - t;
      result.ok = ok && result.ok;
      if (measured) result.floor.Add(us);
    }
    floor.EndBlock();
  };
  pathBlock(WarmUpCalls(calls), false);
  floorBlock(WarmUpCalls(calls), false);
  for (int done = 0, block = 0; done < calls; done += kBlock, ++block) {
    const int n = std::min(kBlock, calls - done);
    if (block % 2 == 0) {
      pathBlock(n, true);
      floorBlock(n, true);
    } else {
      floorBlock(n, true);
      pathBlock(n, true);
    }
  }
  return result;
}

// One line per lookup, then its floor's parts. True when it met the target.
bool Report(const char* name, const Comparison& c, const PlatformFloor& floor) {
  const double ratio = c.path.Median() / c.floor.Median();
  const bool met = ratio <= kTargetRatio;
  printf("%-40s %10.1f %10.1f %7.2f   %s\n", name, c.path.Median(), c.floor.Median(), ratio,
         met ? "met" : "NOT MET");
  printf("    floor parts (median us):");
  for (int part = 0; part < kFloorPartCount; ++part) {
    printf(" %s %.1f%s", FloorPartName(static_cast<FloorPart>(part)), c.parts[part].Median(),
           part + 1 < kFloorPartCount ? "," : "\n");
  }
  printf("    (%zu folders probed; %zu integer and %zu string reads;"
         " 10%%/90%% of calls: path %.1f/%.1f us, floor %.1f/%.1f us)\n",
         floor.ProbeCount(), floor.IntReads(), floor.StringReads(), c.path.Quantile(0.1),
         c.path.Quantile(0.9), c.floor.Quantile(0.1), c.floor.Quantile(0.9));
  return met;
}

double Median(const std::vector<Values>& runs, const char* name) {
  Samples samples;
  for (const Values& run : runs) {
    auto it = run.find(name);
    if (it != run.end()) samples.Add(atof(it->second.c_str()));
  }
  return samples.Median();
}

double Extreme(const std::vector<Values>& runs, const char* name, bool largest) {
  double value = 0;
  bool first = true;
  for (const Values& run : runs) {
    auto it = run.find(name);
    if (it == run.end()) continue;
    double v = atof(it->second.c_str());
    if (first || (largest ? v > value : v < value)) value = v;
    first = false;
  }
  return value;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto number = [&](int& target) {
      if (i + 1 >= argc) return false;
      target = _wtoi(argv[++i]);
      return target >= 0;
    };
    if (arg == L"--calls") {
      if (!number(options.calls) || options.calls == 0) return false;
    } else if (arg == L"--leak-calls") {
      if (!number(options.leakCalls)) return false;
    } else if (arg == L"--first-show-runs") {
      if (!number(options.firstShowRuns)) return false;
    } else if (arg == L"--shown-calls") {
      if (!number(options.shownCalls)) return false;
    } else if (arg == L"--load-cycles") {
      if (!number(options.loadCycles)) return false;
    } else if (arg == L"--fold-rounds") {
      if (!number(options.foldRounds)) return false;
    } else if (arg == L"--require-target") {
      options.requireTarget = true;
    } else if (arg == L"--smoke") {  // a quick run that only proves every part still works
      options.calls = 50;
      options.leakCalls = 200;
      options.firstShowRuns = 1;
      options.shownCalls = 20;
      options.loadCycles = 30;
      options.foldRounds = 1;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 6 && std::wstring(argv[1]) == L"--first-show-child")
    return RunFirstShowChild(argv[2], argv[3], argv[4], _wtoi(argv[5]));
  if (argc == 5 && std::wstring(argv[1]) == L"--first-show-floor-child")
    return RunFirstShowFloorChild(argv[2], argv[3], argv[4]);
  if ((argc == 6 || argc == 7) && std::wstring(argv[1]) == L"--load-cycles-child")
    return RunLoadCyclesChild(argv[2], argv[3], argv[4], _wtoi(argv[5]),
                              argc == 7 && std::wstring(argv[6]) == L"fault");
  if (argc == 6 && std::wstring(argv[1]) == L"--fold-child")
    return RunFoldCurveChild(argv[2], argv[3], argv[4], _wtoi(argv[5]));

  Options options;
  if (!ParseOptions(argc, argv, options)) {
    fprintf(stderr,
            "usage: cadenza_bench [--calls N] [--leak-calls N] [--first-show-runs N]"
            " [--shown-calls N] [--fold-rounds N] [--load-cycles N] [--require-target] [--smoke]\n");
    return 2;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);

  const std::wstring bin = GetModuleFolder();
  const std::wstring updater = bin + L"CadenzaUpdate.exe";
  testing_support::TempFolder work;
  SetEnvironmentVariableW(L"CADENZA_APP_VERSION", std::to_wstring(kAppVersion).c_str());
  SetEnvironmentVariableW(L"CADENZA_LOG_FOLDER", work.path().c_str());

  const std::wstring folder = GetUpdateDataFolder(updater.c_str());
  UpdateFolderGuard keepFolder(folder);
  CreateFolderPath(folder);
  const std::wstring record = folder + L"CadenzaUpdate.ini";

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    fprintf(stderr, "CoInitializeEx failed\n");
    return 1;
  }
  bool allRight = true;
  bool targetsMet = true;
  {
    ComponentClient client;
    std::string error;
    ComPtr<IUpgradeHost> host;
    if (!client.Load(bin, error) || FAILED(client.CreateHost(host.GetAddressOf()))) {
      fprintf(stderr, "component: %s\n", error.empty() ? "UpgradeHost not created" : error.c_str());
      return 1;
    }

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    printf("cadenza_bench on %s, %lu processors; median of %d calls after %d warm-up calls\n\n",
           PlatformName().c_str(), system.dwNumberOfProcessors, options.calls,
           WarmUpCalls(options.calls));
    printf("%-40s %10s %10s %7s   target <= %.1fx floor\n", "", "median us", "floor us", "ratio",
           kTargetRatio);
    {
      Samples open, acquire;
      for (int i = 0; i < WarmUpCalls(options.calls); ++i) {
        open.Add(OpenAlgorithmMicroseconds());
        acquire.Add(AcquireContextMicroseconds());
      }
      printf("(the floor's MD5 hashes with the algorithm opened beforehand; opening and closing"
             " it costs %.1f us here, acquiring and releasing a CryptoAPI context %.1f us)\n",
             open.Median(), acquire.Median());
    }

    // CheckUpgrade when the updater's record schedules nothing: the host's everyday call.
    if (!WriteRecord(record, false)) {
      fprintf(stderr, "the update record could not be written\n");
      return 1;
    }
    const std::string recordBytes = testing_support::ReadBytes(record);
    PlatformFloor checkFloor(bin, kModuleType,
                             {{ProfileRead::Int, L"UpdateRecord_S_bScheduleInstallation"}});
    Comparison check = Compare(options.calls, checkFloor, [&] {
      return host->CheckUpgrade(0) == S_OK;
    });
    check.ok = check.ok && checkFloor.RecordPath() == record && checkFloor.LastValues()[0] == L"0" &&
               testing_support::ReadBytes(record) == recordBytes;
    targetsMet = Report("CheckUpgrade(0), no pending package", check, checkFloor) && targetsMet;
    if (!check.ok) {
      printf("    WRONG: a call failed, or the floor read another record\n");
      allRight = false;
    }

    // QueryPendingInstall when a newer package waits: the whole record is read.
    if (!WriteRecord(record, true)) {
      fprintf(stderr, "the update record could not be written\n");
      return 1;
    }
    PlatformFloor queryFloor(bin, kModuleType,
                             {{ProfileRead::Int, L"UpdateRecord_S_bScheduleInstallation"},
                              {ProfileRead::Int, L"UpdateRecord_S_bCrisisPack"},
                              {ProfileRead::Int, L"UpdateRecord_S_dwVersion"},
                              {ProfileRead::Int, L"UpdateRecord_S_wPatchNum"},
                              {ProfileRead::Int, L"UpdateRecord_S_wBuildNum"},
                              {ProfileRead::Int, L"UpdateRecord_S_bCrisisPack"},
                              {ProfileRead::String, L"UpdateRecord_S_strModuleType"},
                              {ProfileRead::Int, L"UpdateRecord_S_dwVersion"},
                              {ProfileRead::Int, L"UpdateRecord_S_wPatchNum"},
                              {ProfileRead::Int, L"UpdateRecord_S_wBuildNum"},
                              {ProfileRead::String, L"UpdateRecord_S_strVersionName"},
                              {ProfileRead::String, L"UpdateRecord_S_strDescription"},
                              {ProfileRead::String, L"UpdateRecord_S_strZipFileName"},
                              {ProfileRead::String, L"UpdateRecord_S_strExeFileName"},
                              {ProfileRead::String, L"UpdateRecord_S_byarHash"}});
    const std::wstring expectedDescription = RecordDescription();
    Comparison query = Compare(options.calls, queryFloor, [&] {
      BOOL available = FALSE;
      std::wstring description;
      DWORD version = 0;
      const HRESULT hr = QueryPendingInstall(kModuleType, kAppVersion, updater.c_str(),
                                             kPlayerBuild, available, description, version);
      return hr == S_OK && available && version == kPackageVersion &&
             description == expectedDescription;
    });
    query.ok = query.ok && queryFloor.LastValues()[0] == L"1" &&
               queryFloor.LastValues()[2] == std::to_wstring(kPackageVersion);
    targetsMet = Report("QueryPendingInstall, pending package", query, queryFloor) && targetsMet;
    if (!query.ok) {
      printf("    WRONG: a call did not find the package, or the floor read another record\n");
      allRight = false;
    }

    // Many checks with nothing pending must leave no handle or object behind.
    if (options.leakCalls > 0) {
      if (!WriteRecord(record, false)) return 1;
      for (int i = 0; i < WarmUpCalls(options.calls); ++i) host->CheckUpgrade(0);
      const ResourceCounts before = ResourceCounts::Take();
      bool callsOk = true;
      for (int i = 0; i < options.leakCalls; ++i) callsOk = host->CheckUpgrade(0) == S_OK && callsOk;
      const ResourceCounts after = ResourceCounts::Take();
      const bool same = before.SameAs(after);
      printf("\nafter %d CheckUpgrade calls (no pending package): %s: %s\n", options.leakCalls,
             CountsChange(before, after).c_str(), same && callsOk ? "unchanged" : "CHANGED");
      allRight = allRight && same && callsOk;
    }
  }
  CoUninitialize();

  // The first show of the tips window, each in a process of its own, alternating with its
  // floor in processes of the same shape (the floor shows the text the first show folded).
  if (options.firstShowRuns > 0) {
    if (!WriteRecord(record, true)) return 1;
    std::vector<Values> runs, floors;
    for (int run = 0; run < options.firstShowRuns && allRight; ++run) {
      for (int half = 0; half < 2; ++half) {
        // Which goes first alternates too, after the first pair (whose first show must come
        // first: the floor takes its folded text).
        const bool floor = (half == 1) == (run % 2 == 0);
        Values figures;
        std::string error;
        // The first run also keeps the window up for further checks, for leaks on that path.
        const bool measured =
            floor ? MeasureFirstShowFloor(work.path(), run, figures, error)
                  : MeasureFirstShow(work.path(), run, run == 0 ? options.shownCalls : 0, figures, error);
        if (!measured) {
          printf("\ntips window first show%s, run %d: FAILED: %s\n", floor ? " floor" : "", run + 1,
                 error.c_str());
          allRight = false;
          break;
        }
        (floor ? floors : runs).push_back(figures);
      }
    }
    if (!runs.empty()) {
      printf("\ntips window first show (CheckUpgrade with a pending package, prompting on, the"
             " host's main window up), median of %zu processes, alternating with %zu of its floor:\n",
             runs.size(), floors.size());
      printf("    visible and placed %.1f ms after the call (min %.1f, max %.1f);"
             " the call returned at %.1f ms; painted at %.1f ms\n",
             Median(runs, "visible_placed_ms"), Extreme(runs, "visible_placed_ms", false),
             Extreme(runs, "visible_placed_ms", true), Median(runs, "call_returned_ms"),
             Median(runs, "painted_ms"));
      printf("    record and settings %.1f ms, create and skin %.1f ms, fold %.1f ms,"
             " show and place %.1f ms\n",
             Median(runs, "before_create_ms"), Median(runs, "create_skin_ms"),
             Median(runs, "fold_ms"), Median(runs, "show_place_ms"));
      const Values& first = runs.front();
      if (first.count("shown_calls")) {
        printf("    then %s CheckUpgrade calls with the window up (%s us each, median):"
               " %s: %s\n",
               first.at("shown_calls").c_str(), first.at("shown_call_median_us").c_str(),
               first.at("shown_counts").c_str(),
               first.at("shown_same") == "1" ? "unchanged" : "CHANGED");
        allRight = allRight && first.at("shown_same") == "1";
      }
    }
    if (!floors.empty() && !runs.empty()) {
      const double shown = Median(runs, "visible_placed_ms");
      const double floor = Median(floors, "visible_placed_ms");
      const double ratio = floor > 0 ? shown / floor : 0;
      const bool met = ratio > 0 && ratio <= kFirstShowTargetRatio;
      targetsMet = met && targetsMet;
      printf("    floor (the calls a first show cannot avoid, made directly): visible and placed"
             " %.1f ms (min %.1f, max %.1f), painted at %.1f ms\n",
             floor, Extreme(floors, "visible_placed_ms", false),
             Extreme(floors, "visible_placed_ms", true), Median(floors, "painted_ms"));
      printf("    first show / floor: %.2f (painted %.2f)   target <= %.1fx floor: %s\n", ratio,
             Median(runs, "painted_ms") / Median(floors, "painted_ms"), kFirstShowTargetRatio,
             met ? "met" : "NOT MET");
      auto each = [](const std::vector<Values>& list, const char* name) {
        std::string text;
        for (const Values& v : list) {
          const std::string& value = v.at(name);
          text.append(" ").append(value, 0, value.find('.') + 2);
        }
        return text;
      };
      printf("    each process in turn, first show:%s\n                         floor:%s\n",
             each(runs, "visible_placed_ms").c_str(), each(floors, "visible_placed_ms").c_str());
      printf("    where it goes, first show / floor (median ms): before the window %.1f / %.1f"
             " (floor: lookup %.1f, settings %.1f, log %.1f); window, control and skin %.1f / %.1f;"
             " text %.1f / %.1f; show until visible %.1f / %.1f\n",
             Median(runs, "before_create_ms"), Median(floors, "before_create_ms"),
             Median(floors, "lookup_ms"), Median(floors, "settings_ms"), Median(floors, "log_ms"),
             Median(runs, "create_skin_ms"), Median(floors, "create_skin_ms"),
             Median(runs, "fold_ms"), Median(floors, "fold_ms"),
             Median(runs, "show_visible_ms"), Median(floors, "show_visible_ms"));
    }
  }

  // The tips window shown for descriptions of growing length, side by side in one process.
  if (options.foldRounds > 0) {
    Values figures;
    std::string error;
    if (!MeasureFoldCurve(work.path(), record, options.foldRounds, figures, error)) {
      printf("\nfold curve: FAILED: %s\n", error.c_str());
      allRight = false;
    } else {
      printf("\ntips window shown again for descriptions of growing length (CheckUpgrade with a"
             " pending package, the window hidden before), median of %d rounds; the ratio is the"
             " window's part against that for 100 characters:\n",
             options.foldRounds);
      printf("    %10s %6s %9s %14s %9s %10s %11s %9s %7s\n", "characters", "breaks", "call ms",
             "record+log ms", "query ms", "floor ms", "window ms", "fold ms", "ratio");
      const std::vector<FoldCase> cases = FoldCases();
      double base = 0;
      for (size_t i = 0; i < cases.size(); ++i) {
        const std::string key = std::to_string(i);
        auto value = [&](const char* name) { return atof(figures[key + name].c_str()); };
        const double window = value("_window_ms");
        if (cases[i].characters == 100) base = window;
        const double ratio = base > 0 ? window / base : 0;
        const bool last = cases[i].characters == 1000000;
        const bool met = ratio <= kTargetRatio;
        if (last) targetsMet = met && targetsMet;
        printf("    %10zu %6s %9.2f %14.2f %9.2f %10.2f %11.2f %9.2f %7.2f%s\n", cases[i].characters,
               cases[i].lineBreaks ? "yes" : "no", value("_shown_ms"), value("_before_ms"),
               value("_query_ms"), value("_profile_floor_ms"), window,
               value("_fold_ms"), ratio, last ? (met ? "   met" : "   NOT MET") : "");
      }
    }
    WriteRecord(record, true);
  }

  // Load and unload cycles, without and with the tips window, each in a process of its own.
  if (options.loadCycles > 0) {
    printf("\nload, create, CheckUpgrade(0), release and FreeLibrary, after 20 warm-up cycles:\n");
    for (LoadCycleKind kind : {LoadCycleKind::kPlain, LoadCycleKind::kWindow, LoadCycleKind::kFault}) {
      if (!WriteRecord(record, kind == LoadCycleKind::kWindow)) return 1;
      Values figures;
      std::string error;
      if (!MeasureLoadCycles(work.path(), kind, options.loadCycles, figures, error)) {
        if (!error.empty()) printf("    FAILED: %s\n", error.c_str());
        allRight = false;
      }
      if (figures.count("cycles")) PrintLoadCycles(kind, figures);
    }
  }

  printf("\n%s\n", allRight ? (targetsMet ? "all results right; targets met"
                                          : "all results right; a target NOT met")
                            : "SOME RESULTS WRONG");
  if (!allRight) return 1;
  return options.requireTarget && !targetsMet ? 3 : 0;
}
