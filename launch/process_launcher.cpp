// Starting a program from a command line: shell start on Windows 6.0 and later, direct creation before.
#include "launch/process_launcher.h"

#include <shellapi.h>

#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "base/handles.h"

namespace {

constexpr wchar_t kVerbOpen[] = L"open";
constexpr wchar_t kVerbRunAs[] = L"runas";
constexpr wchar_t kElevationSwitch[] = L"/copy";

// Each structure carries its own size for this build: 60, 68 and 276 bytes in a 32-bit build;
// the 64-bit layouts of the first two are larger.
static_assert(sizeof(OSVERSIONINFOW) == 276);
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOW) == 60);
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68);

bool IsWindows6OrLater() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return false;
#pragma GCC diagnostic pop
  return info.dwMajorVersion >= 6;
}

DWORD ShellStart(LPCWSTR pszCmdLine) {
  ShellStartCommand command;
  if (!SplitShellCommandLine(pszCmdLine, command)) return kStartFailed;

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // No error box from the shell: a failure comes back only as the result code, and a modal box
  // would hold the host's thread.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = nullptr;
  info.lpVerb = command.pszVerb;
  info.lpFile = command.strProgram.c_str();
  info.lpParameters = command.strParameters.c_str();
  info.lpDirectory = L"";  // empty, not null: the caller's current folder
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) return kStartFailed;
  UniqueKernelHandle process(info.hProcess);  // closed at once: the launcher never waits
  return kStartSucceeded;
}

DWORD DirectStart(LPCWSTR pszCmdLine, int nShowCmd) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(nShowCmd);
  // CreateProcessW may write into its command line, so it gets a copy of its own.
  std::vector<wchar_t> commandLine(pszCmdLine, pszCmdLine + wcslen(pszCmdLine) + 1);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return ProcessCreationFailureCode(GetLastError());
  UniqueKernelHandle processHandle(process.hProcess);
  UniqueKernelHandle threadHandle(process.hThread);
  return kStartSucceeded;
}

}  // namespace

namespace ORBITUPDATE {

CCmdLineExecutor::~CCmdLineExecutor() = default;

BOOL CCmdLineExecutor::Execute(LPCWSTR pszCmdLine) {
  return StartProcess(pszCmdLine, SW_SHOW) >= 32 ? TRUE : FALSE;
}

}  // namespace ORBITUPDATE

BOOL ExecuteCmdLine(LPCWSTR pszCmdLine) {
  std::unique_ptr<ORBITUPDATE::CCmdLineExecutor> executor(new (std::nothrow)
                                                              ORBITUPDATE::CCmdLineExecutor());
  if (!executor) return FALSE;
  return executor->Execute(pszCmdLine);
}

DWORD StartProcess(LPCWSTR pszCmdLine, int nShowCmd) {
  if (!pszCmdLine) return kStartFailed;
  try {
    return IsWindows6OrLater() ? ShellStart(pszCmdLine) : DirectStart(pszCmdLine, nShowCmd);
  } catch (const std::bad_alloc&) {  // the copies of the command line could not be made
    return kStartFailed;
  }
}

BOOL SplitShellCommandLine(LPCWSTR pszCmdLine, ShellStartCommand& command) {
  if (!pszCmdLine) return FALSE;
  std::wstring_view text(pszCmdLine);
  size_t start = text.find_first_not_of(L' ');
  text.remove_prefix(start == std::wstring_view::npos ? text.size() : start);

  ShellStartCommand split;
  if (!text.empty() && text.front() == L'"') {
    size_t closing = text.find(L'"', 1);
    if (closing == std::wstring_view::npos) return FALSE;
    split.strProgram.assign(text.substr(1, closing - 1));
    split.strParameters.assign(text.substr(closing + 1));
  } else {
    split.strProgram.assign(text);  // not split at blanks
  }
  split.pszVerb =
      split.strParameters.find(kElevationSwitch) != std::wstring::npos ? kVerbRunAs : kVerbOpen;
  command = std::move(split);
  return TRUE;
}

DWORD ProcessCreationFailureCode(DWORD dwError) {
  switch (dwError) {
    case ERROR_FILE_NOT_FOUND: return kStartFileNotFound;
    case ERROR_PATH_NOT_FOUND: return kStartPathNotFound;
    case ERROR_BAD_EXE_FORMAT: return kStartBadExeFormat;
    default: return kStartFailed;
  }
}
