// The entry point of the reference host's libraries: on FreeLibrary they free the C++
// runtime's load-time buffer, and a thread that ends leaves nothing of the runtime behind, so
// that loading and freeing them leaves the host's heap, handles and TLS indexes as they were.
#include <windows.h>

#include "base/thread_runtime.h"
#include "base/runtime_release.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID lpReserved) noexcept {
  if (dwReason == DLL_PROCESS_DETACH && lpReserved == nullptr) ReleaseRuntimeBuffers();
  CallThreadRuntimeDetach(dwReason, lpReserved);
  return TRUE;
}
