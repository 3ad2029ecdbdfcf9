// Sets the file version (a.b.c.d) in the version resource of an executable, so that a staged
// player can claim any version and build number.
#pragma once
#include <windows.h>
#include <string>

// Parses "a.b.c.d" (each 0..65535) into the two DWORDs of VS_FIXEDFILEINFO.
bool ParseFileVersion(const std::wstring& text, DWORD& versionMS, DWORD& versionLS);

// Rewrites the fixed file version (and product version) of the file's existing version
// resource. False when the file has no version resource or cannot be updated.
bool StampFileVersion(const std::wstring& path, DWORD versionMS, DWORD versionLS);
