// The update record: whole-record reads, the schedule flag, and the folder rule.
#include <gtest/gtest.h>

#include "store/update_folders.h"
#include "store/update_record.h"
#include "tests/common/test_files.h"

using namespace testing_support;

namespace {

const wchar_t kFullRecord[] =
    L"[Cadenza]\r\n"
    L"UpdateRecord_S_bScheduleInstallation=1\r\n"
    L"UpdateRecord_S_bCrisisPack=0\r\n"
    L"UpdateRecord_S_strModuleType=CadenzaStored\r\n"
    L"UpdateRecord_S_dwVersion=5010000\r\n"
    L"UpdateRecord_S_wPatchNum=3\r\n"
    L"UpdateRecord_S_wBuildNum=260\r\n"
    L"UpdateRecord_S_strVersionName=5.1 正式版\r\n"
    L"UpdateRecord_S_strDescription=修复了播放问题\\nFixed playback\r\n"
    L"UpdateRecord_S_strZipFileName=cadenza.zip\r\n"
    L"UpdateRecord_S_strExeFileName=setup.exe\r\n"
    L"UpdateRecord_S_byarHash=00112233445566778899AABBCCDDEEFF\r\n"
    L"[Other]\r\n"
    L"UpdateRecord_S_bScheduleInstallation=1\r\n";

struct Record {
  BOOL crisis = 7;
  std::wstring moduleType = L"Cadenza";
  DWORD version = 0;
  WORD patch = 0, build = 0;
  std::wstring versionName, description, zip, exe;
  BYTE hash[16] = {};
};

BOOL Read(CUpdateRecordIO& io, Record& r) {
  return io.GetRecord(r.crisis, r.moduleType, r.version, r.patch, r.build, r.versionName,
                      r.description, r.zip, r.exe, r.hash);
}

}  // namespace

TEST(UpdateRecord, ReadsACompleteRecord) {
  TempFolder folder;
  ASSERT_TRUE(WriteUnicodeText(folder / L"CadenzaUpdate.ini", kFullRecord));
  CUpdateRecordIO io;
  ASSERT_TRUE(io.Open(folder.path().c_str()));
  EXPECT_EQ(folder.path(), io.Folder());

  Record r;
  ASSERT_TRUE(Read(io, r));
  EXPECT_EQ(FALSE, r.crisis);
  EXPECT_EQ(L"CadenzaStored", r.moduleType);  // replaced by the stored text
  EXPECT_EQ(5010000u, r.version);
  EXPECT_EQ(3, r.patch);
  EXPECT_EQ(260, r.build);
  EXPECT_EQ(L"5.1 正式版", r.versionName);
  EXPECT_EQ(L"修复了播放问题\r\nFixed playback", r.description);
  EXPECT_EQ(L"cadenza.zip", r.zip);
  EXPECT_EQ(L"setup.exe", r.exe);
  EXPECT_EQ(0x00, r.hash[0]);
  EXPECT_EQ(0xFF, r.hash[15]);

  BOOL schedule = FALSE, crisis = TRUE;
  DWORD version = 0;
  WORD patch = 0, build = 0;
  EXPECT_TRUE(io.GetScheduleInstallation(L"Cadenza", schedule));
  EXPECT_TRUE(schedule);
  EXPECT_TRUE(io.GetCrisisPack(L"Cadenza", crisis));
  EXPECT_FALSE(crisis);
  EXPECT_TRUE(io.GetVersion(L"cadenza", version, patch, build));
  EXPECT_EQ(260, build);
  EXPECT_FALSE(io.GetScheduleInstallation(L"CadenzaAddin", schedule));
}

