// Child-process test kit.
#include "tests/common/child_process.h"

#include <utility>
#include <vector>

#include "base/folders.h"
#include "base/handles.h"
#include "tests/common/test_files.h"

namespace testing_support {

DWORD RunChild(const std::wstring& commandLine, const ChildOptions& options) {
  std::wstring line = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  BOOL inherit = FALSE;
  if (options.output != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = options.output;
    inherit = TRUE;
  } else if (options.inheritStdHandles) {
    for (DWORD h : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
      SetHandleInformation(GetStdHandle(h), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    inherit = TRUE;
  }
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(options.application.empty() ? nullptr : options.application.c_str(), line.data(),
                      nullptr, nullptr, inherit, 0, nullptr,
                      options.workingFolder.empty() ? nullptr : options.workingFolder.c_str(), &startup,
                      &started))
    return kNoExitCode;
  UniqueKernelHandle process(started.hProcess), thread(started.hThread);
  const ULONGLONG deadline = GetTickCount64() + options.timeoutMs;
  while (WaitForSingleObject(process.get(), options.whileRunning ? 100 : options.timeoutMs) == WAIT_TIMEOUT) {
    if (GetTickCount64() >= deadline) {
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
      return kNoExitCode;
    }
    if (options.whileRunning) options.whileRunning(started);
  }
  DWORD code = kNoExitCode;
  if (!GetExitCodeProcess(process.get(), &code)) return kNoExitCode;
  return code;
}

std::wstring ThisProgramPath() { return ModulePathOf(nullptr); }

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, ChildOptions options) {
  if (options.application.empty()) options.application = program;
  return RunChild(L"\"" + program + L"\" " + arguments, options);
}

DWORD RunProgramForOutput(const std::wstring& program, const std::wstring& arguments,
                          const std::wstring& folder, std::string& output, ChildOptions options) {
  static unsigned runs = 0;
  const std::wstring path = folder + L"output-" + std::to_wstring(++runs) + L".txt";
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
  if (!file) {
    output = "(no output: " + Narrow(path) + " could not be made, error " + std::to_string(GetLastError()) + ")";
    return kNoExitCode;
  }
  options.output = file.get();
  const DWORD exitCode = RunProgram(program, arguments, std::move(options));
  file.reset();
  output = ReadBytes(path);
  return exitCode;
}

DWORD RunThisProgram(const std::wstring& arguments, ChildOptions options) {
  return RunProgram(ThisProgramPath(), arguments, std::move(options));
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, std::optional<std::wstring> value) : name_(name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size > 0) {
    std::vector<wchar_t> buffer(size);
    GetEnvironmentVariableW(name, buffer.data(), size);
    old_ = std::wstring(buffer.data());
  }
  SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

}  // namespace testing_support
