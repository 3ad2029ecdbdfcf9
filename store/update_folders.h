// The per-installation update data folder shared with the updater, and its hashed name.
#pragma once
#include <windows.h>
#include <string>

// The user's application-data folder (created when missing), ending in a backslash; ".\" when unknown.
std::wstring GetAppDataFolder();

// 32 upper-case hex characters of the MD5 digest over the first L bytes (not 2L) of the
// text's UTF-16LE form, L being its length in characters; empty for a null text or a failure.
std::wstring GetMD5HexName(LPCWSTR pszText);

// AppData\CadenzaUpdate\NAME\ for the updater beside the host executable.
std::wstring GetDefaultUpdateDataFolder();
// AppData\CadenzaUpdate\NAME\ for the updater at pszUpdaterPath (null or empty: the host's folder).
std::wstring GetUpdateDataFolder(LPCWSTR pszUpdaterPath);
