// The updater command lines with real record files and the real stand-in updater.
#include <gtest/gtest.h>

#include "base/folders.h"
#include "launch/update_commands.h"
#include "refhost/updater/updater_log.h"
#include "store/update_folders.h"
#include "store/update_record.h"
#include "tests/common/test_files.h"

using namespace testing_support;

namespace {

constexpr DWORD kCurVersion = 0x05010000;
constexpr WORD kCurBuild = 300;

std::wstring Record(const wchar_t* schedule, const wchar_t* crisis, DWORD version, WORD patch,
                    WORD build, bool withZip = true) {
  std::wstring text = L"[Cadenza]\r\n";
  if (schedule) text += std::wstring(L"UpdateRecord_S_bScheduleInstallation=") + schedule + L"\r\n";
  if (crisis) text += std::wstring(L"UpdateRecord_S_bCrisisPack=") + crisis + L"\r\n";
  text += L"UpdateRecord_S_strModuleType=Cadenza\r\n";
  text += L"UpdateRecord_S_dwVersion=" + std::to_wstring(version) + L"\r\n";
  text += L"UpdateRecord_S_wPatchNum=" + std::to_wstring(patch) + L"\r\n";
  text += L"UpdateRecord_S_wBuildNum=" + std::to_wstring(build) + L"\r\n";
  text += L"UpdateRecord_S_strVersionName=5.2\r\n";
  text += L"UpdateRecord_S_strDescription=新功能\\nNew features\r\n";
  if (withZip) text += L"UpdateRecord_S_strZipFileName=cadenza.zip\r\n";
  text += L"UpdateRecord_S_strExeFileName=setup.exe\r\n";
  text += L"UpdateRecord_S_byarHash=00112233445566778899AABBCCDDEEFF\r\n";
  return text;
}

// The stand-in updater beside the test program; its update data folder is the test's default one.
class UpdateCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    updater = GetModuleFolder() + L"CadenzaUpdate.exe";
    ASSERT_TRUE(FileExists(updater));
    folder = GetUpdateDataFolder(updater.c_str());
    RemoveTree(folder);
    ASSERT_TRUE(CreateFolderPath(folder));
    recordPath = folder + L"CadenzaUpdate.ini";
    logPath = folder + kUpdaterLogName;
  }
  void TearDown() override { RemoveTree(folder); }

  // Waits (bounded) until the updater's log holds `count` lines.
  std::vector<std::wstring> WaitForLog(size_t count, DWORD timeoutMs = 15000) {
    return WaitForUpdaterLog(logPath, count, timeoutMs);
  }
  // Nothing may start: give a started updater time enough to show up in its log.
  void ExpectNothingStarted() {
    EXPECT_TRUE(WaitForLog(1, 2000).empty()) << "the updater was started";
  }
  std::wstring Quoted() const { return L"\"" + updater + L"\""; }
  // The line as the started updater receives it: the shell start hands the parameters over with
  // their leading blank, and the shell joins them to the quoted program with a blank of its own.
  std::wstring Received(const std::wstring& line) const {
    return Quoted() + L" " + line.substr(Quoted().size());
  }

  std::wstring updater, folder, recordPath, logPath;
};

}  // namespace

