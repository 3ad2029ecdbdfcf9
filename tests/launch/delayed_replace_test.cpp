// Delayed replacement of files: the [Rename] entry of wininit.ini in the prefix's real Windows
// folder (saved before and restored after every test), its failure paths, and the platform
// registration that comes first.
#include <gtest/gtest.h>

#include <functional>

#include "launch/delayed_replace.h"
#include "base/text.h"
#include "tests/common/test_files.h"

using namespace testing_support;

namespace {

std::string Utf16(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring ShortPath(const std::wstring& path) {
  wchar_t buffer[2048] = {};
  DWORD length = GetShortPathNameW(path.c_str(), buffer, ARRAYSIZE(buffer));
  return std::wstring(buffer, length < ARRAYSIZE(buffer) ? length : 0);
}

std::wstring WindowsFolder() {
  wchar_t buffer[MAX_PATH] = {};
  GetWindowsDirectoryW(buffer, MAX_PATH);
  return buffer;
}

// Platform calls that report one chosen failure once, and note what wininit.ini looked like then.
class FaultyCalls : public RestartPlatformCalls {
 public:
  enum Step { kNone, kMapView, kUnmapView, kCloseMapping, kSetFileLength };
  FaultyCalls(Step failAt, BOOL registerResult) : failAt_(failAt), registerResult_(registerResult) {}

  BOOL RegisterMove(LPCWSTR existing, LPCWSTR newName, DWORD flags) override {
    registered = std::wstring(existing) + L"|" + (newName ? newName : L"(null)") + L"|" +
                 std::to_wstring(flags);
    return registerResult_;
  }
  LPVOID MapWholeView(HANDLE mapping) override {
    return Fails(kMapView) ? nullptr : RestartPlatformCalls::MapWholeView(mapping);
  }
  BOOL UnmapView(LPCVOID view) override {
    return Fails(kUnmapView) ? FALSE : RestartPlatformCalls::UnmapView(view);
  }
  BOOL CloseMapping(HANDLE mapping) override {
    return Fails(kCloseMapping) ? FALSE : RestartPlatformCalls::CloseMapping(mapping);
  }
  BOOL SetFileLength(HANDLE file, DWORD bytes) override {
    return Fails(kSetFileLength) ? FALSE : RestartPlatformCalls::SetFileLength(file, bytes);
  }

  std::wstring registered;
  ULONGLONG sizeAtFailure = 0;

 private:
  bool Fails(Step step) {
    if (step != failAt_ || failed_) return false;
    failed_ = true;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW((WindowsFolder() + L"\\wininit.ini").c_str(), GetFileExInfoStandard,
                             &data))
      sizeAtFailure = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
  }
  Step failAt_;
  BOOL registerResult_;
  bool failed_ = false;
};

class WininitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wininit = WindowsFolder() + L"\\wininit.ini";
    hadWininit = FileExists(wininit);
    if (hadWininit) saved = ReadBytes(wininit);
    DeleteFileW(wininit.c_str());
    ASSERT_FALSE(FileExists(wininit));
    target = folder / L"CadenzaUpdate.ini";
    ASSERT_TRUE(WriteBytes(target, "[Cadenza]\r\n"));
    targetShort = ShortPath(target);
    ASSERT_FALSE(targetShort.empty());
    ASSERT_NE(target, targetShort) << "the temporary folder should have a distinct short name";
  }
  void TearDown() override {
    DeleteFileW(wininit.c_str());
    if (hadWininit) WriteBytes(wininit, saved);
  }

  std::wstring DeletionLine() const { return L"NUL=" + targetShort + L"\r\n"; }

  TempFolder folder;
  std::wstring wininit, target, targetShort;
  bool hadWininit = false;
  std::string saved;
};

}  // namespace

