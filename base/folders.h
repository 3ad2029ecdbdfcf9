// Folder helpers: a module's folder, the process's executable folder, and making a folder path.
#pragma once
#include <windows.h>

#include <string>

// The folder part of a path, up to and with its last backslash; empty when it has none.
std::wstring FolderOf(const std::wstring& path);

// Full path of a module (NULL: the process's executable), however long; empty when it cannot be read.
std::wstring ModulePathOf(HMODULE module);

// Folder of a module (NULL: the process's executable), ending in a backslash, however long the
// path; empty when the module's file name cannot be read.
std::wstring ModuleFolderOf(HMODULE module);

// Folder of the process's executable (not of this library), ending in a backslash; ".\" when unknown.
std::wstring GetModuleFolder();

// Creates every missing folder of a path whose folder names end in a backslash.
BOOL CreateFolderPath(const std::wstring& strPath);
