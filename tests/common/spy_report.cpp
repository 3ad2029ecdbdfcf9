// Reading the spy program's report, with a bounded wait.
#include "tests/common/spy_process.h"

#include <shellapi.h>

#include "tests/common/test_files.h"

namespace testing_support {

std::vector<std::wstring> SpyReport::Arguments() const {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(commandLine.c_str(), &count);
  if (!list) return arguments;
  arguments.assign(list, list + count);
  LocalFree(list);
  return arguments;
}

std::wstring SpyProgramPath() {
  wchar_t self[MAX_PATH * 4] = {};
  DWORD length = GetModuleFileNameW(nullptr, self, ARRAYSIZE(self));
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"spy_process.exe";
}

SpyOutputScope::SpyOutputScope(const std::wstring& reportPath) {
  SetEnvironmentVariableW(kSpyOutputVariable, reportPath.c_str());
}

SpyOutputScope::~SpyOutputScope() { SetEnvironmentVariableW(kSpyOutputVariable, nullptr); }

bool WaitForSpyReport(const std::wstring& reportPath, SpyReport& report, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!FileExists(reportPath)) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  std::wstring text = ReadText(reportPath);
  SpyReport read;
  bool haveCommandLine = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 2;
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) continue;
    std::wstring key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == L"CommandLine") {
      read.commandLine = value;
      haveCommandLine = true;
    } else if (key == L"CurrentFolder") {
      read.currentFolder = value;
    } else if (key == L"StartupFlags") {
      read.startupFlags = wcstoul(value.c_str(), nullptr, 10);
    } else if (key == L"ShowWindow") {
      read.showWindow = wcstoul(value.c_str(), nullptr, 10);
    }
  }
  if (!haveCommandLine) return false;
  report = std::move(read);
  return true;
}

}  // namespace testing_support
