// The ground floor on its own: handle owners, text helpers, folder helpers, the plain COM object.
#include <windows.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include "base/com_object.h"
#include "base/folders.h"
#include "base/handles.h"
#include "base/largest_fitting.h"
#include "base/text.h"
#include "tests/common/test_files.h"

using namespace testing_support;

namespace {

TEST(UniqueHandle, OwnsMovesAndClosesKeepingTheCallersLastError) {
  UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const HANDLE raw = event.get();
  UniqueKernelHandle moved(std::move(event));
  EXPECT_FALSE(event);
  EXPECT_EQ(raw, moved.get());

  // Closing between a failure and its report leaves the failure's code in place.
  SetLastError(ERROR_SHARING_VIOLATION);
  moved.reset();
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(moved);
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(raw, 0)) << "closed by reset";

  UniqueKernelHandle kept(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  const HANDLE released = kept.release();
  EXPECT_FALSE(kept);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(released, 0)) << "release does not close";
  CloseHandle(released);

  // Files count INVALID_HANDLE_VALUE as none, BSTRs NULL (what a failed allocation gives).
  EXPECT_FALSE(UniqueFile());
  EXPECT_TRUE(UniqueFile(nullptr)) << "NULL is a value, not the file owner's none";
  UniqueBstr text(SysAllocString(L"skin"));
  EXPECT_EQ(4u, SysStringLen(text.get()));
}

TEST(FormatText, FormatsWideAndNarrowTextOfAnyLength) {
  EXPECT_EQ(L"3 ab cd 0x1f", FormatText(L"%d %ls %hs 0x%x", 3, L"ab", "cd", 31));
  const std::wstring longText(5000, L'x');
  EXPECT_EQ(L"[" + longText + L"]", FormatText(L"[%ls]", longText.c_str())) << "past the first buffer";
  EXPECT_EQ(L"", FormatText(L""));
  EXPECT_EQ(L"100%", FormatText(L"%d%%", 100));
}

TEST(TextHelpers, ReplaceAllAndLowerAscii) {
  EXPECT_EQ(L"a--b--", ReplaceAll(L"a\nb\n", L"\n", L"--"));
  EXPECT_EQ(L"aaaa", ReplaceAll(L"aa", L"a", L"aa")) << "replacements are not searched again";
  EXPECT_EQ(L"same", ReplaceAll(L"same", L"", L"x"));
  EXPECT_EQ(L"c:\\cadenza\\\x00C4", LowerAscii(L"C:\\Cadenza\\\x00C4")) << "only A-Z";
}

TEST(HexText, EncodesAndDecodes) {
  const BYTE bytes[] = {0x00, 0x0F, 0xA0, 0xFF};
  std::wstring text = L"junk";
  EXPECT_TRUE(BytesToHexString(text, bytes, 4));
  EXPECT_EQ(L"000FA0FF", text);
  EXPECT_TRUE(BytesToHexString(text, bytes, 0));
  EXPECT_EQ(L"", text);

  BYTE out[4] = {0x55, 0x55, 0x55, 0x55};
  std::wstring mixed = L"0a1B";
  EXPECT_TRUE(HexStringToBytes(out, mixed, sizeof(out)));
  EXPECT_EQ(L"0a1B", mixed);  // the caller's text is left as it was
  EXPECT_EQ(0x0A, out[0]);
  EXPECT_EQ(0x1B, out[1]);
  EXPECT_EQ(0x55, out[2]);
}

TEST(HexText, RejectsBadTextWithoutWriting) {
  BYTE out[4] = {0x55, 0x55, 0x55, 0x55};
  for (std::wstring bad : {L"ABC", L"", L"0G", L"12 4", L"0x12"}) {
    EXPECT_FALSE(HexStringToBytes(out, bad, sizeof(out))) << Narrow(bad);
  }
  // More bytes than the buffer holds: rejected, nothing written past (or into) the buffer.
  BYTE guarded[6] = {0x55, 0x55, 0x55, 0x55, 0xEE, 0xEE};
  std::wstring tooLong = L"0102030405";
  EXPECT_FALSE(HexStringToBytes(guarded, tooLong, 4));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(0x55, guarded[i]);
  EXPECT_EQ(0xEE, guarded[4]);
  std::wstring exact = L"01020304";
  EXPECT_TRUE(HexStringToBytes(guarded, exact, 4));
  EXPECT_EQ(0x04, guarded[3]);
  EXPECT_EQ(0xEE, guarded[4]);
}

