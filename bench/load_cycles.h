// Load and unload cycles of the component: whether handles and private bytes stay flat when a
// host loads the library, creates the object, checks and frees it again, many times over.
#pragma once
#include <string>

#include "bench/bench_support.h"

namespace bench {

// In the child: warm-up cycles, then `cycles` measured ones with the host provider over
// profilePath; writes the counts before and after to resultPath. Returns the exit code.
int RunLoadCyclesChild(const std::wstring& resultPath, const std::wstring& profilePath,
                       const std::wstring& componentPath, int cycles);

// In the parent: the record must be in place (scheduled for the run with the tips window).
// False with an error text when the run failed or a count grew.
bool MeasureLoadCycles(const std::wstring& workFolder, bool withWindow, int cycles, Values& figures,
                       std::string& error);

void PrintLoadCycles(bool withWindow, const Values& figures);

}  // namespace bench
