// Decoding packed DIBs and loading bitmap resources for the reference skin engine.
#include "refhost/skin/skin_bitmap.h"

namespace skin {

bool DecodePackedDib(const BYTE* data, size_t size, Pixels& pixels) {
  if (data == nullptr || size < sizeof(BITMAPINFOHEADER)) return false;
  BITMAPINFOHEADER header;
  memcpy(&header, data, sizeof header);
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > size) return false;
  if (header.biCompression != BI_RGB || header.biPlanes != 1) return false;
  const int bits = header.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  const LONG width = header.biWidth;
  const bool topDown = header.biHeight < 0;
  const LONG height = topDown ? -header.biHeight : header.biHeight;
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return false;

  size_t colors = 0;
  if (bits <= 8) {
    colors = header.biClrUsed != 0 ? header.biClrUsed : (size_t{1} << bits);
    if (colors > (size_t{1} << bits)) return false;
  }
  const size_t tableOffset = header.biSize;
  const size_t bitsOffset = tableOffset + colors * sizeof(RGBQUAD);
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  if (bitsOffset > size || stride * height > size - bitsOffset) return false;

  std::vector<uint32_t> table(colors);
  for (size_t i = 0; i < colors; ++i) {
    const BYTE* q = data + tableOffset + i * sizeof(RGBQUAD);
    table[i] = (static_cast<uint32_t>(q[2]) << 16) | (q[1] << 8) | q[0];
  }

  Pixels out;
  out.width = width;
  out.height = height;
  out.rgb.resize(static_cast<size_t>(width) * height);
  for (LONG y = 0; y < height; ++y) {
    const BYTE* row = data + bitsOffset + stride * (topDown ? y : height - 1 - y);
    for (LONG x = 0; x < width; ++x) {
      uint32_t value;
      if (bits >= 24) {
        const BYTE* p = row + x * (bits / 8);
        value = (static_cast<uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
      } else {
        const size_t bit = static_cast<size_t>(x) * bits;
        const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index >= colors) return false;
        value = table[index];
      }
      out.rgb[static_cast<size_t>(y) * width + x] = value;
    }
  }
  pixels = std::move(out);
  return true;
}

BitmapCache::~BitmapCache() {
  for (auto& m : modules_) {
    if (m.second != nullptr) FreeLibrary(m.second);
  }
}

const Pixels* BitmapCache::Get(const std::wstring& module, int bitmapId) {
  const auto key = std::make_pair(module, bitmapId);
  auto found = bitmaps_.find(key);
  if (found != bitmaps_.end()) return &found->second;
  if (failed_.count(key) != 0) return nullptr;

  auto m = modules_.find(module);
  if (m == modules_.end()) {
    // As a data file: the module's code is never run, only its resources are read.
    HMODULE h = LoadLibraryExW(module.c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (h == nullptr) h = LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    m = modules_.emplace(module, h).first;
  }
  Pixels pixels;
  bool loaded = false;
  if (m->second != nullptr) {
    HRSRC info = FindResourceW(m->second, MAKEINTRESOURCEW(bitmapId), RT_BITMAP);
    HGLOBAL resource = info != nullptr ? LoadResource(m->second, info) : nullptr;
    const void* data = resource != nullptr ? LockResource(resource) : nullptr;
    if (data != nullptr) {
      loaded = DecodePackedDib(static_cast<const BYTE*>(data), SizeofResource(m->second, info), pixels);
    }
  }
  if (!loaded) {
    failed_[key] = true;
    return nullptr;
  }
  return &bitmaps_.emplace(key, std::move(pixels)).first->second;
}

}  // namespace skin
