// CadenzaWidget_MFC.dll as a player built with MSVC and MFC exports it: the host's normal font,
// the same face and size as the GCC-built reference library chooses, handed out as a CFont*.
#include "refhost/mfc/mfc_lookalike.h"
#define CADENZA_WIDGET_BUILD
#include "player_api/cadenza_common.h"

namespace {

constexpr const wchar_t* kFaces[] = {L"Microsoft YaHei", L"WenQuanYi Micro Hei", L"SimSun", L"NSimSun"};
constexpr int kPointSize = 9;

// Made on the first call and kept until the library is unloaded; callers never delete it.
constinit CFont g_normalFont;

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
  const int height = -MulDiv(kPointSize, GetDeviceCaps(screen, LOGPIXELSY), 72);
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
    // No Chinese face installed: the system's message font.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return nullptr;
    font = metrics.lfMessageFont;
  }
  return CreateFontIndirectW(&font);
}

}  // namespace

CFont* CCadenzaFont::GetNormalFont() {
  // The player's thread calls this; a second thread racing the first call could make a second
  // font, which is kept out of use and deleted.
  if (g_normalFont.m_hObject == nullptr) {
    HFONT made = MakeNormalFont();
    if (made == nullptr) return nullptr;
    if (__sync_val_compare_and_swap(&g_normalFont.m_hObject, nullptr, made) != nullptr) DeleteObject(made);
  }
  return &g_normalFont;
}

// The entry point (there is no C runtime): the font goes when the library is freed; at process
// exit the system takes it.
extern "C" BOOL WINAPI ReferenceWidgetEntry(HINSTANCE, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && g_normalFont.m_hObject != nullptr) {
    DeleteObject(g_normalFont.m_hObject);
    g_normalFont.m_hObject = nullptr;
  }
  return 1;
}
