// Small wide-text helpers shared by the component: formatting, replacement, hex text of bytes.
#pragma once
#include <windows.h>

#include <string>

// printf-style formatting into a wide string; use %ls for wide and %hs for narrow strings.
std::wstring FormatText(const wchar_t* format, ...);

// Replaces every occurrence of `from` (not empty) in `text` with `to`, left to right.
std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to);

// Lower-cases the letters A-Z only; every other character stays as it is.
std::wstring LowerAscii(std::wstring text);

// Two upper-case hex digits per byte, high nibble first. Always TRUE.
BOOL BytesToHexString(std::wstring& strOut, const BYTE* pData, UINT nLen);
// Decodes hex text (either case) into pOut. FALSE, with nothing written, when the text is
// empty, odd, holds a non-hex character, or needs more than nCapacity bytes.
BOOL HexStringToBytes(BYTE* pOut, const std::wstring& strHex, UINT nCapacity);
