// The search that folds text into a fixed area: the largest value that still fits, found from a
// guess with few tries, for a test that is dear (each try lays out text in a control).
#pragma once
#include <algorithm>
#include <cstddef>

// The largest value in [low, high] that fits, for a test that holds up to some value and fails
// above it. `low` is taken to fit and never tried. The search starts at `guess`: from there it
// steps up (when the guess fits) or down, in steps that double, until it brackets the answer,
// then halves; so an answer near the guess costs few tries however wide the range is.
template <typename Fits>
size_t LargestFitting(size_t low, size_t high, size_t guess, Fits&& fits) {
  if (high <= low) return low;
  guess = std::clamp(guess, low, high);
  if (guess > low && fits(guess)) {
    low = guess;
    for (size_t step = 1; low < high; step *= 2) {
      const size_t next = step < high - low ? low + step : high;
      if (!fits(next)) {
        high = next - 1;
        break;
      }
      low = next;
    }
  } else if (guess > low) {
    const size_t lowest = low;
    high = guess - 1;
    for (size_t step = 1; step < guess - lowest; step *= 2) {
      const size_t next = guess - step;
      if (fits(next)) {
        low = next;
        break;
      }
      high = next - 1;
    }
  }
  while (low < high) {
    const size_t middle = low + (high - low + 1) / 2;
    if (fits(middle)) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return low;
}
