// The stand-in updater's log: "CadenzaUpdate.log" in its update data folder, UTF-16LE with a
// byte-order mark, one line per start: mode, a tab, the exact command line received, and for a
// pull request a tab and the push file's values.
#pragma once
#include <string>
#include <vector>

inline constexpr wchar_t kUpdaterLogName[] = L"CadenzaUpdate.log";

// Appends one line (CR LF added); creates the file with its byte-order mark when missing.
bool AppendUpdaterLog(const std::wstring& path, const std::wstring& line);
// The log's lines in order; empty when there is no log.
std::vector<std::wstring> ReadUpdaterLog(const std::wstring& path);
// The log's lines once it holds at least `count` of them, or what it holds after `timeoutMs`
// (started updaters write their lines on their own time).
std::vector<std::wstring> WaitForUpdaterLog(const std::wstring& path, size_t count, unsigned timeoutMs);
