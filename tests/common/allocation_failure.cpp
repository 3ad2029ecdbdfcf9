// The sweep over a call's allocations, each failed once through the replaced operator new.
#include "tests/common/allocation_failure.h"

#include "tests/common/failing_new.h"

#include <cstdio>
#include <exception>

#include <gtest/gtest.h>

namespace testing_support {

void SweepAllocationFailures(const char* what, const std::function<HRESULT()>& call,
                             const std::function<void()>& after) {
  for (long n = 1; n < 5000; ++n) {
    const long injectedBefore = AllocationFailuresInjected();
    ArmAllocationFailure(n);
    HRESULT hr = E_PENDING;
    const int uncaught = std::uncaught_exceptions();
    try {
      hr = call();
    } catch (...) {
      ADD_FAILURE() << what << ": an exception reached the caller at allocation " << n;
    }
    ArmAllocationFailure(0);
    // A throw that a platform frame swallowed (an exception handler of its own, not a C++
    // catch) is never caught, and stays counted as uncaught.
    EXPECT_EQ(uncaught, std::uncaught_exceptions())
        << what << ": the exception of allocation " << n << " was lost in a platform frame";
    EXPECT_TRUE(SUCCEEDED(hr) || hr == E_OUTOFMEMORY || hr == E_FAIL || hr == S_FALSE)
        << what << " at allocation " << n << ": 0x" << std::hex << hr;
    if (after) after();
    if (AllocationFailuresInjected() == injectedBefore) {  // the call made fewer allocations: all were tried
      EXPECT_GT(n, 1) << what << ": no allocation seen; is the injection in place?";
      printf("%s: %ld allocations, each failed once\n", what, n - 1);
      return;
    }
  }
  ADD_FAILURE() << what << ": too many allocations";
}

}  // namespace testing_support
