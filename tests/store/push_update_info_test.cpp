// The pull request file in the default update data folder.
#include <gtest/gtest.h>

#include "store/push_update_info.h"
#include "store/update_folders.h"
#include "tests/common/test_files.h"

using namespace testing_support;

namespace {

// Creates the default update data folder for the test and removes it afterwards.
class PushUpdateInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = GetDefaultUpdateDataFolder();
    RemoveTree(folder);
    CreateDirectoryW((GetAppDataFolder() + L"CadenzaUpdate").c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  }
  void TearDown() override { RemoveTree(folder); }
  void Request(const std::wstring& moduleType, const wchar_t* saveFolder) {
    CPushUpdateInfoIO io;
    io.SetClientUpdateSetting(0);
    io.SetHasForceUpdate(TRUE);
    io.SetHasHPU(TRUE);
    io.SetModuleType(moduleType);
    io.SetOtherBuffer(L"");
    EXPECT_TRUE(io.Save(saveFolder));
  }
  std::wstring folder;
};

}  // namespace

TEST_F(PushUpdateInfoTest, WritesTheRequestAndChangesItInPlace) {
  Request(L"Cadenza", nullptr);
  const std::wstring path = folder + L"CadenzaUpdatePush.ini";
  EXPECT_EQ(L"[Common]\r\nPULL_CLIENT_UPDATE_SETTING=0\r\nPULL_HAS_FORCE_UPDATE=1\r\n"
            L"PULL_HAS_HPU=1\r\nPULL_MODULE_TYPE=Cadenza\r\nPULL_OTHER_BUFFER=\r\n",
            ReadText(path));
  Request(L"CadenzaAddin", nullptr);
  EXPECT_EQ(L"[Common]\r\nPULL_CLIENT_UPDATE_SETTING=0\r\nPULL_HAS_FORCE_UPDATE=1\r\n"
            L"PULL_HAS_HPU=1\r\nPULL_MODULE_TYPE=CadenzaAddin\r\nPULL_OTHER_BUFFER=\r\n",
            ReadText(path));
}

TEST_F(PushUpdateInfoTest, EscapesLineBreaksAndSaveMovesNothing) {
  TempFolder other;
  {
    CPushUpdateInfoIO io;
    EXPECT_TRUE(io.SetOtherBuffer(L"a\r\nb"));
    EXPECT_TRUE(io.Save(other.path().c_str()));
    EXPECT_EQ(other.path(), io.Folder());
  }
  EXPECT_EQ(L"[Common]\r\nPULL_OTHER_BUFFER=a\\nb\r\n", ReadText(folder + L"CadenzaUpdatePush.ini"));
  EXPECT_FALSE(FileExists(other / L"CadenzaUpdatePush.ini"));
}

TEST_F(PushUpdateInfoTest, MissingDefaultFolderMakesSettersFail) {
  RemoveTree(folder);
  CPushUpdateInfoIO io;
  EXPECT_FALSE(io.SetClientUpdateSetting(0));
  EXPECT_FALSE(io.SetModuleType(L"Cadenza"));
  EXPECT_TRUE(io.Save(nullptr));
  EXPECT_FALSE(FolderExists(folder));
}
