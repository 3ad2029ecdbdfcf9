// The replaced operator new and delete, with the failure armed by ArmAllocationFailure.
#include "tests/common/failing_new.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace {
volatile LONG g_allocationsUntilFailure = 0;  // 0: disarmed
volatile LONG g_failuresInjected = 0;

void* Allocate(size_t size) {
  if (g_allocationsUntilFailure > 0 && InterlockedDecrement(&g_allocationsUntilFailure) == 0) {
    InterlockedIncrement(&g_failuresInjected);
    throw std::bad_alloc();
  }
  void* p = std::malloc(size ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

namespace testing_support {
void ArmAllocationFailure(long n) noexcept { InterlockedExchange(&g_allocationsUntilFailure, n); }
long AllocationFailuresInjected() noexcept { return g_failuresInjected; }
}  // namespace testing_support

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
