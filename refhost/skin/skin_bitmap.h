// Bitmaps of the reference skin engine: a packed DIB (as a BITMAP resource holds it) decoded
// into plain pixels, and the bitmaps that "res:" references name, loaded from their modules.
#pragma once
#include <windows.h>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace skin {

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;  // 0x00RRGGBB, top row first

  uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// Decodes a packed DIB: a BITMAPINFOHEADER, its colour table and the pixel rows.
// Uncompressed 1, 4, 8, 24 and 32 bits per pixel; false for anything else or for data that is
// shorter than its header says.
bool DecodePackedDib(const BYTE* data, size_t size, Pixels& pixels);

// Colour-key value of a COLORREF in the 0x00RRGGBB form of Pixels.
inline uint32_t ToPixel(COLORREF c) {
  return (static_cast<uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// Bitmaps loaded on demand from modules opened as data files; each module and bitmap once.
class BitmapCache {
 public:
  BitmapCache() = default;
  ~BitmapCache();
  BitmapCache(const BitmapCache&) = delete;
  BitmapCache& operator=(const BitmapCache&) = delete;

  // NULL when the module or the bitmap cannot be loaded.
  const Pixels* Get(const std::wstring& module, int bitmapId);

 private:
  std::map<std::wstring, HMODULE> modules_;  // NULL: tried and failed
  std::map<std::pair<std::wstring, int>, Pixels> bitmaps_;
  std::map<std::pair<std::wstring, int>, bool> failed_;
};

}  // namespace skin
