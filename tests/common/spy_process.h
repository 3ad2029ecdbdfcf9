// The spy program (spy_process.exe, built beside the test programs): where it is, how to tell it
// where to report, and how to wait for and read its report.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// The environment variable that names the spy's report file.
inline constexpr wchar_t kSpyOutputVariable[] = L"CADENZA_SPY_OUTPUT";

// How the spy was started.
struct SpyReport {
  std::wstring commandLine;    // as GetCommandLineW() returned it
  std::wstring currentFolder;  // as GetCurrentDirectoryW() returned it (no trailing backslash)
  DWORD startupFlags = 0;      // STARTUPINFO dwFlags
  DWORD showWindow = 0;        // STARTUPINFO wShowWindow
  // The command line split as the C runtime splits it (CommandLineToArgvW).
  std::vector<std::wstring> Arguments() const;
};

// Full path of spy_process.exe beside the running test program.
std::wstring SpyProgramPath();

// Sets CADENZA_SPY_OUTPUT in this process, and so for the programs it starts, while alive.
class SpyOutputScope {
 public:
  explicit SpyOutputScope(const std::wstring& reportPath);
  ~SpyOutputScope();
  SpyOutputScope(const SpyOutputScope&) = delete;
  SpyOutputScope& operator=(const SpyOutputScope&) = delete;
};

// Polls for the report for at most timeoutMs; false when none came in time or it is unreadable.
bool WaitForSpyReport(const std::wstring& reportPath, SpyReport& report, DWORD timeoutMs = 20000);

}  // namespace testing_support
