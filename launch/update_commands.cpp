// Updater command lines over the update record and the push file.
#include "launch/update_commands.h"

#include "base/folders.h"
#include "launch/process_launcher.h"
#include "launch/delayed_replace.h"
#include "store/push_update_info.h"
#include "base/text.h"
#include "store/update_folders.h"
#include "store/update_record.h"

namespace {

// What the install tests learn from the record before deciding.
struct PendingPackage {
  std::wstring folder;
  BOOL bCrisisPack = FALSE;
  DWORD dwVersion = 0;
  WORD wPatchNum = 0;
  WORD wBuildNum = 0;
  bool newer = false;
};

// The steps both install operations share: the record must schedule an installation and hold
// the crisis flag and the version triple. FALSE ends the operation with E_FAIL.
BOOL ReadPendingPackage(CUpdateRecordIO& record, LPCWSTR pszModuleType, DWORD dwCurVersion,
                        LPCWSTR pszUpdaterPath, WORD wCurBuild, PendingPackage& package) {
  if (pszModuleType == nullptr || pszUpdaterPath == nullptr) return FALSE;
  package.folder = GetUpdateDataFolder(pszUpdaterPath);
  CreateFolderPath(package.folder);
  if (!record.Open(package.folder.c_str())) return FALSE;

  const std::wstring moduleType = pszModuleType;
  BOOL bSchedule = FALSE;
  if (!record.GetScheduleInstallation(moduleType, bSchedule) || !bSchedule) return FALSE;
  if (!record.GetCrisisPack(moduleType, package.bCrisisPack)) return FALSE;
  if (!record.GetVersion(moduleType, package.dwVersion, package.wPatchNum, package.wBuildNum))
    return FALSE;
  // The patch number plays no part: version first, the build only between equal versions.
  package.newer = package.dwVersion > dwCurVersion ||
                  (package.dwVersion == dwCurVersion && package.wBuildNum > wCurBuild);
  return TRUE;
}

}  // namespace

// A package that is not newer than the running one will never be installed: clear its schedule
// flag, or remove the record when the flag cannot be written (now, or at the next restart).
void RetireStaleRecord(CUpdateRecordIO& record, const std::wstring& moduleType,
                       const std::wstring& folder) {
  if (record.SetScheduleInstallation(moduleType, FALSE) && record.Save(folder.c_str())) return;
  const std::wstring path = FormatText(L"%ls%ls", folder.c_str(), kUpdateRecordFileName);
  if (!DeleteFileW(path.c_str())) DeleteFileAtRestart(path.c_str());
}

HRESULT QueryPendingInstall(LPCWSTR pszModuleType, DWORD dwCurVersion, LPCWSTR pszUpdaterPath,
                            WORD wCurBuild, BOOL& bAvailable, std::wstring& strDescription,
                            DWORD& dwPackageVersion) {
  CUpdateRecordIO record;
  PendingPackage package;
  if (!ReadPendingPackage(record, pszModuleType, dwCurVersion, pszUpdaterPath, wCurBuild, package))
    return E_FAIL;
  if (!package.newer) return E_FAIL;

  BOOL bCrisisPack = FALSE;
  std::wstring moduleType = pszModuleType;
  DWORD dwVersion = 0;
  WORD wPatchNum = 0, wBuildNum = 0;
  std::wstring versionName, description, zipFileName, exeFileName;
  BYTE hash[16] = {};
  if (!record.GetRecord(bCrisisPack, moduleType, dwVersion, wPatchNum, wBuildNum, versionName,
                        description, zipFileName, exeFileName, hash))
    return E_FAIL;
  // Outputs change only on success, so a caller's values survive every failure.
  strDescription = description;
  dwPackageVersion = dwVersion;
  bAvailable = TRUE;
  return S_OK;
}

HRESULT LaunchPendingInstall(LPCWSTR pszModuleType, DWORD dwCurVersion, LPCWSTR pszUpdaterPath,
                             WORD wCurBuild) {
  CUpdateRecordIO record;
  PendingPackage package;
  if (!ReadPendingPackage(record, pszModuleType, dwCurVersion, pszUpdaterPath, wCurBuild, package))
    return E_FAIL;
  if (!package.newer) {
    RetireStaleRecord(record, pszModuleType, package.folder);
    return E_FAIL;
  }
  const std::wstring line = FormatText(kInstallLineFormat, pszUpdaterPath, pszModuleType,
                                       package.bCrisisPack ? kCrisisPackSwitch : L"");
  if (!ExecuteCmdLine(line.c_str())) return E_FAIL;
  return package.bCrisisPack ? S_OK : S_FALSE;
}

HRESULT LaunchManualUpdate(LPCWSTR pszUpdaterPath, LPCWSTR pszTarget, BOOL bLatest) {
  if (pszUpdaterPath == nullptr) return E_FAIL;
  std::wstring specific;
  if (pszTarget != nullptr)
    specific = FormatText(bLatest ? kSpecificLatestFormat : kSpecificFormat, pszTarget);
  const std::wstring line = FormatText(kManualLineFormat, pszUpdaterPath, specific.c_str(), L"");
  return ExecuteCmdLine(line.c_str()) ? S_OK : E_FAIL;
}

HRESULT LaunchPullUpdate(LPCWSTR pszUpdaterPath, int nClientUpdateSetting, BOOL bHasHPU,
                         BOOL bHasForceUpdate, LPCWSTR pszModuleType,
                         const std::wstring& strOtherBuffer) {
  if (pszUpdaterPath == nullptr || pszModuleType == nullptr) return E_FAIL;
  const std::wstring folder = GetUpdateDataFolder(pszUpdaterPath);
  CreateFolderPath(folder);

  CPushUpdateInfoIO push;  // opens the push file in the default update data folder
  push.SetClientUpdateSetting(nClientUpdateSetting);
  push.SetHasForceUpdate(bHasForceUpdate);
  push.SetHasHPU(bHasHPU);
  push.SetModuleType(pszModuleType);
  push.SetOtherBuffer(strOtherBuffer);
  if (!push.Save(folder.c_str())) return E_FAIL;

  const std::wstring line = FormatText(kPullLineFormat, pszUpdaterPath, L"");
  return ExecuteCmdLine(line.c_str()) ? S_OK : E_FAIL;
}
