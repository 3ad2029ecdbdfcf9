// The pull request for the updater in "CadenzaUpdatePush.ini", section Common.
#pragma once
#include <windows.h>
#include <string>

#include "store/db_operation.h"

inline constexpr wchar_t kPushFileName[] = L"CadenzaUpdatePush.ini";
inline constexpr wchar_t kPushStoreID[] = L"CADENZA_UPDATE_PUSH_XML";

class CPushUpdateInfoIO {
 public:
  // Opens (creating when missing) the file in the default update data folder.
  CPushUpdateInfoIO();
  virtual ~CPushUpdateInfoIO();

  BOOL Open(LPCWSTR pszFolder);
  // Neither moves nor copies the file: the values stay where the constructor opened it.
  BOOL Save(LPCWSTR pszFolder);

  BOOL SetClientUpdateSetting(int nSetting);
  BOOL SetHasForceUpdate(BOOL bForce);
  BOOL SetHasHPU(BOOL bHasHPU);
  BOOL SetModuleType(const std::wstring& strModuleType);
  BOOL SetOtherBuffer(const std::wstring& strOther);

  const std::wstring& Folder() const { return m_strFolder; }

 private:
  CDBOperation m_db;
  std::wstring m_strFolder;
};
