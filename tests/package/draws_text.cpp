// draws_text.exe LIBRARY...: for each CadenzaWidget_MFC.dll named, takes the font its
// GetNormalFont gives (the GCC or the Microsoft ABI) and draws every character of the tips
// window's Latin and Chinese text with it; a character drawn blank or as the font's missing-glyph
// box (glyph 0) is a fault. One line per library; exit 0 when every library draws every character.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kText[] = L"Cadenza 5.2 已下载新版的Cadenza，是否现在安装？新版本更新内容：关闭稍后下次不再弹出";
constexpr int kSize = 64;

HFONT NormalFont(HMODULE library) {
  if (auto gcc = reinterpret_cast<HFONT (*)()>(
          reinterpret_cast<void*>(GetProcAddress(library, "_ZN12CCadenzaFont13GetNormalFontEv"))))
    return gcc();
  // Microsoft ABI: a CFont*, whose handle follows the virtual table pointer.
  auto microsoft = reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(
      library, sizeof(void*) == 8 ? "?GetNormalFont@CCadenzaFont@@SAPEAVCFont@@XZ"
                                  : "?GetNormalFont@CCadenzaFont@@SAPAVCFont@@XZ")));
  void* font = microsoft ? microsoft() : nullptr;
  return font ? reinterpret_cast<HFONT*>(font)[1] : nullptr;
}

// The pixels of one character (or of glyph 0, the box) drawn black on white.
std::vector<DWORD> Draw(HDC dc, const DWORD* bits, const wchar_t* character, bool glyphZero) {
  RECT all = {0, 0, kSize, kSize};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const WORD zero = 0;
  if (glyphZero)
    ExtTextOutW(dc, 4, 4, ETO_GLYPH_INDEX, nullptr, reinterpret_cast<LPCWSTR>(&zero), 1, nullptr);
  else
    TextOutW(dc, 4, 4, character, 1);
  GdiFlush();
  return std::vector<DWORD>(bits, bits + kSize * kSize);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    HMODULE library = LoadLibraryW(argv[i]);
    HFONT font = library ? NormalFont(library) : nullptr;
    if (font == nullptr) {
      wprintf(L"%ls: no font\n", argv[i]);
      failed = 1;
      continue;
    }
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), kSize, -kSize, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    SelectObject(dc, bitmap);
    SelectObject(dc, font);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    wchar_t face[LF_FACESIZE] = L"";
    GetTextFaceW(dc, LF_FACESIZE, face);
    const std::vector<DWORD> box = Draw(dc, static_cast<DWORD*>(bits), nullptr, true);
    const std::vector<DWORD> blank(kSize * kSize, 0x00FFFFFF);
    std::wstring boxes;
    for (const wchar_t* c = kText; *c; ++c) {
      if (*c == L' ') continue;
      const std::vector<DWORD> drawn = Draw(dc, static_cast<DWORD*>(bits), c, false);
      if ((drawn == box || drawn == blank) && boxes.find(*c) == std::wstring::npos) boxes += *c;
    }
    DeleteDC(dc);
    DeleteObject(bitmap);
    if (boxes.empty()) {
      wprintf(L"%ls: face '%ls' draws every character\n", argv[i], face);
    } else {
      wprintf(L"%ls: face '%ls' draws %u of its characters as boxes:", argv[i], face,
              static_cast<unsigned>(boxes.size()));
      for (wchar_t c : boxes) wprintf(L" U+%04X", static_cast<unsigned>(c));
      wprintf(L"\n");
      failed = 1;
    }
  }
  return failed;
}
