// The tips window shown for descriptions of growing length, side by side in one process:
// CheckUpgrade with a pending package while the window is hidden, until it is shown again.
#pragma once
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace bench {

// One description length, with or without line breaks.
struct FoldCase {
  size_t characters;
  bool lineBreaks;
};
std::vector<FoldCase> FoldCases();

// In the child: measures every case `rounds` times, in an order that changes each round, and
// writes the medians to resultPath. The record at recordPath is rewritten for each call.
int RunFoldCurveChild(const std::wstring& resultPath, const std::wstring& profilePath,
                      const std::wstring& recordPath, int rounds);

// In the parent: runs such a child and reads its figures, medians for case i: "<i>_shown_ms"
// (the call until the window is shown and placed), "<i>_window_ms" (the description handed to
// the window until then), "<i>_fold_ms" (the part of it until the window is told to show),
// "<i>_before_ms" (the record, the settings and the log line before the window).
bool MeasureFoldCurve(const std::wstring& workFolder, const std::wstring& recordPath, int rounds,
                      Values& figures, std::string& error);

}  // namespace bench