TEST(UpdateRecord, IncompleteRecordStopsAtTheFirstMissingKey) {
  TempFolder folder;
  std::wstring text = kFullRecord;
  text.erase(text.find(L"UpdateRecord_S_strZipFileName"), wcslen(L"UpdateRecord_S_strZipFileName=cadenza.zip\r\n"));
  ASSERT_TRUE(WriteUnicodeText(folder / L"CadenzaUpdate.ini", text));
  CUpdateRecordIO io;
  ASSERT_TRUE(io.Open(folder.path().c_str()));
  Record r;
  r.zip = L"untouched";
  r.exe = L"untouched";
  EXPECT_FALSE(Read(io, r));
  EXPECT_EQ(L"CadenzaStored", r.moduleType);
  EXPECT_EQ(5010000u, r.version);
  EXPECT_EQ(L"修复了播放问题\r\nFixed playback", r.description);
  EXPECT_EQ(L"untouched", r.zip);
  EXPECT_EQ(L"untouched", r.exe);

  // GetVersion stops at its first failing read too.
  ASSERT_TRUE(WriteUnicodeText(folder / L"CadenzaUpdate.ini",
                               L"[Cadenza]\r\nUpdateRecord_S_dwVersion=9\r\nUpdateRecord_S_wBuildNum=4\r\n"));
  DWORD version = 0;
  WORD patch = 11, build = 11;
  EXPECT_FALSE(io.GetVersion(L"Cadenza", version, patch, build));
  EXPECT_EQ(9u, version);
  EXPECT_EQ(11, build);
}

TEST(UpdateRecord, SetScheduleInstallationChangesOnlyItsKey) {
  TempFolder folder;
  const std::wstring path = folder / L"CadenzaUpdate.ini";
  ASSERT_TRUE(WriteUnicodeText(path, kFullRecord));
  CUpdateRecordIO io;
  ASSERT_TRUE(io.Open(folder.path().c_str()));
  EXPECT_TRUE(io.SetScheduleInstallation(L"Cadenza", FALSE));
  EXPECT_TRUE(io.Save(folder.path().c_str()));
  std::wstring expected = kFullRecord;
  expected.replace(expected.find(L"Installation=1"), 14, L"Installation=0");
  EXPECT_EQ(expected, ReadText(path));
}

TEST(UpdateRecord, FolderRule) {
  TempFolder folder;
  CUpdateRecordIO io;
  EXPECT_FALSE(io.Open((folder / L"missing\\").c_str()));
  EXPECT_EQ(L"", io.Folder());
  EXPECT_FALSE(FileExists(folder / L"missing\\CadenzaUpdate.ini"));

  // A null folder on a fresh object opens the default folder's file and keeps no folder.
  const std::wstring defaultFolder = GetDefaultUpdateDataFolder();
  ASSERT_TRUE(CreateDirectoryW((GetAppDataFolder() + L"CadenzaUpdate").c_str(), nullptr) ||
              GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectoryW(defaultFolder.c_str(), nullptr));
  EXPECT_TRUE(io.Open(nullptr));
  EXPECT_EQ(L"", io.Folder());
  EXPECT_TRUE(io.Open(nullptr));
  EXPECT_TRUE(FileExists(defaultFolder + L"CadenzaUpdate.ini"));
  RemoveTree(defaultFolder);

  // A kept folder is used by a later null Open; Save keeps the folder it is given.
  EXPECT_TRUE(io.Open(folder.path().c_str()));
  EXPECT_TRUE(io.Open(nullptr));
  EXPECT_EQ(folder.path(), io.Folder());
  EXPECT_TRUE(io.Save((folder / L"elsewhere\\").c_str()));
  EXPECT_EQ(folder / L"elsewhere\\", io.Folder());
  EXPECT_FALSE(FolderExists(folder / L"elsewhere"));
}

TEST(UpdateRecord, RandomBinaryFileReadsAsMissing) {
  TempFolder folder;
  std::string bytes;
  for (int i = 0; i < 8192; ++i) bytes += static_cast<char>((i * 7919 + 13) & 0xFF);
  ASSERT_TRUE(WriteBytes(folder / L"CadenzaUpdate.ini", bytes));
  CUpdateRecordIO io;
  ASSERT_TRUE(io.Open(folder.path().c_str()));
  Record r;
  EXPECT_FALSE(Read(io, r));
  EXPECT_EQ(7, r.crisis);
  BOOL schedule = 5;
  EXPECT_FALSE(io.GetScheduleInstallation(L"Cadenza", schedule));
  EXPECT_EQ(5, schedule);
}
