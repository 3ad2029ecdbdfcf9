// Allocation failure on demand for a test program: linking this replaces the global operator
// new (tests/common/failing_new.h), and the n-th allocation after arming throws std::bad_alloc
// (a nothrow new gives NULL).
#pragma once
#include <windows.h>

#include <functional>

namespace testing_support {

// Fails every allocation path of call() once: the first run fails its first allocation, the
// next its second, and so on until a run makes fewer allocations than the one that is to
// fail. No exception may come out of call() (a failure of the test is added, naming the
// allocation) and its result must succeed or be E_OUTOFMEMORY, E_FAIL or S_FALSE. after() runs
// after each run, with nothing armed. Prints how many allocations call() makes.
void SweepAllocationFailures(const char* what, const std::function<HRESULT()>& call,
                             const std::function<void()>& after = nullptr);

}  // namespace testing_support
