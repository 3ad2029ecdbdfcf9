// The reference skin engine's renderer. The images are composed into a 32-bit top-down buffer
// in paint order (a keyed image leaves its transparent colour's pixels alone), the labels are
// drawn over them, and the buffer is copied to the window in one blit.
#include "refhost/skin/skin_renderer.h"

#include <wchar.h>

#include <algorithm>

namespace skin {
namespace {

// Faces tried in order for the skin's texts: the first one installed is used.
const wchar_t* const kFaces[] = {L"Microsoft YaHei", L"WenQuanYi Micro Hei", L"SimSun", L"Tahoma"};

int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

const wchar_t* InstalledFace() {
  static const wchar_t* face = [] {
    HDC dc = GetDC(nullptr);
    const wchar_t* chosen = kFaces[0];
    for (const wchar_t* candidate : kFaces) {
      LOGFONTW lf = {};
      lf.lfCharSet = DEFAULT_CHARSET;
      wcsncpy_s(lf.lfFaceName, candidate, _TRUNCATE);
      bool found = false;
      EnumFontFamiliesExW(dc, &lf, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
      if (found) {
        chosen = candidate;
        break;
      }
    }
    ReleaseDC(nullptr, dc);
    return chosen;
  }();
  return face;
}

// The image an element shows in its state; a missing hover or pressed image falls back to the
// normal one (the checked normal one for a checked box).
int ImageSlotOf(const Frame& frame, size_t index) {
  const Element& e = frame.layout.elements[index];
  int slot = kNormal;
  if (e.Interactive()) {
    if (frame.pressed == static_cast<int>(index)) {
      slot = frame.hover == frame.pressed ? kDown : kOver;
    } else if (frame.hover == static_cast<int>(index) && frame.pressed == kNoElement) {
      slot = kOver;
    }
  }
  if (e.kind == ElementKind::CheckBox && frame.checked[index]) slot += kCheckedOffset;
  if (!e.hasImage[slot]) slot = e.kind == ElementKind::CheckBox && frame.checked[index]
                                    ? kCheckedOffset : kNormal;
  return slot;
}

}  // namespace

void Renderer::ApplyClipping(HWND window, const Frame& frame) {
  const Layout& layout = frame.layout;
  if (!layout.clipped) {
    SetWindowRgn(window, nullptr, TRUE);
    return;
  }
  const int w = layout.size.cx, h = layout.size.cy;
  std::vector<uint32_t> bits(static_cast<size_t>(w) * h, 0);
  RenderImages(bits.data(), frame);
  const uint32_t clip = ToPixel(layout.clippingColor);
  std::vector<RECT> runs;
  for (int y = 0; y < h; ++y) {
    int x = 0;
    while (x < w) {
      while (x < w && bits[static_cast<size_t>(y) * w + x] == clip) ++x;
      int start = x;
      while (x < w && bits[static_cast<size_t>(y) * w + x] != clip) ++x;
      if (x > start) runs.push_back({start, y, x, y + 1});
    }
  }
  std::vector<BYTE> buffer(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
  auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
  data->rdh.dwSize = sizeof(RGNDATAHEADER);
  data->rdh.iType = RDH_RECTANGLES;
  data->rdh.nCount = static_cast<DWORD>(runs.size());
  data->rdh.nRgnSize = static_cast<DWORD>(runs.size() * sizeof(RECT));
  data->rdh.rcBound = {0, 0, w, h};
  if (!runs.empty()) memcpy(data->Buffer, runs.data(), runs.size() * sizeof(RECT));
  HRGN region = ExtCreateRegion(nullptr, static_cast<DWORD>(buffer.size()), data);
  if (region != nullptr && !SetWindowRgn(window, region, TRUE)) DeleteObject(region);
}

void Renderer::DrawImage(uint32_t* bits, const Frame& frame, const ImageRef& image,
                         const RECT& place) {
  const Pixels* pixels = bitmaps_.Get(image.module, image.bitmapId);
  if (pixels == nullptr) return;
  const uint32_t key = ToPixel(image.transparentColor);
  const int w = frame.layout.size.cx, h = frame.layout.size.cy;
  for (LONG sy = image.source.top; sy < image.source.bottom; ++sy) {
    const LONG dy = place.top + (sy - image.source.top);
    if (sy < 0 || sy >= pixels->height || dy < 0 || dy >= h) continue;
    for (LONG sx = image.source.left; sx < image.source.right; ++sx) {
      const LONG dx = place.left + (sx - image.source.left);
      if (sx < 0 || sx >= pixels->width || dx < 0 || dx >= w) continue;
      const uint32_t p = pixels->At(sx, sy);
      if (image.keyed && p == key) continue;
      bits[static_cast<size_t>(dy) * w + dx] = p;
    }
  }
}

void Renderer::RenderImages(uint32_t* bits, const Frame& frame) {
  for (size_t index : frame.paintOrder) {
    const Element& e = frame.layout.elements[index];
    if (!e.visible) continue;
    const int slot = ImageSlotOf(frame, index);
    if (!e.hasImage[slot]) continue;
    RECT place = e.rect;
    if (e.kind == ElementKind::CheckBox) {
      // The box sits at the element's left edge, centred in its height.
      const LONG boxHeight = e.images[slot].source.bottom - e.images[slot].source.top;
      place.top += std::max<LONG>(0, (e.rect.bottom - e.rect.top - boxHeight) / 2);
    }
    DrawImage(bits, frame, e.images[slot], place);
  }
}

HFONT Renderer::Font(int height, bool bold) {
  auto& font = fonts_[{height, bold}];
  if (!font) {
    font.reset(CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, InstalledFace()));
  }
  return static_cast<HFONT>(font.get());
}

void Renderer::Render(HDC target, const Frame& frame) {
  const Layout& layout = frame.layout;
  const int w = layout.size.cx, h = layout.size.cy;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top row first, as Pixels
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* raw = nullptr;
  UniqueGdiObject bitmap(CreateDIBSection(target, &info, DIB_RGB_COLORS, &raw, nullptr, 0));
  HDC dc = CreateCompatibleDC(target);
  if (!bitmap || dc == nullptr) {
    if (dc != nullptr) DeleteDC(dc);
    return;
  }
  uint32_t* bits = static_cast<uint32_t*>(raw);
  std::fill(bits, bits + static_cast<size_t>(w) * h, ToPixel(GetSysColor(COLOR_WINDOW)));
  RenderImages(bits, frame);

  HGDIOBJ oldBitmap = SelectObject(dc, bitmap.get());
  HGDIOBJ oldFont = GetCurrentObject(dc, OBJ_FONT);
  SetBkMode(dc, TRANSPARENT);
  for (size_t index : frame.paintOrder) {
    const Element& e = layout.elements[index];
    if (!e.visible || !e.hasLabel || e.label.text.empty()) continue;
    const Label& label = e.label;
    SelectObject(dc, Font(label.fontHeight, label.bold));
    const bool over = frame.hover == static_cast<int>(index) && e.Interactive();
    SetTextColor(dc, over ? label.overColor : label.normalColor);
    RECT r = e.rect;
    UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP;
    if (e.kind == ElementKind::Button && !label.placed) {
      format |= DT_CENTER | DT_VCENTER;
      if (frame.pressed == static_cast<int>(index) && frame.hover == frame.pressed)
        OffsetRect(&r, 0, 1);
    } else {
      r.left += label.offset.x;
      r.top += label.offset.y;
      r.right = w;
      r.bottom = h;
    }
    DrawTextW(dc, label.text.c_str(), static_cast<int>(label.text.size()), &r, format);
  }
  GdiFlush();
  BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteDC(dc);
}

}  // namespace skin
