// CadenzaSampleRecord.exe INSTALL_FOLDER: leaves an update record for "Cadenza" as the updater
// would after downloading a newer package (version 5.2 against a 5.1 player, a description of
// several lines in Chinese and English), in the update data folder of the updater in
// INSTALL_FOLDER. The file starts with a UTF-16LE byte-order mark so that the Chinese text
// survives the profile functions. Prints the record's path. Exit 0 done, 1 usage, 2 failure.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/folders.h"
#include "base/handles.h"
#include "store/update_folders.h"

namespace {

constexpr wchar_t kRecord[] =
    L"[Cadenza]\r\n"
    L"UpdateRecord_S_bScheduleInstallation=1\r\n"
    L"UpdateRecord_S_bCrisisPack=0\r\n"
    L"UpdateRecord_S_strModuleType=Cadenza\r\n"
    L"UpdateRecord_S_dwVersion=327682\r\n"
    L"UpdateRecord_S_wPatchNum=0\r\n"
    L"UpdateRecord_S_wBuildNum=120\r\n"
    L"UpdateRecord_S_strVersionName=Cadenza 5.2\r\n"
    L"UpdateRecord_S_strDescription=Cadenza 5.2 新版本更新内容：\\n"
    L"1. 全新的播放引擎，启动速度提升一倍\\n"
    L"2. Gapless playback between album tracks\\n"
    L"3. 歌词窗口支持双语显示\\n"
    L"4. Lower memory use with large libraries\\n"
    L"5. 修复了若干已知问题\r\n"
    L"UpdateRecord_S_strZipFileName=Cadenza_5.2.120.zip\r\n"
    L"UpdateRecord_S_strExeFileName=Cadenza_Setup.exe\r\n"
    L"UpdateRecord_S_byarHash=9E107D9D372BB6826BD81D3542A419D6\r\n";

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fwprintf(stderr, L"usage: CadenzaSampleRecord.exe INSTALL_FOLDER\n");
    return 1;
  }
  std::wstring install = argv[1];
  if (install.empty() || install.back() != L'\\') install += L'\\';
  const std::wstring folder = GetUpdateDataFolder((install + L"CadenzaUpdate.exe").c_str());
  CreateFolderPath(folder);
  const std::wstring path = folder + L"CadenzaUpdate.ini";
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  std::wstring text = L"\xFEFF";
  text += kRecord;
  DWORD written = 0;
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!file || !WriteFile(file.get(), text.data(), bytes, &written, nullptr) || written != bytes) {
    fwprintf(stderr, L"CadenzaSampleRecord: %ls could not be written\n", path.c_str());
    return 2;
  }
  wprintf(L"%ls\n", path.c_str());
  return 0;
}
