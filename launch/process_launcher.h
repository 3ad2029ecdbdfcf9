// Starting a program from one complete command line without waiting for it: through the shell
// (with the elevation verb for "/copy") on Windows 6.0 and later, by direct process creation before.
#pragma once
#include <windows.h>
#include <string>

// The updater launch's namespace: starting the updater's programs.
namespace ORBITUPDATE {

// Starts one program from a command line (the updater in the mode it selects). Lives for one
// launch; Execute starts the program with SW_SHOW.
class CCmdLineExecutor {
 public:
  CCmdLineExecutor() = default;
  virtual ~CCmdLineExecutor();
  // TRUE when StartProcess reported a start (a result of 32 or more).
  virtual BOOL Execute(LPCWSTR pszCmdLine);
};

}  // namespace ORBITUPDATE

// Result codes of StartProcess; values above 31 mean started, as with WinExec.
inline constexpr DWORD kStartFailed = 0;            // null line, unbalanced quote, shell or other error
inline constexpr DWORD kStartFileNotFound = 2;
inline constexpr DWORD kStartPathNotFound = 3;
inline constexpr DWORD kStartBadExeFormat = 11;
inline constexpr DWORD kStartSucceeded = 33;

// TRUE when the program of the command line was started. Never waits for it.
BOOL ExecuteCmdLine(LPCWSTR pszCmdLine);

// Starts the command line and returns one of the result codes above. nShowCmd is used only by the
// direct start (before Windows 6.0); the shell start always shows SW_SHOWNORMAL.
DWORD StartProcess(LPCWSTR pszCmdLine, int nShowCmd);

// How the shell start reads a command line: leading blanks (U+0020 only) removed; a leading quote
// encloses the program and everything after the closing quote, its blank included, is the
// parameters; unquoted text is the program as a whole. The verb is "runas" when the parameters
// contain "/copy" (case-sensitive), else "open".
struct ShellStartCommand {
  std::wstring strProgram;
  std::wstring strParameters;
  LPCWSTR pszVerb = nullptr;
};
// FALSE for a null line or an opening quote without a closing one; the command is then unchanged.
BOOL SplitShellCommandLine(LPCWSTR pszCmdLine, ShellStartCommand& command);

// The result code for a failed CreateProcessW, from its last-error value.
DWORD ProcessCreationFailureCode(DWORD dwError);