TEST_F(WininitTest, NewFileHoldsTheHeaderAndTheLine) {
  ASSERT_TRUE(AddWininitRename(target.c_str(), nullptr));
  EXPECT_EQ(Utf16(L"[Rename]\r\n" + DeletionLine()), ReadBytes(wininit));
  EXPECT_TRUE(FileExists(target));  // only registered

  // A rename: an empty placeholder gives the new name its short path; an existing file is kept.
  const std::wstring newName = folder / L"CadenzaUpdate renamed.ini";
  ASSERT_TRUE(AddWininitRename(target.c_str(), newName.c_str()));
  EXPECT_TRUE(FileExists(newName));
  EXPECT_EQ("", ReadBytes(newName));
  const std::wstring renameLine = ShortPath(newName) + L"=" + targetShort + L"\r\n";
  EXPECT_EQ(Utf16(L"[Rename]\r\n" + DeletionLine() + renameLine), ReadBytes(wininit));
  ASSERT_TRUE(WriteBytes(newName, "kept"));
  ASSERT_TRUE(AddWininitRename(target.c_str(), newName.c_str()));
  EXPECT_EQ("kept", ReadBytes(newName));
}

TEST_F(WininitTest, LineGoesIntoTheRenameSection) {
  using namespace std::string_literals;
  struct Case {
    std::wstring before;
    std::wstring after;  // {LINE} stands for the new line
  };
  const Case cases[] = {
      {L"[Other]\r\nA=1\r\n[Rename]\r\nNUL=C:\\OLD.TXT\r\n",
       L"[Other]\r\nA=1\r\n[Rename]\r\nNUL=C:\\OLD.TXT\r\n{LINE}"},
      {L"[Rename]\r\nNUL=C:\\OLD.TXT\r\n[Other]\r\nA=1\r\n[Last]\r\n",
       L"[Rename]\r\nNUL=C:\\OLD.TXT\r\n{LINE}[Other]\r\nA=1\r\n[Last]\r\n"},
      // An empty section directly followed by another one still gets the line.
      {L"[Rename]\r\n[Other]\r\nA=1\r\n", L"[Rename]\r\n{LINE}[Other]\r\nA=1\r\n"},
      // The header is matched exactly: anything else starts a new section at the end.
      {L"[rename]\r\nNUL=C:\\OLD.TXT\r\n", L"[rename]\r\nNUL=C:\\OLD.TXT\r\n[Rename]\r\n{LINE}"},
      {L"[Rename]", L"[Rename][Rename]\r\n{LINE}"},
      // A zero character in the text does not end the search.
      {L"A=1\0\r\n[Rename]\r\n\r\n[B]\r\n"s, L"A=1\0\r\n[Rename]\r\n\r\n{LINE}[B]\r\n"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.before));
    ASSERT_TRUE(WriteBytes(wininit, Utf16(c.before)));
    ASSERT_TRUE(AddWininitRename(target.c_str(), nullptr));
    EXPECT_EQ(Utf16(ReplaceAll(c.after, L"{LINE}", DeletionLine())), ReadBytes(wininit));
  }
}

TEST_F(WininitTest, ByteTextAndOddSizesKeepEveryPresentByte) {
  const std::string line = Utf16(DeletionLine());
  const std::string header = Utf16(L"[Rename]\r\n");
  struct Case {
    std::string before;
    std::string after;
  };
  const std::string even = "[Rename]\r\nNUL=C:\\OLD.TXT\r\n";
  const std::string odd = "[Rename]\r\nNUL=C:\\OLD1.TXT\r\n";
  const std::string rename = Utf16(L"[Rename]\r\nNUL=C:\\A\r\n");
  const std::string other = Utf16(L"[Other]\r\n");
  const Case cases[] = {
      // 8-bit text holds no UTF-16 header: a section is added after it, at an even offset.
      {even, even + header + line},
      {odd, odd + std::string(1, '\0') + header + line},
      // UTF-16 text with a stray last byte: the byte moves with the rest, or is padded.
      {rename + other + "x", rename + line + other + "x"},
      {rename + "x", rename + "x" + std::string(1, '\0') + line},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    ASSERT_TRUE(WriteBytes(wininit, c.before));
    ASSERT_TRUE(AddWininitRename(target.c_str(), nullptr));
    EXPECT_EQ(c.after, ReadBytes(wininit));
  }
}

