// Timing for the benchmark: a microsecond clock and medians of per-call samples.
#pragma once
#include <windows.h>

#include <algorithm>
#include <vector>

namespace bench {

// Microseconds since an arbitrary start, from the performance counter.
inline double NowMicroseconds() {
  static const double ticksPerMicrosecond = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1e6;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMicrosecond;
}

// Per-call durations in microseconds.
class Samples {
 public:
  void Reserve(size_t n) { values_.reserve(n); }
  void Add(double us) { values_.push_back(us); }
  size_t Count() const { return values_.size(); }

  // The median; 0 with no samples.
  double Median() const { return Quantile(0.5); }
  // The value below which the fraction q of the samples lie (nearest rank).
  double Quantile(double q) const {
    if (values_.empty()) return 0.0;
    std::vector<double> sorted = values_;
    size_t rank = static_cast<size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank), sorted.end());
    return sorted[rank];
  }

 private:
  std::vector<double> values_;
};

}  // namespace bench
