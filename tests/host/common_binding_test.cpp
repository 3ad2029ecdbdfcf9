// The binding to the common libraries in one process: the Microsoft-ABI reference pair loaded by
// the "player" first is found by its base name and called in its ABI, with every string freed
// through the manager that made it; without a loaded pair the GCC pair beside the program is
// loaded by the binding and freed again by Release().
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "adapters/common_libraries.h"
#include "base/folders.h"
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

// What the component tells a debugger: the texts of the debug-print exceptions that
// OutputDebugString raises, kept in a fixed buffer (the handler runs inside the platform's frames).
char g_debugText[8192];
size_t g_debugLength = 0;
LONG CALLBACK RecordDebugPrint(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* r = info->ExceptionRecord;
  constexpr DWORD kPrint = 0x40010006, kWidePrint = 0x4001000A;
  if ((r->ExceptionCode == kPrint || r->ExceptionCode == kWidePrint) && r->NumberParameters >= 2) {
    const ULONG_PTR length = r->ExceptionInformation[0];
    for (ULONG_PTR i = 0; i < length && g_debugLength + 1 < sizeof g_debugText; ++i) {
      const ULONG_PTR c = r->ExceptionCode == kPrint ? reinterpret_cast<const char*>(r->ExceptionInformation[1])[i]
                                                     : reinterpret_cast<const wchar_t*>(r->ExceptionInformation[1])[i];
      if (c != 0) g_debugText[g_debugLength++] = static_cast<char>(c < 0x80 ? c : '?');
    }
    g_debugText[g_debugLength] = 0;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// The debugger output of one binding.
std::string DebugOutputOfBinding(common_libraries::BindingState& bound) {
  g_debugLength = 0;
  g_debugText[0] = 0;
  PVOID handler = AddVectoredExceptionHandler(1, RecordDebugPrint);
  bound = common_libraries::CurrentBinding();
  RemoveVectoredExceptionHandler(handler);
  return g_debugText;
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

TEST_F(CommonBinding, LibrariesThatExportNoneOfTheNamesAreNamedInTheDebuggerOutput) {
  // The player's "libraries" are other modules under the two names: the GCC widget library as
  // CadenzaCommon.dll, the Microsoft common library as CadenzaWidget_MFC.dll.
  TempFolder player;
  const std::wstring bin = GetModuleFolder();
  ASSERT_TRUE(CopyFileW((bin + kWidget).c_str(), (player / kCommon).c_str(), FALSE));
  ASSERT_TRUE(CopyFileW((bin + L"mfc\\" + kCommon).c_str(), (player / kWidget).c_str(), FALSE));
  HMODULE common = LoadLibraryExW((player / kCommon).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  HMODULE widget = LoadLibraryExW((player / kWidget).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_TRUE(common && widget);

  common_libraries::BindingState bound;
  const std::string said = DebugOutputOfBinding(bound);
  for (Abi abi : {bound.getAppVersion, bound.getExeFolder, bound.loadString, bound.log, bound.getNormalFont})
    EXPECT_EQ(Abi::kMissing, abi);
  EXPECT_NE(std::string::npos, said.find("CadenzaCommon.dll loaded by the player from")) << said;
  EXPECT_NE(std::string::npos, said.find("found under no name: cadenza::GetAppVersion, cadenza::GetExeFolder, "
                                         "cadenza::LoadStringW, cadenza::Log\n")) << said;
  EXPECT_NE(std::string::npos, said.find("CadenzaWidget_MFC.dll loaded by the player from")) << said;
  EXPECT_NE(std::string::npos, said.find("found under no name: CCadenzaFont::GetNormalFont\n")) << said;
  EXPECT_EQ(std::wstring(), common_libraries::GetExeFolder());
  common_libraries::Release();
  FreeLibrary(widget);
  FreeLibrary(common);

  // The reference pair: said once, in its ABI, with nothing missing.
  const std::string again = DebugOutputOfBinding(bound);
  EXPECT_NE(std::string::npos, again.find("CadenzaCommon.dll loaded by the component from")) << again;
  EXPECT_NE(std::string::npos, again.find("GCC ABI; every function found")) << again;
  EXPECT_EQ("", DebugOutputOfBinding(bound)) << "a kept binding says nothing again";
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