TEST_F(WininitTest, RefusalsChangeNothing) {
  const std::string before = Utf16(L"[Rename]\r\nNUL=C:\\OLD.TXT\r\n");
  ASSERT_TRUE(WriteBytes(wininit, before));
  const std::wstring newName = folder / L"new name.ini";
  {
    UniqueFile held = HoldOpen(wininit, 0);  // another writer
    ASSERT_TRUE(held);
    EXPECT_FALSE(AddWininitRename(target.c_str(), nullptr));
    EXPECT_FALSE(AddWininitRename(target.c_str(), newName.c_str()));
  }
  EXPECT_EQ(before, ReadBytes(wininit));
  EXPECT_FALSE(FileExists(newName)) << "the placeholder of a failed rename must go";

  EXPECT_FALSE(AddWininitRename((folder / L"missing.ini").c_str(), nullptr));
  EXPECT_FALSE(AddWininitRename((folder / L"missing.ini").c_str(), newName.c_str()));
  EXPECT_FALSE(AddWininitRename(nullptr, nullptr));
  EXPECT_FALSE(FileExists(newName));
  EXPECT_EQ(before, ReadBytes(wininit));

  DeleteFileW(wininit.c_str());
  EXPECT_FALSE(AddWininitRename((folder / L"missing.ini").c_str(), nullptr));
  EXPECT_FALSE(FileExists(wininit));
}

TEST_F(WininitTest, LineOfMoreThan1022CharactersIsRefusedWhole) {
  // Folders of 8.3 names are their own short names, so the line length can be set exactly.
  std::wstring deep = ShortPath(folder.path());
  ASSERT_FALSE(deep.empty());
  for (int i = 0; i < 40; ++i) {
    deep += L"abcdefgh\\";
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
  }
  const std::wstring source = deep + L"a.txt";
  ASSERT_TRUE(WriteBytes(source, "x"));
  ASSERT_EQ(source, ShortPath(source));
  // A new name of exactly the length that gives the wanted line: deeper folders of 7-character
  // names, then a name of 1 to 8 characters and ".ini".
  auto newNameFor = [&](size_t lineLength) {
    const size_t wanted = lineLength - source.size() - 3;  // "=", CR, LF
    std::wstring name = deep;
    while (wanted - name.size() > 12) {
      name += L"abcdefg\\";
      CreateDirectoryW(name.c_str(), nullptr);
    }
    return name + std::wstring(wanted - name.size() - 4, L'n') + L".ini";
  };
  const std::wstring tooLong = newNameFor(1023), longest = newNameFor(1022);
  ASSERT_EQ(1023u, tooLong.size() + 1 + source.size() + 2);

  EXPECT_FALSE(AddWininitRename(source.c_str(), tooLong.c_str()));
  EXPECT_FALSE(FileExists(wininit));
  EXPECT_FALSE(FileExists(tooLong));

  ASSERT_TRUE(AddWininitRename(source.c_str(), longest.c_str()));
  ASSERT_EQ(longest, ShortPath(longest));
  const std::wstring line = longest + L"=" + source + L"\r\n";
  EXPECT_EQ(1022u, line.size());
  EXPECT_EQ(Utf16(L"[Rename]\r\n" + line), ReadBytes(wininit));
}