TEST(CreateFolderPath, CreatesEachMissingFolderThatEndsInABackslash) {
  TempFolder root;
  EXPECT_TRUE(CreateFolderPath(root / L"a\\b\\c\\"));
  EXPECT_TRUE(FolderExists(root / L"a\\b\\c"));
  EXPECT_TRUE(CreateFolderPath(root / L"a\\b\\c\\"));  // all there already
  EXPECT_TRUE(CreateFolderPath(root / L"x\\leaf"));     // no trailing backslash: leaf not made
  EXPECT_TRUE(FolderExists(root / L"x"));
  EXPECT_FALSE(FolderExists(root / L"x\\leaf"));

  ASSERT_TRUE(WriteBytes(root / L"file", "x"));
  EXPECT_FALSE(CreateFolderPath(root / L"file\\sub\\"));
  EXPECT_FALSE(FolderExists(root / L"file\\sub"));
  EXPECT_FALSE(CreateFolderPath(L"\\\\server\\share\\folder\\"));  // empty first prefix
}

TEST(ModuleFolder, IsTheWholeFolderAlsoBelowALongPath) {
  wchar_t self[MAX_PATH] = {};
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
  EXPECT_EQ(FolderOf(self), GetModuleFolder());
  EXPECT_EQ(GetModuleFolder(), ModuleFolderOf(nullptr));
  EXPECT_EQ(L"", FolderOf(L"no-folder.dll"));

  // A library whose full name is longer than MAX_PATH: its folder comes whole, not cut.
  TempFolder root;
  std::wstring deep = root.path();
  while (deep.size() < MAX_PATH + 40) deep += L"installation-folder-of-a-player\\";
  ASSERT_TRUE(CreateFolderPath(deep));
  wchar_t system[MAX_PATH] = {};
  ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
  const std::wstring library = deep + L"copied.dll";
  ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\version.dll").c_str(), library.c_str(), FALSE));
  HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(nullptr, module) << GetLastError();
  EXPECT_EQ(deep, ModuleFolderOf(module));
  FreeLibrary(module);
}

TEST(LargestFitting, FindsTheLastFittingValueFromAnyGuessNeverTryingTheLowest) {
  for (size_t low = 0; low < 3; ++low) {
    for (size_t high = low; high < 40; ++high) {
      for (size_t answer = low; answer <= high; ++answer) {
        for (size_t guess = 0; guess <= high + 2; ++guess) {
          bool triedOutside = false;
          auto fits = [&](size_t n) {
            triedOutside = triedOutside || n <= low || n > high;
            return n <= answer;
          };
          ASSERT_EQ(answer, LargestFitting(low, high, guess, fits))
              << "low " << low << " high " << high << " guess " << guess;
          ASSERT_FALSE(triedOutside) << "low " << low << " high " << high << " guess " << guess;
        }
      }
    }
  }
}

TEST(LargestFitting, AnAnswerNearTheGuessCostsFewTriesInAWideRange) {
  // The fold's case: tens of thousands of possible cuts, the answer a few characters off.
  for (size_t offset : {0u, 1u, 5u, 30u}) {
    for (bool above : {true, false}) {
      const size_t guess = 20000, answer = above ? guess + offset : guess - offset;
      int tries = 0;
      auto fits = [&](size_t n) {
        ++tries;
        return n <= answer;
      };
      EXPECT_EQ(answer, LargestFitting(0, 65536, guess, fits));
      EXPECT_LE(tries, 13) << "offset " << offset << (above ? " above" : " below");
    }
  }
}

// An object answering IPersistStream and the IPersist it derives from, counting its deletion.
class Persisted : public ComObject<IPersistStream, IPersist> {
 public:
  explicit Persisted(int& deleted) : deleted_(deleted) {}
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

 private:
  ~Persisted() override { ++deleted_; }
  int& deleted_;
};

TEST(ComObject, AnswersEachInterfaceWithOneCountAndIsDeletedAtZero) {
  int deleted = 0;
  auto* object = new Persisted(deleted);
  void* asked = nullptr;
  for (REFIID iid : {IID_IUnknown, IID_IPersistStream, IID_IPersist}) {
    ASSERT_EQ(S_OK, object->QueryInterface(iid, &asked));
    EXPECT_EQ(static_cast<IPersistStream*>(object), asked);
  }
  EXPECT_EQ(5u, object->AddRef()) << "one count for the object, whichever interface was asked";
  asked = object;
  EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(IID_IStream, &asked));
  EXPECT_EQ(nullptr, asked);
  EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IUnknown, nullptr));
  for (ULONG left = 4; left > 0; --left) EXPECT_EQ(left, object->Release());
  EXPECT_EQ(0, deleted);
  EXPECT_EQ(0u, object->Release());
  EXPECT_EQ(1, deleted);
}

}  // namespace
