// Folder helpers: the process's executable folder, and making a folder path.
#pragma once
#include <windows.h>

#include <string>

// Folder of the process's executable (not of this library), ending in a backslash; ".\" when unknown.
std::wstring GetModuleFolder();

// Creates every missing folder of a path whose folder names end in a backslash.
BOOL CreateFolderPath(const std::wstring& strPath);
