// Child-process test kit: a program run with a bounded wait, this test program run again for
// one scenario, and an environment variable set for one scope.
#pragma once
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace testing_support {

// What RunChild returns when the program could not start or did not end in time.
inline constexpr DWORD kNoExitCode = ~0u;

struct ChildOptions {
  std::wstring application;    // passed to CreateProcessW as is; empty: taken from the line
  std::wstring workingFolder;  // empty: this process's
  DWORD timeoutMs = 60000;     // then the child is ended and kNoExitCode returned
  HANDLE output = nullptr;     // inheritable handle for the child's stdout and stderr
  bool inheritStdHandles = false;  // pass this process's standard handles on
  // Called every 100 ms while the child runs (answering its message boxes, for example).
  std::function<void(const PROCESS_INFORMATION&)> whileRunning;
};

// Runs `commandLine` and waits for it; its exit code, or kNoExitCode.
DWORD RunChild(const std::wstring& commandLine, const ChildOptions& options = {});

// The full path of this test program.
std::wstring ThisProgramPath();

// Runs the program at `program` with `arguments` (after its own quoted path) and waits for it;
// its exit code, or kNoExitCode. The program is also the application CreateProcessW is given.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, ChildOptions options = {});

// RunProgram with the child's stdout and stderr in a file of `folder` made for this run alone,
// read into `output` afterwards. A file per run: a process the child started (Wine starts its
// desktop from the first windowed program) may inherit the handle and keep a last run's file
// open, which then could not be made anew.
DWORD RunProgramForOutput(const std::wstring& program, const std::wstring& arguments,
                          const std::wstring& folder, std::string& output, ChildOptions options = {});

// Runs this test program again with `arguments` (a --gtest_filter, say); its exit code.
DWORD RunThisProgram(const std::wstring& arguments, ChildOptions options = {});

// Sets (or, with nullopt, removes) a variable of this process and restores it on destruction.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, std::optional<std::wstring> value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

}  // namespace testing_support
