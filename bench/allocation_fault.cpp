// Linked only into Cadenza_Upgrade_faults.dll, a test build of the component: its allocations go
// through here, and the one that SetAllocationFault names throws std::bad_alloc, which the
// component's own barrier turns into E_OUTOFMEMORY. The benchmark loads this build again and
// again to show that a load in which the component threw and caught leaves nothing behind, and
// the tests see what the runtime keeps per thread through it.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "base/thread_runtime.h"

namespace {
volatile LONG g_allocationsUntilFault = 0;  // 0: none armed
volatile LONG g_faultsInjected = 0;

void* Allocate(size_t size) {
  if (g_allocationsUntilFault > 0 && InterlockedDecrement(&g_allocationsUntilFault) == 0) {
    InterlockedIncrement(&g_faultsInjected);
    throw std::bad_alloc();
  }
  void* p = std::malloc(size ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

// The n-th allocation from now on fails (0: none).
extern "C" __declspec(dllexport) void SetAllocationFault(LONG n) noexcept {
  InterlockedExchange(&g_allocationsUntilFault, n);
}
// How many allocations failed on purpose since the library was loaded.
extern "C" __declspec(dllexport) LONG AllocationFaultsInjected() noexcept { return g_faultsInjected; }

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

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
