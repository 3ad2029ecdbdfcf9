// CadenzaWidget_MFC.dll: the host's normal user-interface font.
#include "player_api/cadenza_common.h"

#include "base/handles.h"

namespace {

// Faces tried in this order; the first one installed with Chinese glyphs is taken.
constexpr const wchar_t* kFaces[] = {L"Microsoft YaHei", L"WenQuanYi Micro Hei", L"SimSun",
                                     L"NSimSun"};
constexpr int kPointSize = 9;

int CALLBACK NoteFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one match is enough
}

bool HasChineseFace(HDC dc, const wchar_t* face) {
  LOGFONTW query = {};
  query.lfCharSet = GB2312_CHARSET;
  lstrcpynW(query.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  EnumFontFamiliesExW(dc, &query, NoteFound, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

HFONT MakeNormalFont() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return nullptr;
  int height = -MulDiv(kPointSize, GetDeviceCaps(screen, LOGPIXELSY), 72);
  const wchar_t* face = nullptr;
  for (const wchar_t* candidate : kFaces) {
    if (HasChineseFace(screen, candidate)) {
      face = candidate;
      break;
    }
  }
  ReleaseDC(nullptr, screen);

  LOGFONTW font = {};
  if (face != nullptr) {
    font.lfHeight = height;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  } else {
    // No Chinese face installed: the system's message font, as the rest of the desktop uses.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
      return nullptr;
    font = metrics.lfMessageFont;
  }
  return CreateFontIndirectW(&font);
}

}  // namespace

HFONT CCadenzaFont::GetNormalFont() noexcept {
  // Made on first use and kept until the library is unloaded; callers do not delete it.
  static UniqueGdiObject font(MakeNormalFont());
  return static_cast<HFONT>(font.get());
}
