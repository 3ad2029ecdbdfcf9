// The profile store's text forms through real files, and its behaviour on bad input.
#include <gtest/gtest.h>

#include <random>

#include "store/db_operation.h"
#include "tests/common/test_files.h"

using namespace testing_support;

namespace {

class DBOperationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = folder / L"store.ini";
    ASSERT_TRUE(db.OpenDB(L"ID", path.c_str()));
  }
  TempFolder folder;
  std::wstring path;
  CDBOperation db;
};

}  // namespace

TEST_F(DBOperationTest, OpenCreatesAnEmptyFileAndNeverTruncates) {
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ("", ReadBytes(path));
  ASSERT_TRUE(WriteBytes(path, "[Common]\r\nA=1\r\n"));
  CDBOperation again;
  EXPECT_TRUE(again.OpenDB(L"ID", path.c_str()));
  EXPECT_EQ("[Common]\r\nA=1\r\n", ReadBytes(path));
  DWORD value = 0;
  EXPECT_TRUE(again.ReadInt(L"A", value));  // a new store reads section Common
  EXPECT_EQ(1u, value);
}

TEST_F(DBOperationTest, OpenFailsInAMissingFolderOrOnAHeldFile) {
  CDBOperation other;
  EXPECT_FALSE(other.OpenDB(L"ID", (folder / L"missing\\store.ini").c_str()));
  EXPECT_FALSE(FolderExists(folder / L"missing"));
  DWORD value = 7;
  EXPECT_FALSE(other.ReadInt(L"A", value));  // no file path: reads report missing...
  EXPECT_EQ(7u, value);
  EXPECT_FALSE(other.WriteInt(L"A", 1));     // ...and writes fail
  auto held = HoldOpen(path, 0);
  ASSERT_TRUE(held);
  EXPECT_FALSE(other.OpenDB(L"ID", path.c_str()));
  EXPECT_TRUE(other.SaveDB(L"ID", (folder / L"never.ini").c_str()));
  EXPECT_FALSE(FileExists(folder / L"never.ini"));
}

TEST_F(DBOperationTest, IntegersWordsAndBools) {
  EXPECT_TRUE(db.WriteInt(L"Int", -5));
  EXPECT_TRUE(db.WriteInt(L"Big", 70000));
  EXPECT_TRUE(db.WriteBool(L"Five", 5));  // stored as is, not reduced to 1
  EXPECT_TRUE(db.WriteBool(L"No", FALSE));
  EXPECT_TRUE(db.WriteInt(L"MinusOne", -1));
  EXPECT_EQ(L"[Common]\r\nInt=-5\r\nBig=70000\r\nFive=5\r\nNo=0\r\nMinusOne=-1\r\n", ReadText(path));

  DWORD dw = 0;
  EXPECT_TRUE(db.ReadInt(L"Int", dw));
  EXPECT_EQ(static_cast<DWORD>(-5), dw);
  WORD w = 0;
  EXPECT_TRUE(db.ReadWord(L"Big", w));
  EXPECT_EQ(4464, w);  // the low 16 bits of 70000
  BOOL b = 9;
  EXPECT_TRUE(db.ReadBool(L"Five", b));
  EXPECT_EQ(1, b);
  EXPECT_TRUE(db.ReadBool(L"No", b));
  EXPECT_EQ(0, b);

  // -1 and a missing key read as missing; outputs stay.
  dw = 42;
  EXPECT_FALSE(db.ReadInt(L"MinusOne", dw));
  EXPECT_FALSE(db.ReadInt(L"Nothing", dw));
  EXPECT_EQ(42u, dw);
  w = 3;
  EXPECT_FALSE(db.ReadWord(L"Nothing", w));
  EXPECT_EQ(3, w);
  b = 2;
  EXPECT_FALSE(db.ReadBool(L"Nothing", b));
  EXPECT_EQ(2, b);
}

TEST_F(DBOperationTest, StringsEscapeLineBreaksAndKnowTheSentinel) {
  EXPECT_TRUE(db.WriteString(L"Two", L"line1\r\nline2"));
  EXPECT_TRUE(db.WriteString(L"Empty", L""));
  EXPECT_EQ(L"[Common]\r\nTwo=line1\\nline2\r\nEmpty=\r\n", ReadText(path));
  // A lone CR or LF is not escaped (the file then holds whatever the platform makes of it).
  EXPECT_TRUE(db.WriteString(L"Lone", L"a\rb\nc"));
  EXPECT_EQ(std::wstring::npos, ReadText(path).find(L"a\\n"));

  std::wstring s;
  EXPECT_TRUE(db.ReadString(L"Two", s));
  EXPECT_EQ(L"line1\r\nline2", s);
  EXPECT_TRUE(db.ReadString(L"Empty", s));
  EXPECT_EQ(L"", s);

  ASSERT_TRUE(WriteBytes(path, "[Common]\r\nSentinel=NULL_STRING\r\nLower=null_string\r\n"
                               "Literal=C:\\new\\name\r\n"));
  s = L"kept";
  EXPECT_FALSE(db.ReadString(L"Sentinel", s));
  EXPECT_FALSE(db.ReadString(L"Missing", s));
  EXPECT_EQ(L"kept", s);
  EXPECT_TRUE(db.ReadString(L"Lower", s));
  EXPECT_EQ(L"null_string", s);
  EXPECT_TRUE(db.ReadString(L"Literal", s));  // a backslash-n meant literally still breaks the line
  EXPECT_EQ(L"C:\r\new\r\name", s);
}

