// The folder rule shared by the update record and the push file: a given folder is kept,
// otherwise the last kept folder, otherwise the default update data folder (not kept).
#pragma once
#include <windows.h>
#include <string>

#include "store/db_operation.h"

enum class StoreAction { Open, Save };

BOOL OpenOrSaveStore(CDBOperation& db, std::wstring& strFolder, LPCWSTR pszFolder,
                     LPCWSTR pszFileName, LPCWSTR pszID, StoreAction action);
