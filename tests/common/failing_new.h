// The global operator new replaced for tests: once armed, the n-th allocation throws
// std::bad_alloc (a nothrow new gives NULL). Linked into test programs and into the
// component's test build, Cadenza_Upgrade_faults.dll.
#pragma once

namespace testing_support {

// The n-th allocation from now on fails; 0 disarms.
void ArmAllocationFailure(long n) noexcept;
// Allocations failed on purpose since the program (or library) started.
long AllocationFailuresInjected() noexcept;

}  // namespace testing_support