TEST_F(UpdateCommandsTest, NewerTestComparesVersionThenBuildNeverPatch) {
  struct Case { DWORD version; WORD patch, build; DWORD cur; WORD curBuild; bool newer; };
  const Case cases[] = {
      {kCurVersion + 1, 0, kCurBuild - 1, kCurVersion, kCurBuild, true},   // version above, build below
      {kCurVersion, 0, kCurBuild + 1, kCurVersion, kCurBuild, true},       // equal version, build above
      {kCurVersion, 9, kCurBuild, kCurVersion, kCurBuild, false},          // a higher patch alone
      {kCurVersion, 0, kCurBuild, kCurVersion, kCurBuild, false},          // equal
      {kCurVersion - 1, 0, 65535, kCurVersion, kCurBuild, false},          // older version, any build
      {0xFFFFFFFE, 0, 0, 0, 0, true},      // unsigned: a huge version is above 0
      {0, 0, 0, 0xFFFFFFFE, 0, false},
      {7, 0, 65535, 7, 0, true},           // unsigned 16-bit builds
      {7, 0, 0, 7, 65535, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteUnicodeText(recordPath, Record(L"1", L"0", c.version, c.patch, c.build)));
    BOOL available = FALSE;
    std::wstring description = L"before";
    DWORD packageVersion = 12345;
    HRESULT hr = QueryPendingInstall(L"Cadenza", c.cur, updater.c_str(), c.curBuild, available,
                                     description, packageVersion);
    SCOPED_TRACE(testing::Message() << c.version << "." << c.build << " against " << c.cur << "." << c.curBuild);
    if (c.newer) {
      EXPECT_EQ(S_OK, hr);
      EXPECT_TRUE(available);
      EXPECT_EQ(L"新功能\r\nNew features", description);
      EXPECT_EQ(c.version, packageVersion);
    } else {
      EXPECT_EQ(E_FAIL, hr);
      EXPECT_FALSE(available);
      EXPECT_EQ(L"before", description);
    }
  }
}

TEST_F(UpdateCommandsTest, QueryFailsOnMissingInputsOrAnIncompleteRecord) {
  BOOL available = FALSE;
  std::wstring description;
  DWORD version = 0;
  ASSERT_TRUE(WriteUnicodeText(recordPath, Record(L"1", L"0", kCurVersion + 1, 0, 0, /*withZip=*/false)));
  EXPECT_EQ(E_FAIL, QueryPendingInstall(L"Cadenza", kCurVersion, updater.c_str(), kCurBuild,
                                        available, description, version));
  EXPECT_FALSE(available);
  ASSERT_TRUE(WriteUnicodeText(recordPath, Record(L"1", L"0", kCurVersion + 1, 0, 0)));
  EXPECT_EQ(E_FAIL, QueryPendingInstall(nullptr, kCurVersion, updater.c_str(), kCurBuild,
                                        available, description, version));
  EXPECT_EQ(E_FAIL, QueryPendingInstall(L"Cadenza", kCurVersion, nullptr, kCurBuild, available,
                                        description, version));
  EXPECT_EQ(E_FAIL, QueryPendingInstall(L"CadenzaAddin", kCurVersion, updater.c_str(), kCurBuild,
                                        available, description, version));
  EXPECT_FALSE(available);
  EXPECT_EQ(S_OK, QueryPendingInstall(L"Cadenza", kCurVersion, updater.c_str(), kCurBuild,
                                      available, description, version));
  ExpectNothingStarted();
}

TEST_F(UpdateCommandsTest, NoScheduleMeansNothingStartsAndNothingChanges) {
  for (const wchar_t* schedule : {static_cast<const wchar_t*>(nullptr), L"0"}) {
    const std::wstring text = Record(schedule, L"0", kCurVersion + 1, 0, 0);
    ASSERT_TRUE(WriteUnicodeText(recordPath, text));
    const std::string before = ReadBytes(recordPath);
    BOOL available = FALSE;
    std::wstring description;
    DWORD version = 0;
    EXPECT_EQ(E_FAIL, QueryPendingInstall(L"Cadenza", kCurVersion, updater.c_str(), kCurBuild,
                                          available, description, version));
    EXPECT_EQ(E_FAIL, LaunchPendingInstall(L"Cadenza", kCurVersion, updater.c_str(), kCurBuild));
    EXPECT_EQ(before, ReadBytes(recordPath));
  }
  ExpectNothingStarted();
}

