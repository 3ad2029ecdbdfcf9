// Folder rule of the two update stores.
#include "store/store_path.h"

#include "store/update_folders.h"

BOOL OpenOrSaveStore(CDBOperation& db, std::wstring& strFolder, LPCWSTR pszFolder,
                     LPCWSTR pszFileName, LPCWSTR pszID, StoreAction action) {
  std::wstring path;
  if (pszFolder != nullptr) {
    strFolder = pszFolder;
    path = strFolder + pszFileName;
  } else if (strFolder.empty()) {
    path = GetDefaultUpdateDataFolder() + pszFileName;
  } else {
    path = strFolder + pszFileName;
  }
  BOOL ok = action == StoreAction::Open ? db.OpenDB(pszID, path.c_str())
                                        : db.SaveDB(pszID, path.c_str());
  if (!ok) strFolder.clear();
  return ok ? TRUE : FALSE;
}
