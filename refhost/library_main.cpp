// The entry point of the reference host's libraries: on FreeLibrary they free the C++
// runtime's load-time buffer, so that loading and freeing them leaves the host's heap as it was.
#include <windows.h>

#include "host/runtime_release.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved) noexcept {
  if (dwReason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(hInstance);
  if (dwReason == DLL_PROCESS_DETACH && lpReserved == nullptr) ReleaseRuntimeBuffers();
  return TRUE;
}