TEST_F(UpdateCommandsTest, InstallStartsTheUpdaterWithTheInstallLine) {
  ASSERT_TRUE(WriteUnicodeText(recordPath, Record(L"1", L"0", kCurVersion + 1, 0, 0)));
  const std::string before = ReadBytes(recordPath);
  EXPECT_EQ(S_FALSE, LaunchPendingInstall(L"Cadenza", kCurVersion, updater.c_str(), kCurBuild));
  auto lines = WaitForLog(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"install\t" + Received(Quoted() + L" /install /newpath \"Cadenza\""), lines[0]);
  EXPECT_EQ(before, ReadBytes(recordPath));  // the updater owns the record from now on

  ASSERT_TRUE(WriteUnicodeText(recordPath, Record(L"1", L"1", kCurVersion + 1, 0, 0)));
  EXPECT_EQ(S_OK, LaunchPendingInstall(L"Cadenza", kCurVersion, updater.c_str(), kCurBuild));
  lines = WaitForLog(2);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(L"install-crisispack\t" + Received(Quoted() + L" /install /newpath \"Cadenza\" /crisispack"), lines[1]);
}

TEST_F(UpdateCommandsTest, StaleRecordHasItsFlagCleared) {
  const std::wstring text = Record(L"1", L"0", kCurVersion, 4, kCurBuild);
  ASSERT_TRUE(WriteUnicodeText(recordPath, text));
  EXPECT_EQ(E_FAIL, LaunchPendingInstall(L"Cadenza", kCurVersion, updater.c_str(), kCurBuild));
  std::wstring expected = text;
  expected.replace(expected.find(L"Installation=1"), 14, L"Installation=0");
  EXPECT_EQ(expected, ReadText(recordPath));
  ExpectNothingStarted();
}

TEST_F(UpdateCommandsTest, RecordHeldByAnotherProgramIsLeftAlone) {
  ASSERT_TRUE(WriteUnicodeText(recordPath, Record(L"1", L"0", kCurVersion, 0, kCurBuild)));
  const std::string before = ReadBytes(recordPath);
  {
    UniqueFile held = HoldOpen(recordPath, FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_TRUE(held);
    EXPECT_EQ(E_FAIL, LaunchPendingInstall(L"Cadenza", kCurVersion, updater.c_str(), kCurBuild));
  }
  EXPECT_EQ(before, ReadBytes(recordPath));  // the store could not even be opened
  ExpectNothingStarted();
}

// The record is opened, then another program takes the file before the flag is written.
TEST_F(UpdateCommandsTest, StaleRecordThatCannotBeWrittenIsDeleted) {
  ASSERT_TRUE(WriteUnicodeText(recordPath, Record(L"1", L"0", kCurVersion, 0, kCurBuild)));
  CUpdateRecordIO record;
  ASSERT_TRUE(record.Open(folder.c_str()));
  {
    UniqueFile held = HoldOpen(recordPath, FILE_SHARE_DELETE);  // no writing, deleting allowed
    ASSERT_TRUE(held);
    RetireStaleRecord(record, L"Cadenza", folder);
  }
  EXPECT_FALSE(FileExists(recordPath));
}

TEST_F(UpdateCommandsTest, StaleRecordThatCannotBeRemovedIsDeletedAtRestart) {
  ASSERT_TRUE(WriteUnicodeText(recordPath, Record(L"1", L"0", kCurVersion, 0, kCurBuild)));
  const std::string before = ReadBytes(recordPath);
  CUpdateRecordIO record;
  ASSERT_TRUE(record.Open(folder.c_str()));
  {
    UniqueFile held = HoldOpen(recordPath, 0);  // no sharing at all
    ASSERT_TRUE(held);
    RetireStaleRecord(record, L"Cadenza", folder);
  }
  EXPECT_EQ(before, ReadBytes(recordPath));

  // The platform keeps the registration in the session manager's pending operations.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                         L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                                         KEY_QUERY_VALUE | KEY_SET_VALUE, &key));
  DWORD size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size));
  std::wstring value(size / sizeof(wchar_t), L'\0');
  RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                   reinterpret_cast<BYTE*>(value.data()), &size);
  RegDeleteValueW(key, L"PendingFileRenameOperations");
  RegCloseKey(key);
  std::wstring lowerValue = value, lowerPath = recordPath;
  CharLowerBuffW(lowerValue.data(), static_cast<DWORD>(lowerValue.size()));
  CharLowerBuffW(lowerPath.data(), static_cast<DWORD>(lowerPath.size()));
  EXPECT_NE(std::wstring::npos, lowerValue.find(lowerPath)) << Narrow(value);
}

