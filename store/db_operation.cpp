// Profile-file store: integers in decimal, BOOLs as integers, CR LF as backslash-n, bytes as hex.
#include "store/db_operation.h"

#include <algorithm>

#include <shlwapi.h>

#include <vector>

#include "base/handles.h"
#include "base/text.h"
#include "store/update_folders.h"

namespace {

constexpr wchar_t kDefaultSection[] = L"Common";
constexpr wchar_t kMissingString[] = L"NULL_STRING";  // default that tells a missing key from ""
constexpr DWORD kMissingInt = 0xFFFFFFFF;
constexpr wchar_t kLineBreak[] = L"\r\n";
constexpr wchar_t kEscapedLineBreak[] = L"\\n";
constexpr DWORD kFirstReadChars = 1024;
constexpr size_t kMostReadChars = size_t{1} << 26;

}  // namespace

CDBOperation::CDBOperation() : m_strSection(kDefaultSection) {}

CDBOperation::~CDBOperation() = default;

BOOL CDBOperation::OpenDB(LPCWSTR /*pszID*/, LPCWSTR pszFilePath) {
  if (pszFilePath == nullptr || pszFilePath[0] == L'\0') return FALSE;
  UniqueFile file(CreateFileW(pszFilePath, GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return FALSE;
  m_strFilePath = pszFilePath;
  return TRUE;
}

BOOL CDBOperation::SaveDB(LPCWSTR /*pszID*/, LPCWSTR /*pszFilePath*/) { return TRUE; }

BOOL CDBOperation::SetSection(LPCWSTR pszSection) {
  m_strSection = pszSection ? pszSection : L"";
  return TRUE;
}

BOOL CDBOperation::ReadInt(LPCWSTR pszKey, DWORD& dwValue) {
  if (m_strFilePath.empty()) return FALSE;
  UINT value = GetPrivateProfileIntW(m_strSection.c_str(), pszKey, static_cast<INT>(kMissingInt),
                                     m_strFilePath.c_str());
  if (value == kMissingInt) return FALSE;
  dwValue = value;
  return TRUE;
}

BOOL CDBOperation::ReadWord(LPCWSTR pszKey, WORD& wValue) {
  DWORD value = 0;
  if (!ReadInt(pszKey, value)) return FALSE;
  wValue = LOWORD(value);
  return TRUE;
}

BOOL CDBOperation::ReadBool(LPCWSTR pszKey, BOOL& bValue) {
  DWORD value = 0;
  if (!ReadInt(pszKey, value)) return FALSE;
  bValue = value != 0 ? TRUE : FALSE;
  return TRUE;
}

BOOL CDBOperation::ReadString(LPCWSTR pszKey, std::wstring& strValue) {
  if (m_strFilePath.empty()) return FALSE;
  // A value that does not fit the first buffer is read once more into one as long as the
  // file (no value is longer), so that a long description is read whole in two reads: every
  // read of a long value costs time in proportion to it.
  std::vector<wchar_t> buffer(kFirstReadChars);
  DWORD n = 0;
  for (;;) {
    n = GetPrivateProfileStringW(m_strSection.c_str(), pszKey, kMissingString, buffer.data(),
                                 static_cast<DWORD>(buffer.size()), m_strFilePath.c_str());
    if (n + 1 < buffer.size() || buffer.size() >= kMostReadChars) break;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    size_t next = buffer.size() * 4;
    if (GetFileAttributesExW(m_strFilePath.c_str(), GetFileExInfoStandard, &data) &&
        data.nFileSizeHigh == 0 && data.nFileSizeLow + 2u > next)
      next = data.nFileSizeLow + 2u;
    buffer.resize(std::min<size_t>(next, kMostReadChars));
  }
  buffer[n] = L'\0';
  if (StrCmpW(buffer.data(), kMissingString) == 0) return FALSE;
  strValue = ReplaceAll(std::wstring(buffer.data(), n), kEscapedLineBreak, kLineBreak);
  return TRUE;
}

BOOL CDBOperation::ReadBytes(LPCWSTR pszKey, BYTE* pBuffer, int nSize) {
  std::wstring text;
  if (!ReadString(pszKey, text)) return FALSE;
  HexStringToBytes(pBuffer, text, nSize > 0 ? static_cast<UINT>(nSize) : 0);
  return TRUE;
}

BOOL CDBOperation::WriteInt(LPCWSTR pszKey, const int& nValue) {
  wchar_t text[16] = {};
  _itow_s(nValue, text, 16, 10);
  return WriteString(pszKey, text);
}

BOOL CDBOperation::WriteBool(LPCWSTR pszKey, const BOOL& bValue) {
  return WriteInt(pszKey, static_cast<int>(bValue));
}

BOOL CDBOperation::WriteString(LPCWSTR pszKey, const std::wstring& strValue) {
  if (m_strFilePath.empty()) return FALSE;
  std::wstring stored = ReplaceAll(strValue, kLineBreak, kEscapedLineBreak);
  return WritePrivateProfileStringW(m_strSection.c_str(), pszKey, stored.c_str(),
                                    m_strFilePath.c_str())
             ? TRUE
             : FALSE;
}