TEST_F(WininitTest, MappingHeldElsewhereLeavesNoPaddingBehind) {
  // Another mapping of the file forbids shrinking it; the exact length needs no shrinking.
  const std::wstring before = L"[Rename]\r\nNUL=C:\\OLD.TXT\r\n[Other]\r\n";
  ASSERT_TRUE(WriteBytes(wininit, Utf16(before)));
  UniqueKernelHandle mapping;
  {
    UniqueFile file(CreateFileW(wininit.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    mapping.reset(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(mapping);
  }
  EXPECT_TRUE(AddWininitRename(target.c_str(), nullptr));
  mapping.reset();
  EXPECT_EQ(Utf16(ReplaceAll(before, L"[Other]", DeletionLine() + L"[Other]")), ReadBytes(wininit));
}

TEST_F(WininitTest, FailureAfterTheFileGrewPutsItBack) {
  const std::string utf16 = Utf16(L"[Rename]\r\nNUL=C:\\OLD.TXT\r\n[Other]\r\nA=1\r\n");
  const std::string oddBytes = "[boot]\r\nshell=x\r\n";
  const std::wstring newName = folder / L"new name.ini";
  for (auto step : {FaultyCalls::kMapView, FaultyCalls::kUnmapView, FaultyCalls::kCloseMapping,
                    FaultyCalls::kSetFileLength}) {
    for (const std::string* before : {&utf16, &oddBytes, static_cast<const std::string*>(nullptr)}) {
      SCOPED_TRACE(::testing::Message() << "step " << step << ", file " << (before ? *before : "none"));
      DeleteFileW(wininit.c_str());
      if (before) {
        ASSERT_TRUE(WriteBytes(wininit, *before));
      }
      FaultyCalls calls(step, FALSE);
      EXPECT_FALSE(AddWininitRename(target.c_str(), newName.c_str(), calls));
      if (before) {
        EXPECT_GT(calls.sizeAtFailure, before->size()) << "the mapping should have grown the file";
        EXPECT_EQ(*before, ReadBytes(wininit));
      } else {
        EXPECT_GT(calls.sizeAtFailure, 0u);
        EXPECT_FALSE(FileExists(wininit));
      }
      EXPECT_FALSE(FileExists(newName));
    }
  }
}

TEST_F(WininitTest, PlatformRegistrationComesFirst) {
  FaultyCalls registers(FaultyCalls::kNone, TRUE);
  EXPECT_TRUE(MoveFileAtRestart(target.c_str(), nullptr, registers));
  EXPECT_EQ(target + L"|(null)|5", registers.registered);
  EXPECT_FALSE(FileExists(wininit));

  FaultyCalls refuses(FaultyCalls::kNone, FALSE);
  const std::wstring newName = folder / L"renamed.ini";
  EXPECT_TRUE(MoveFileAtRestart(target.c_str(), newName.c_str(), refuses));
  EXPECT_EQ(target + L"|" + newName + L"|5", refuses.registered);
  EXPECT_EQ(Utf16(L"[Rename]\r\n" + ShortPath(newName) + L"=" + targetShort + L"\r\n"),
            ReadBytes(wininit));
}

TEST_F(WininitTest, DeleteFileAtRestartUsesThePlatformRegistration) {
  // Wine keeps the registration in the registry; the value is put back afterwards.
  const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
  const wchar_t kPending[] = L"PendingFileRenameOperations";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                                         KEY_QUERY_VALUE | KEY_SET_VALUE, &key));
  auto readPending = [&](DWORD& type) {
    DWORD bytes = 0;
    std::wstring value;
    type = REG_NONE;
    if (RegQueryValueExW(key, kPending, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS) {
      value.resize(bytes / sizeof(wchar_t) + 1);
      RegQueryValueExW(key, kPending, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes);
      value.resize(bytes / sizeof(wchar_t));
    }
    return value;
  };
  DWORD savedType = REG_NONE;
  const std::wstring savedValue = readPending(savedType);

  EXPECT_TRUE(DeleteFileAtRestart(target.c_str()));
  DWORD type = REG_NONE;
  const std::wstring pending = readPending(type);
  EXPECT_NE(std::wstring::npos, pending.find(target.substr(2))) << Narrow(pending);
  EXPECT_FALSE(FileExists(wininit));

  if (savedType == REG_NONE)
    RegDeleteValueW(key, kPending);
  else
    RegSetValueExW(key, kPending, 0, savedType, reinterpret_cast<const BYTE*>(savedValue.data()),
                   static_cast<DWORD>(savedValue.size() * sizeof(wchar_t)));
  RegCloseKey(key);
}
