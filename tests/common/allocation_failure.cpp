// Allocation failure on demand: the replaced operator new and the sweep over a call's
// allocations.
#include "tests/common/allocation_failure.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include <gtest/gtest.h>

namespace {
std::atomic<long> g_allocationsUntilFailure{0};  // 0: disarmed
std::atomic<bool> g_failureInjected{false};

void* Allocate(size_t size) {
  if (g_allocationsUntilFailure.load() > 0 && --g_allocationsUntilFailure == 0) {
    g_failureInjected = true;
    throw std::bad_alloc();
  }
  void* p = std::malloc(size ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace testing_support {

void SweepAllocationFailures(const char* what, const std::function<HRESULT()>& call,
                             const std::function<void()>& after) {
  for (long n = 1; n < 5000; ++n) {
    g_failureInjected = false;
    g_allocationsUntilFailure = n;
    HRESULT hr = E_PENDING;
    const int uncaught = std::uncaught_exceptions();
    try {
      hr = call();
    } catch (...) {
      ADD_FAILURE() << what << ": an exception reached the caller at allocation " << n;
    }
    g_allocationsUntilFailure = 0;
    // A throw that a platform frame swallowed (an exception handler of its own, not a C++
    // catch) is never caught, and stays counted as uncaught.
    EXPECT_EQ(uncaught, std::uncaught_exceptions())
        << what << ": the exception of allocation " << n << " was lost in a platform frame";
    EXPECT_TRUE(SUCCEEDED(hr) || hr == E_OUTOFMEMORY || hr == E_FAIL || hr == S_FALSE)
        << what << " at allocation " << n << ": 0x" << std::hex << hr;
    if (after) after();
    if (!g_failureInjected) {  // the call made fewer allocations: all were tried
      EXPECT_GT(n, 1) << what << ": no allocation seen; is the injection in place?";
      printf("%s: %ld allocations, each failed once\n", what, n - 1);
      return;
    }
  }
  ADD_FAILURE() << what << ": too many allocations";
}

}  // namespace testing_support
