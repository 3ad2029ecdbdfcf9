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