TEST_F(DBOperationTest, SectionsAndKeysMatchWithoutRegardToCase) {
  ASSERT_TRUE(WriteBytes(path, "[cadenza]\r\nkey=1\r\n[Other]\r\nKey=2\r\n"));
  DWORD value = 0;
  EXPECT_TRUE(db.SetSection(L"CADENZA"));
  EXPECT_TRUE(db.ReadInt(L"KEY", value));
  EXPECT_EQ(1u, value);
  EXPECT_TRUE(db.SetSection(L"other"));
  EXPECT_TRUE(db.ReadInt(L"key", value));
  EXPECT_EQ(2u, value);
}

TEST_F(DBOperationTest, BytesAreHexText) {
  ASSERT_TRUE(WriteBytes(path, "[Common]\r\nUpper=000102030405060708090A0B0C0D0EFF\r\n"
                               "Lower=ffeeddccbbaa99887766554433221100\r\nBad=xyz\r\n"
                               "Long=000102030405060708090A0B0C0D0E0F10\r\n"));
  BYTE hash[17] = {};
  hash[16] = 0xAB;  // guard byte past the 16-byte capacity
  EXPECT_TRUE(db.ReadBytes(L"Upper", hash, 16));
  EXPECT_EQ(0x00, hash[0]);
  EXPECT_EQ(0x0E, hash[14]);
  EXPECT_EQ(0xFF, hash[15]);
  EXPECT_TRUE(db.ReadBytes(L"Lower", hash, 16));
  EXPECT_EQ(0xFF, hash[0]);
  EXPECT_EQ(0x00, hash[15]);
  // Undecodable or too long: TRUE (the key exists), buffer unchanged, nothing past it.
  EXPECT_TRUE(db.ReadBytes(L"Bad", hash, 16));
  EXPECT_EQ(0xFF, hash[0]);
  EXPECT_TRUE(db.ReadBytes(L"Long", hash, 16));
  EXPECT_EQ(0xFF, hash[0]);
  EXPECT_EQ(0xAB, hash[16]);
  EXPECT_FALSE(db.ReadBytes(L"Missing", hash, 16));
}

TEST_F(DBOperationTest, LongValuesAreReadWhole) {
  std::wstring longText(100000, L'x');
  longText[0] = L'<';
  longText.back() = L'>';
  EXPECT_TRUE(db.WriteString(L"Long", longText));
  std::wstring back;
  EXPECT_TRUE(db.ReadString(L"Long", back));
  EXPECT_EQ(longText.size(), back.size());
  EXPECT_EQ(longText, back);
  // Lengths right at the first buffer's edge.
  for (size_t n : {1022u, 1023u, 1024u, 1025u}) {
    std::wstring edge(n, L'e');
    EXPECT_TRUE(db.WriteString(L"Edge", edge));
    EXPECT_TRUE(db.ReadString(L"Edge", back));
    EXPECT_EQ(n, back.size());
  }
}

TEST_F(DBOperationTest, BinaryGarbageAndLinesWithoutEqualsReadAsMissing) {
  std::mt19937 random(1234);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  garbage += "\r\nNoEquals\r\n";
  ASSERT_TRUE(WriteBytes(path, garbage));
  DWORD value = 99;
  std::wstring text = L"kept";
  EXPECT_FALSE(db.ReadInt(L"NoEquals", value));
  EXPECT_FALSE(db.ReadString(L"NoEquals", text));
  EXPECT_FALSE(db.ReadInt(L"Anything", value));
  EXPECT_EQ(99u, value);
  EXPECT_EQ(L"kept", text);
}

TEST_F(DBOperationTest, WritesFailOnAFileHeldWithoutSharing) {
  ASSERT_TRUE(db.WriteInt(L"A", 1));
  const std::string before = ReadBytes(path);
  {
    auto held = HoldOpen(path, FILE_SHARE_READ);  // no write sharing
    ASSERT_TRUE(held);
    EXPECT_FALSE(db.WriteInt(L"A", 2));
    EXPECT_FALSE(db.WriteString(L"B", L"text"));
  }
  EXPECT_EQ(before, ReadBytes(path));
}
