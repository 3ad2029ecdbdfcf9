// The binding to the common libraries in one process: the Microsoft-ABI reference pair loaded by
// the "player" first is found by its base name and called in its ABI, with every string freed
// through the manager that made it; without a loaded pair the GCC pair beside the program is
// loaded by the binding and freed again by Release().
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/folders.h"
#include "host/common_libraries.h"
#include "store/update_folders.h"
#include "tests/common/test_files.h"

using namespace testing_support;
using common_libraries::Abi;

namespace {

constexpr wchar_t kCommon[] = L"CadenzaCommon.dll";
constexpr wchar_t kWidget[] = L"CadenzaWidget_MFC.dll";

struct LibraryCounts {
  long made = -1, freed = -1, foreignFrees = -1, assignedThroughOthers = -1;
};
LibraryCounts CountsOf(HMODULE common) {
  LibraryCounts c;
  using Fn = void(__cdecl*)(long*, long*, long*, long*);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(common, "ReferenceStringCounts")));
  if (fn) fn(&c.made, &c.freed, &c.foreignFrees, &c.assignedThroughOthers);
  return c;
}

std::wstring FaceOf(HFONT font) {
  LOGFONTW lf = {};
  return GetObjectW(font, sizeof lf, &lf) ? lf.lfFaceName : L"";
}

class CommonBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    common_libraries::Release();
    ASSERT_EQ(nullptr, GetModuleHandleW(kCommon)) << "this program must not import the libraries";
    SetEnvironmentVariableW(L"CADENZA_APP_VERSION", L"0x00050001");
    SetEnvironmentVariableW(L"CADENZA_LOG_FOLDER", logs.path().c_str());
  }
  void TearDown() override { common_libraries::Release(); }

  // Every function answers as the reference libraries do, whichever ABI they were bound in.
  void ExpectAnswers() {
    EXPECT_EQ(GetModuleFolder(), common_libraries::GetExeFolder());
    EXPECT_EQ(327681u, common_libraries::GetAppVersion());
    std::wstring caption;
    EXPECT_EQ(10, common_libraries::LoadStringW(1217, caption));
    EXPECT_EQ(L"Cadenza 升级", caption);
    std::wstring kept = L"kept";
    EXPECT_EQ(0, common_libraries::LoadStringW(4711, kept));
    EXPECT_EQ(L"kept", kept);
    common_libraries::Log(L"music.txt", L"Upgrade Content:%s", L"第一行\r\n100% 完成");
    EXPECT_NE(std::string::npos, ReadBytes(logs / L"music.txt").find("Upgrade Content:第一行\\n100% 完成"));
    const HFONT font = common_libraries::GetNormalFont();
    ASSERT_NE(nullptr, font);
    EXPECT_EQ(font, common_libraries::GetNormalFont()) << "the library's one font";
    EXPECT_FALSE(FaceOf(font).empty());
  }

  TempFolder logs;
};

TEST_F(CommonBinding, MicrosoftPairLoadedByThePlayerIsCalledInItsOwnAbi) {
  const std::wstring mfc = GetModuleFolder() + L"mfc\\";
  HMODULE common = LoadLibraryExW((mfc + kCommon).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  HMODULE widget = LoadLibraryExW((mfc + kWidget).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(nullptr, common);
  ASSERT_NE(nullptr, widget);
  const LibraryCounts before = CountsOf(common);
  const common_libraries::StringCounts ownBefore = common_libraries::ComponentStringCounts();

  const common_libraries::BindingState bound = common_libraries::CurrentBinding();
  for (Abi abi : {bound.getAppVersion, bound.getExeFolder, bound.loadString, bound.log, bound.getNormalFont})
    EXPECT_EQ(Abi::kMicrosoft, abi);
  EXPECT_FALSE(bound.commonLoadedByUs || bound.widgetLoadedByUs) << "the player's modules, by base name";
  ExpectAnswers();

  // The folder strings the library made came back to it; the caption was written through the
  // component's manager (into its empty string) and freed there.
  const LibraryCounts after = CountsOf(common);
  EXPECT_GT(after.made, before.made);
  EXPECT_EQ(after.made, after.freed);
  EXPECT_EQ(0, after.foreignFrees);
  EXPECT_EQ(before.assignedThroughOthers + 1, after.assignedThroughOthers);
  const common_libraries::StringCounts own = common_libraries::ComponentStringCounts();
  EXPECT_EQ(ownBefore.allocated + 1, own.allocated);
  EXPECT_EQ(own.allocated, own.freed);

  common_libraries::Release();
  EXPECT_EQ(common, GetModuleHandleW(kCommon)) << "not the binding's to free";
  FreeLibrary(widget);
  FreeLibrary(common);
}

TEST_F(CommonBinding, GccPairBesideTheProgramIsLoadedAndFreedAgain) {
  const common_libraries::BindingState bound = common_libraries::CurrentBinding();
  for (Abi abi : {bound.getAppVersion, bound.getExeFolder, bound.loadString, bound.log, bound.getNormalFont})
    EXPECT_EQ(Abi::kGnu, abi);
  EXPECT_TRUE(bound.commonLoadedByUs && bound.widgetLoadedByUs);
  ExpectAnswers();
  common_libraries::Release();
  EXPECT_EQ(nullptr, GetModuleHandleW(kCommon));
  EXPECT_EQ(nullptr, GetModuleHandleW(kWidget));
}

}  // namespace