TEST_F(UpdateCommandsTest, ManualLines) {
  EXPECT_EQ(S_OK, LaunchManualUpdate(updater.c_str(), L"Cadenza", TRUE));
  EXPECT_EQ(S_OK, LaunchManualUpdate(updater.c_str(), L"CadenzaAddin", FALSE));
  EXPECT_EQ(S_OK, LaunchManualUpdate(updater.c_str(), L"", FALSE));
  EXPECT_EQ(E_FAIL, LaunchManualUpdate(nullptr, L"Cadenza", FALSE));
  auto lines = WaitForLog(3);
  ASSERT_EQ(3u, lines.size());
  std::sort(lines.begin(), lines.end());  // the three updaters may log in any order
  EXPECT_EQ(L"specific\t" + Received(Quoted() + L" /newpath  /specific \"\""), lines[0]);
  EXPECT_EQ(L"specific\t" + Received(Quoted() + L" /newpath  /specific \"CadenzaAddin\""), lines[1]);
  EXPECT_EQ(L"specificlatest\t" + Received(Quoted() + L" /newpath  /specificlatest \"Cadenza\""), lines[2]);

  // A null target leaves a trailing blank and no specific part; the updater refuses it.
  EXPECT_EQ(S_OK, LaunchManualUpdate(updater.c_str(), nullptr, TRUE));
  lines = WaitForLog(4);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ(L"unrecognised\t" + Received(Quoted() + L" /newpath "), lines[3]);
}

TEST_F(UpdateCommandsTest, PullWritesThePushFileThenStartsTheUpdater) {
  EXPECT_EQ(S_OK, LaunchPullUpdate(updater.c_str(), 0, TRUE, TRUE, L"CadenzaAddin", L""));
  auto lines = WaitForLog(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"pull\t" + Received(Quoted() + L" /newpath /pull") + L"\tPULL_CLIENT_UPDATE_SETTING=0; "
            L"PULL_HAS_FORCE_UPDATE=1; PULL_HAS_HPU=1; PULL_MODULE_TYPE=CadenzaAddin; PULL_OTHER_BUFFER=",
            lines[0]);
  EXPECT_EQ(L"[Common]\r\nPULL_CLIENT_UPDATE_SETTING=0\r\nPULL_HAS_FORCE_UPDATE=1\r\n"
            L"PULL_HAS_HPU=1\r\nPULL_MODULE_TYPE=CadenzaAddin\r\nPULL_OTHER_BUFFER=\r\n",
            ReadText(GetDefaultUpdateDataFolder() + L"CadenzaUpdatePush.ini"));
  EXPECT_EQ(E_FAIL, LaunchPullUpdate(updater.c_str(), 0, TRUE, TRUE, nullptr, L""));
  EXPECT_EQ(E_FAIL, LaunchPullUpdate(nullptr, 0, TRUE, TRUE, L"Cadenza", L""));
}

TEST_F(UpdateCommandsTest, PullWithAnUpdaterElsewhereStillWritesTheDefaultFolder) {
  TempFolder other;
  const std::wstring elsewhere = other / L"CadenzaUpdate.exe";
  ASSERT_TRUE(CopyFileW(updater.c_str(), elsewhere.c_str(), FALSE));
  const std::wstring otherFolder = GetUpdateDataFolder(elsewhere.c_str());
  EXPECT_EQ(S_OK, LaunchPullUpdate(elsewhere.c_str(), 0, TRUE, TRUE, L"Cadenza", L""));
  const std::wstring otherLog = otherFolder + kUpdaterLogName;
  auto lines = WaitForUpdaterLog(otherLog, 1, 15000);
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::wstring::npos, lines[0].find(L"(no push file)"));  // the request is not moved
  EXPECT_TRUE(FileExists(GetDefaultUpdateDataFolder() + L"CadenzaUpdatePush.ini"));
  EXPECT_FALSE(FileExists(otherFolder + L"CadenzaUpdatePush.ini"));
  RemoveTree(otherFolder);
}
