// Registering the rename or the deletion of a file for the next start of the system: the
// platform's own registration first, then a [Rename] entry in wininit.ini in the Windows folder.
#pragma once
#include <windows.h>

// TRUE when the rename to pszNewFile (or, for a null new name, the deletion) was registered.
BOOL MoveFileAtRestart(LPCWSTR pszExistingFile, LPCWSTR pszNewFile);
// MoveFileAtRestart with a null new name.
BOOL DeleteFileAtRestart(LPCWSTR pszFile);

// The wininit.ini registration on its own: the line "DESTINATION=SOURCE\r\n" of short paths
// (DESTINATION "NUL" for a deletion) goes at the end of the first "[Rename]\r\n" section, or into
// a new section after the present text. The file is UTF-16LE text without a byte-order mark.
// A new name that does not exist yet gets an empty placeholder, so that it has a short path.
// On failure wininit.ini and the new name are left as they were before the call.
BOOL AddWininitRename(LPCWSTR pszExistingFile, LPCWSTR pszNewFile);

// The platform calls of the delayed replacement whose failure cannot be provoked from outside.
// The real ones are used by default; tests derive from this to reach the failure paths.
class RestartPlatformCalls {
 public:
  virtual ~RestartPlatformCalls();
  virtual BOOL RegisterMove(LPCWSTR pszExistingFile, LPCWSTR pszNewFile, DWORD dwFlags);  // MoveFileExW
  virtual LPVOID MapWholeView(HANDLE hMapping);  // a writable view of the whole mapping
  virtual BOOL UnmapView(LPCVOID pView);
  virtual BOOL CloseMapping(HANDLE hMapping);
  virtual BOOL SetFileLength(HANDLE hFile, DWORD dwBytes);  // moves the end of the file
};

BOOL MoveFileAtRestart(LPCWSTR pszExistingFile, LPCWSTR pszNewFile, RestartPlatformCalls& calls);
BOOL AddWininitRename(LPCWSTR pszExistingFile, LPCWSTR pszNewFile, RestartPlatformCalls& calls);
