// The updater's command lines: the pending-package test, and the install, manual and pull
// launches that start CadenzaUpdate.exe in the mode the command line selects.
#pragma once
#include <windows.h>
#include <string>

// S_OK with bAvailable TRUE, the package's description and version when a newer downloaded
// package waits for the module; E_FAIL (outputs untouched) otherwise.
HRESULT QueryPendingInstall(LPCWSTR pszModuleType, DWORD dwCurVersion, LPCWSTR pszUpdaterPath,
                            WORD wCurBuild, BOOL& bAvailable, std::wstring& strDescription,
                            DWORD& dwPackageVersion);

// Starts the updater's install of a newer waiting package: S_OK for a crisis pack, S_FALSE for an
// ordinary one, E_FAIL when nothing was started. A stale package's record is retired.
HRESULT LaunchPendingInstall(LPCWSTR pszModuleType, DWORD dwCurVersion, LPCWSTR pszUpdaterPath,
                             WORD wCurBuild);

// Starts a check of one module now (" /specific" or, with bLatest, " /specificlatest").
HRESULT LaunchManualUpdate(LPCWSTR pszUpdaterPath, LPCWSTR pszTarget, BOOL bLatest);

// Leaves a pull request in the push file and starts the updater with " /pull".
HRESULT LaunchPullUpdate(LPCWSTR pszUpdaterPath, int nClientUpdateSetting, BOOL bHasHPU,
                         BOOL bHasForceUpdate, LPCWSTR pszModuleType,
                         const std::wstring& strOtherBuffer);

class CUpdateRecordIO;
// Retires a stale package's record opened in `folder`: clears its schedule flag, or, when that
// cannot be written, deletes the record file now or, failing that, at the next restart.
void RetireStaleRecord(CUpdateRecordIO& record, const std::wstring& moduleType,
                       const std::wstring& folder);

// The command-line templates of the updater's modes (the stand-in updater parses the switches
// on its own; the host contract lists them for a real one).
inline constexpr wchar_t kInstallLineFormat[] = L"\"%ls\" /install /newpath \"%ls\"%ls";
inline constexpr wchar_t kCrisisPackSwitch[] = L" /crisispack";
inline constexpr wchar_t kManualLineFormat[] = L"\"%ls\" /newpath %ls%ls";
inline constexpr wchar_t kSpecificLatestFormat[] = L" /specificlatest \"%ls\"";
inline constexpr wchar_t kSpecificFormat[] = L" /specific \"%ls\"";
inline constexpr wchar_t kPullLineFormat[] = L"\"%ls\" /newpath /pull%ls";
