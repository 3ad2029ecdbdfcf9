// Entry point of Cadenza_Upgrade.dll: only remembers the module; all work happens in calls.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(hInstance);
  return TRUE;
}
