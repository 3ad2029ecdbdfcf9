// Load and unload cycles of the component: whether handles, TLS indexes and private bytes stay
// flat when a host loads the library, creates the object, checks and frees it again, many
// times over.
#pragma once
#include <string>

#include "bench/bench_support.h"

namespace bench {

enum class LoadCycleKind {
  kPlain,   // no pending package
  kWindow,  // a pending package: the tips window shown (it keeps the library loaded)
  kFault,   // the test build, in which an allocation of CheckUpgrade fails: an exception is
            // thrown and caught inside the library in every cycle
};

// In the child: warm-up cycles, then `cycles` measured ones with the host provider over
// profilePath; writes the counts before and after to resultPath. Returns the exit code.
int RunLoadCyclesChild(const std::wstring& resultPath, const std::wstring& profilePath,
                       const std::wstring& componentPath, int cycles, bool fault);

// In the parent: the record must be in place (scheduled for the run with the tips window).
// False with an error text when the run failed or a count grew.
bool MeasureLoadCycles(const std::wstring& workFolder, LoadCycleKind kind, int cycles,
                       Values& figures, std::string& error);

void PrintLoadCycles(LoadCycleKind kind, const Values& figures);

}  // namespace bench
