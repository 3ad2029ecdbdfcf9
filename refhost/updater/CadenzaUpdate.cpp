// The stand-in updater CadenzaUpdate.exe: recognises the command lines the component starts it
// with and appends one line per start to "CadenzaUpdate.log" in its update data folder. It
// downloads and installs nothing. Exit code 0 for a recognised command line, 2 otherwise.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "base/folders.h"
#include "base/text.h"
#include "refhost/updater/updater_log.h"
#include "store/db_operation.h"
#include "store/push_update_info.h"
#include "store/update_folders.h"

namespace {

// The pull request as the component left it, one key=value per key, separated by "; ".
std::wstring ReadPushRequest(const std::wstring& folder) {
  CDBOperation db;  // section Common
  const std::wstring path = folder + kPushFileName;
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES || !db.OpenDB(kPushStoreID, path.c_str()))
    return L"(no push file)";
  std::wstring values;
  for (const wchar_t* key : {L"PULL_CLIENT_UPDATE_SETTING", L"PULL_HAS_FORCE_UPDATE", L"PULL_HAS_HPU"}) {
    DWORD value = 0;
    values += key;
    values += db.ReadInt(key, value) ? FormatText(L"=%d; ", static_cast<int>(value)) : L"=(missing); ";
  }
  for (const wchar_t* key : {L"PULL_MODULE_TYPE", L"PULL_OTHER_BUFFER"}) {
    std::wstring text;
    values += key;
    values += db.ReadString(key, text) ? L"=" + ReplaceAll(text, L"\r\n", L"\\n") : L"=(missing)";
    if (std::wstring(key) != L"PULL_OTHER_BUFFER") values += L"; ";
  }
  return values;
}

// Names the mode of a command line, or returns an empty text when it is not one of ours.
std::wstring Classify(const std::vector<std::wstring>& args) {
  if (args.size() == 3 && args[0] == L"/install" && args[1] == L"/newpath") return L"install";
  if (args.size() == 4 && args[0] == L"/install" && args[1] == L"/newpath" && args[3] == L"/crisispack")
    return L"install-crisispack";
  if (args.size() == 3 && args[0] == L"/newpath" && args[1] == L"/specific") return L"specific";
  if (args.size() == 3 && args[0] == L"/newpath" && args[1] == L"/specificlatest")
    return L"specificlatest";
  if (args.size() == 2 && args[0] == L"/newpath" && args[1] == L"/pull") return L"pull";
  return std::wstring();
}

}  // namespace

int wmain() {
  const std::wstring commandLine = GetCommandLineW();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; argv != nullptr && i < argc; ++i) args.emplace_back(argv[i]);
  if (argv != nullptr) LocalFree(argv);

  const std::wstring folder = GetUpdateDataFolder(ModulePathOf(nullptr).c_str());
  CreateFolderPath(folder);

  std::wstring mode = Classify(args);
  const int exitCode = mode.empty() ? 2 : 0;
  std::wstring line = (mode.empty() ? L"unrecognised" : mode) + L"\t" + commandLine;
  if (mode == L"pull") line += L"\t" + ReadPushRequest(folder);
  AppendUpdaterLog(folder + kUpdaterLogName, line);
  return exitCode;
}
