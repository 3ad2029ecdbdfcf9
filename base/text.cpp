// Small wide-text helpers shared by the component.
#include "base/text.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

std::wstring FormatText(const wchar_t* format, ...) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list args;
    va_start(args, format);
    int n = vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= (1u << 24)) return std::wstring();  // a format that never fits
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to) {
  if (from.empty()) return text;
  for (size_t pos = text.find(from); pos != std::wstring::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

std::wstring LowerAscii(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

BOOL BytesToHexString(std::wstring& strOut, const BYTE* pData, UINT nLen) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  strOut.assign(static_cast<size_t>(nLen) * 2, L'0');
  for (UINT i = 0; i < nLen; ++i) {
    strOut[2 * i] = kDigits[pData[i] >> 4];
    strOut[2 * i + 1] = kDigits[pData[i] & 0x0F];
  }
  return TRUE;
}

BOOL HexStringToBytes(BYTE* pOut, const std::wstring& strHex, UINT nCapacity) {
  const size_t n = strHex.size();
  if (n == 0 || n % 2 != 0 || n / 2 > nCapacity || pOut == nullptr) return FALSE;
  auto isHex = [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
  };
  for (wchar_t c : strHex)
    if (!isHex(c)) return FALSE;
  auto value = [](wchar_t c) { return c >= L'a' ? c - L'a' + 10 : c >= L'A' ? c - L'A' + 10 : c - L'0'; };
  for (size_t i = 0; i < n / 2; ++i)
    pOut[i] = static_cast<BYTE>(16 * value(strHex[2 * i]) + value(strHex[2 * i + 1]));
  return TRUE;
}
