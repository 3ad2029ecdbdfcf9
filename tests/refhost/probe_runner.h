// Helpers of the reference host tests: the test program's folder, an environment variable set
// for one scope, and a run of the probe program with a bounded wait.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace testing_support {

inline std::wstring TestProgramFolder() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path = exe;
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Sets (or, with nullopt, removes) a variable of this process and restores it on destruction.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, std::optional<std::wstring> value) : name_(name) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size > 0) {
      std::vector<wchar_t> buffer(size);
      GetEnvironmentVariableW(name, buffer.data(), size);
      old_ = std::wstring(buffer.data());
    }
    SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
  }
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

// Runs the probe program at `exe` with `arguments`; its exit code, or -1 when it could not be
// started or did not end within the time.
inline int RunProbe(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace testing_support
