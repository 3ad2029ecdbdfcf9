// Small wide-text helpers shared by the component: formatting and replacement.
#pragma once
#include <string>

// printf-style formatting into a wide string; use %ls for wide and %hs for narrow strings.
std::wstring FormatText(const wchar_t* format, ...);

// Replaces every occurrence of `from` (not empty) in `text` with `to`, left to right.
std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to);

// Lower-cases the letters A-Z only; every other character stays as it is.
std::wstring LowerAscii(std::wstring text);
