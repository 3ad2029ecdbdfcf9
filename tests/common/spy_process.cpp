// spy_process.exe: a stand-in program for tests that start processes. It records how it was
// started into the file named by CADENZA_SPY_OUTPUT and exits; it shows no window.
// The report is UTF-16LE with a byte-order mark, one "Key=value" line each:
//   CommandLine=<GetCommandLineW()>, CurrentFolder=<current folder>,
//   StartupFlags=<STARTUPINFO dwFlags>, ShowWindow=<STARTUPINFO wShowWindow>.
// It is written under a temporary name and then renamed, so a reader never sees half a report.
#include <windows.h>

#include <string>

#include "tests/common/spy_process.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t output[MAX_PATH * 4];
  DWORD length = GetEnvironmentVariableW(testing_support::kSpyOutputVariable, output, ARRAYSIZE(output));
  if (length == 0 || length >= ARRAYSIZE(output)) return 2;

  wchar_t folder[MAX_PATH * 4] = {};
  GetCurrentDirectoryW(ARRAYSIZE(folder), folder);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);

  std::wstring report = L"\xFEFF";
  report += L"CommandLine=" + std::wstring(GetCommandLineW()) + L"\r\n";
  report += L"CurrentFolder=" + std::wstring(folder) + L"\r\n";
  report += L"StartupFlags=" + std::to_wstring(startup.dwFlags) + L"\r\n";
  report += L"ShowWindow=" + std::to_wstring(startup.wShowWindow) + L"\r\n";

  std::wstring partial = std::wstring(output) + L".partial";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD bytes = static_cast<DWORD>(report.size() * sizeof(wchar_t)), written = 0;
  BOOL ok = WriteFile(file, report.data(), bytes, &written, nullptr) && written == bytes;
  CloseHandle(file);
  if (!ok || !MoveFileExW(partial.c_str(), output, MOVEFILE_REPLACE_EXISTING)) return 4;
  return 0;
}
