// The first show of the tips window, measured in a fresh process per run (a first show happens
// once per process): CheckUpgrade with a pending package and prompting on creates the window,
// loads its skin, folds the description and places the window.
#pragma once
#include <string>

#include "bench/bench_support.h"

namespace bench {

// In the child: runs one first show with the host provider over profilePath, then shownCalls
// more CheckUpgrade calls with the window up, and writes the figures to resultPath.
// Returns the process exit code.
int RunFirstShowChild(const std::wstring& resultPath, const std::wstring& profilePath,
                      int shownCalls);

// In the parent: starts this program as such a child and reads its figures. The pending
// record must be in place. False with an error text when the child failed.
bool MeasureFirstShow(const std::wstring& workFolder, int run, int shownCalls, Values& figures,
                      std::string& error);

}  // namespace bench
