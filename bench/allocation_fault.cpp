// Linked only into Cadenza_Upgrade_faults.dll, a test build of the component, with the
// replaced operator new of tests/common/failing_new.cpp: the allocation that SetAllocationFault
// names throws std::bad_alloc, which the component catches itself. The benchmark loads this
// build again and again to show that a load in which the component threw and caught leaves
// nothing behind, and the tests see what the runtime keeps per thread through it.
#include <windows.h>

#include <new>

#include "base/thread_runtime.h"
#include "tests/common/failing_new.h"

// The n-th allocation from now on fails (0: none).
extern "C" __declspec(dllexport) void SetAllocationFault(LONG n) noexcept {
  testing_support::ArmAllocationFailure(n);
}
// How many allocations failed on purpose since the library was loaded.
extern "C" __declspec(dllexport) LONG AllocationFaultsInjected() noexcept {
  return testing_support::AllocationFailuresInjected();
}

// Throws and catches on the calling thread, as the component does when an allocation fails:
// the runtime's per-thread exception state is then this library's for that thread. 1: caught.
extern "C" __declspec(dllexport) LONG ThrowAndCatch() noexcept {
  try {
    throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}
// Threads that hold the runtime's per-thread values of this library now.
extern "C" __declspec(dllexport) LONG ThreadRuntimeRecords() noexcept {
  return static_cast<LONG>(ThreadRuntimeRecordCount());
}
