// Update data folder names and the MD5 name rule.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <wincrypt.h>

#include "base/folders.h"
#include "base/text.h"
#include "store/update_folders.h"
#include "tests/common/test_files.h"

using namespace testing_support;

namespace {

std::wstring KnownAppData() {
  wchar_t path[MAX_PATH] = {};
  EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path));
  std::wstring folder = path;
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

bool IsUpperHexName(const std::wstring& name) {
  if (name.size() != 32) return false;
  for (wchar_t c : name)
    if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
  return true;
}

// The name worked out here, with a CryptoAPI context of the test's own.
std::wstring IndependentName(const std::wstring& text) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  BYTE digest[16] = {};
  DWORD size = sizeof digest;
  EXPECT_TRUE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_TRUE(CryptCreateHash(provider, CALG_MD5, 0, 0, &hash));
  EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size()), 0));
  EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0));
  CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  std::wstring name;
  BytesToHexString(name, digest, sizeof digest);
  return name;
}

}  // namespace

TEST(Md5Name, EachTextKeepsItsOwnNameWhenAskedAgainInTurns) {
  // The last name is remembered; it must never answer for another text, not even for one that
  // is a prefix of it or that the same buffer holds later.
  const std::wstring texts[] = {L"c:\\apps\\cadenzaupdate", L"c:\\apps\\cadenzaupdat",
                                L"c:\\apps\\cadenzaupdate", L"", L"d:\\cadenza\\cadenzaupdate",
                                L"c:\\apps\\cadenzaupdate"};
  for (const std::wstring& text : texts) EXPECT_EQ(IndependentName(text), GetMD5HexName(text.c_str()));
  wchar_t buffer[] = L"c:\\apps\\cadenzaupdate";
  const std::wstring first = GetMD5HexName(buffer);
  buffer[0] = L'e';
  EXPECT_NE(first, GetMD5HexName(buffer));
  EXPECT_EQ(IndependentName(buffer), GetMD5HexName(buffer));
}

TEST(Md5Name, CoversOneByteOfTheTextPerCharacter) {
  EXPECT_EQ(L"2F6B2AEBA32738B3A1C206F647002B2C", GetMD5HexName(L"c:\\apps\\cadenzaupdate"));
  // Only the first 32 bytes (16 characters) of both keys are covered, and they agree.
  EXPECT_EQ(L"7AA487D7EED5B7D8C829D33144690A0C",
            GetMD5HexName(L"c:\\program files\\a\\cadenzaupdate"));
  EXPECT_EQ(L"7AA487D7EED5B7D8C829D33144690A0C",
            GetMD5HexName(L"c:\\program files\\b\\cadenzaupdate"));
  EXPECT_EQ(L"", GetMD5HexName(nullptr));
  EXPECT_EQ(L"D41D8CD98F00B204E9800998ECF8427E", GetMD5HexName(L""));  // MD5 of nothing
}

TEST(Md5Name, UpdaterFolderIsLowerCasedBeforeHashing) {
  const std::wstring appData = KnownAppData();
  const std::wstring expected = appData + L"CadenzaUpdate\\2F6B2AEBA32738B3A1C206F647002B2C\\";
  EXPECT_EQ(expected, GetUpdateDataFolder(L"C:\\Apps\\CadenzaUpdate.exe"));
  EXPECT_EQ(expected, GetUpdateDataFolder(L"c:\\apps\\CADENZAUPDATE.EXE"));
  // No backslash at all: the key is only the updater's name.
  EXPECT_EQ(appData + L"CadenzaUpdate\\" + GetMD5HexName(L"cadenzaupdate") + L"\\",
            GetUpdateDataFolder(L"CadenzaUpdate.exe"));
}

TEST(Folders, ComeFromThePlatform) {
  const std::wstring appData = GetAppDataFolder();
  EXPECT_EQ(KnownAppData(), appData);
  EXPECT_EQ(L'\\', appData.back());
  EXPECT_NE(L'\\', appData[appData.size() - 2]);  // no second backslash

  wchar_t exe[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
  const std::wstring module = GetModuleFolder();
  ASSERT_EQ(L'\\', module.back());
  EXPECT_EQ(0, _wcsnicmp(exe, module.c_str(), module.size()));
  EXPECT_TRUE(FileExists(module + L"cadenza_store_tests.exe"));
}

TEST(Folders, DefaultAndUpdaterFoldersAgreeForTheHostsOwnUpdater) {
  const std::wstring fromModule = GetUpdateDataFolder((GetModuleFolder() + L"CadenzaUpdate.exe").c_str());
  EXPECT_EQ(fromModule, GetDefaultUpdateDataFolder());
  EXPECT_EQ(fromModule, GetUpdateDataFolder(nullptr));
  EXPECT_EQ(fromModule, GetUpdateDataFolder(L""));

  const std::wstring prefix = GetAppDataFolder() + L"CadenzaUpdate\\";
  ASSERT_EQ(prefix.size() + 33, fromModule.size());
  EXPECT_EQ(prefix, fromModule.substr(0, prefix.size()));
  EXPECT_TRUE(IsUpperHexName(fromModule.substr(prefix.size(), 32)));
  EXPECT_EQ(L'\\', fromModule.back());
  // Computing a name creates nothing.
  EXPECT_FALSE(FolderExists(fromModule));
}
