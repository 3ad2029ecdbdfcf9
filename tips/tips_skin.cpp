// The tips window's skin document and script.
#include "tips/tips_skin.h"

#include "base/text.h"


const wchar_t kTipsSkinScript[] =
    L"Sub Window_OnInit()\r\n"
    L"End Sub\r\n"
    L"Sub Window_OnSize(cx,cy)\r\n"
    L"End Sub\r\n"
    L"Sub Window_OnNotify(code,var)\r\n"
    L"End Sub\r\n";

namespace {

// A file path may hold '&' (and, in principle, the other markup characters); unescaped they
// would make the document unreadable and the window blank.
std::wstring AsAttributeText(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::wstring BuildTipsSkinDocument(const std::wstring& modulePath) {
  const std::wstring p = AsAttributeText(modulePath);
  const wchar_t* m = p.c_str();
  return FormatText(kTipsSkinDocument, m, 201, m, 203, m, 203, m, 203, m, 202, m, 202, m, 202, m,
                    202, m, 202, m, 202, m, 204, m, 204, m, 204, m, 204, m, 204, m, 204);
}
