// The updater's per-module update record in "CadenzaUpdate.ini" of the update data folder.
#pragma once
#include <windows.h>
#include <string>

#include "store/db_operation.h"

inline constexpr wchar_t kUpdateRecordFileName[] = L"CadenzaUpdate.ini";
inline constexpr wchar_t kUpdateRecordID[] = L"CADENZA_UPDATE_RECORD_ID";

class CUpdateRecordIO {
 public:
  CUpdateRecordIO();
  virtual ~CUpdateRecordIO();

  BOOL Open(LPCWSTR pszFolder);
  BOOL Save(LPCWSTR pszFolder);

  BOOL GetScheduleInstallation(const std::wstring& strModuleType, BOOL& bSchedule);
  BOOL SetScheduleInstallation(const std::wstring& strModuleType, BOOL bSchedule);
  BOOL GetCrisisPack(const std::wstring& strModuleType, BOOL& bCrisisPack);
  BOOL GetVersion(const std::wstring& strModuleType, DWORD& dwVersion, WORD& wPatchNum,
                  WORD& wBuildNum);
  // Reads the eleven keys in order, stopping at the first missing one; strModuleType names the
  // section on the way in and receives the stored module type.
  BOOL GetRecord(BOOL& bCrisisPack, std::wstring& strModuleType, DWORD& dwVersion, WORD& wPatchNum,
                 WORD& wBuildNum, std::wstring& strVersionName, std::wstring& strDescription,
                 std::wstring& strZipFileName, std::wstring& strExeFileName, BYTE* byarHash);

  const std::wstring& Folder() const { return m_strFolder; }

 private:
  CDBOperation m_db;
  std::wstring m_strFolder;
};
