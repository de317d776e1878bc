#include "imaging/bmp_writer.h"

namespace lum {

namespace {

constexpr size_t kFileHeader = 14, kInfoHeader = 40;

void Put16(std::string& out, uint32_t v) {
  out += char(v & 0xFF);
  out += char((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

bool HasTransparency(const TBitmap& b) {
  if (b.Format() != TPixelFormat::Bgra32) return false;
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.Row(y);
    for (int x = 0; x < b.Width(); ++x)
      if (row[4 * x + 3] != 255) return true;
  }
  return false;
}

}  // namespace

std::string EncodeBmp(const TBitmap& bitmap) {
  const bool alpha = HasTransparency(bitmap);
  const TPixelFormat format = alpha ? TPixelFormat::Bgra32 : TPixelFormat::Bgr24;
  TRef<TBitmap> converted;
  if (bitmap.Format() != format) converted = ConvertBitmap(bitmap, format);
  const TBitmap& src = converted ? *converted : bitmap;
  const int bits = alpha ? 32 : 24;
  const size_t rowBytes = (size_t(bits) * size_t(src.Width()) + 31) / 32 * 4;
  const size_t pixels = rowBytes * size_t(src.Height());
  std::string out;
  out.reserve(kFileHeader + kInfoHeader + pixels);
  out += "BM";
  Put32(out, uint32_t(kFileHeader + kInfoHeader + pixels));
  Put32(out, 0);
  Put32(out, uint32_t(kFileHeader + kInfoHeader));
  Put32(out, uint32_t(kInfoHeader));
  Put32(out, uint32_t(src.Width()));
  Put32(out, uint32_t(src.Height()));  // positive: bottom-up
  Put16(out, 1);
  Put16(out, uint32_t(bits));
  Put32(out, 0);  // no compression
  Put32(out, uint32_t(pixels));
  Put32(out, 3780);  // 96 dpi in pixels per metre
  Put32(out, 3780);
  Put32(out, 0);
  Put32(out, 0);
  const size_t used = size_t(src.Width()) * size_t(bits / 8);
  for (int y = src.Height() - 1; y >= 0; --y) {
    out.append(reinterpret_cast<const char*>(src.Row(y)), used);
    out.append(rowBytes - used, '\0');
  }
  return out;
}

}  // namespace lum
