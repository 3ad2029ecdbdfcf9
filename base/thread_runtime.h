// The statically linked C++ runtime's thread functions, made over the platform (see the .cpp):
// what a library's entry point passes on so that nothing the runtime keeps per thread outlives
// the thread or the library.
#pragma once
#include <windows.h>

// From DllMain, for every reason: a detaching thread's key values are destroyed; a process
// detach at process exit (lpReserved set) leaves everything to the process's end. Weak: a
// program that compiles a library's entry point in (a test) keeps the runtime's own thread
// library, and the call is then skipped (CallThreadRuntimeDetach).
// The definition itself is strong: two weak symbols would leave the choice to the order in
// which the linker meets the objects, and an entry point met first would bind to nothing.
#ifdef CADENZA_THREAD_RUNTIME_DEFINITION
void ThreadRuntimeDetach(DWORD dwReason, LPVOID lpReserved) noexcept;
#else
__attribute__((weak)) void ThreadRuntimeDetach(DWORD dwReason, LPVOID lpReserved) noexcept;

// Only where the declaration is weak can the address be null (the definition's own file has no use
// for this, and the compiler rightly calls the test there always true).
inline void CallThreadRuntimeDetach(DWORD dwReason, LPVOID lpReserved) noexcept {
  if (&ThreadRuntimeDetach != nullptr) ThreadRuntimeDetach(dwReason, lpReserved);
}
#endif

// Threads that hold key values of this library now (for tests).
unsigned ThreadRuntimeRecordCount() noexcept;
