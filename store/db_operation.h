// Typed values as key=value lines of one section of a profile (INI) file, in the text forms
// that the component and the updater agree on.
#pragma once
#include <windows.h>
#include <string>

// A profile (INI) file opened as a small database: one section at a time, values read and
// written through the platform's profile functions.
class CDBOperation {
 public:
  CDBOperation();
  virtual ~CDBOperation();

  // Opens the profile file: creates it (zero bytes) when missing, never truncates it; pszID is
  // not used by this form.
  BOOL OpenDB(LPCWSTR pszID, LPCWSTR pszFilePath);
  // Saves the profile file: every write has already reached it, so always TRUE.
  BOOL SaveDB(LPCWSTR pszID, LPCWSTR pszFilePath);
  BOOL SetSection(LPCWSTR pszSection);

  // Reads leave the output unchanged and return FALSE when the key is missing.
  BOOL ReadInt(LPCWSTR pszKey, DWORD& dwValue);
  BOOL ReadWord(LPCWSTR pszKey, WORD& wValue);
  BOOL ReadBool(LPCWSTR pszKey, BOOL& bValue);
  BOOL ReadString(LPCWSTR pszKey, std::wstring& strValue);
  // TRUE whenever the key exists, also when its text is not valid hex (the buffer is then kept).
  BOOL ReadBytes(LPCWSTR pszKey, BYTE* pBuffer, int nSize);

  BOOL WriteInt(LPCWSTR pszKey, const int& nValue);
  BOOL WriteBool(LPCWSTR pszKey, const BOOL& bValue);
  BOOL WriteString(LPCWSTR pszKey, const std::wstring& strValue);

 protected:
  std::wstring m_strFilePath;
  std::wstring m_strSection;
};
