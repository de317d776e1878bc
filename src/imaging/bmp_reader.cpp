#include "imaging/bmp_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "imaging/bitmap_store.h"
#include "imaging/loaders.h"
#include "imaging/picture_budget.h"

namespace lum {

namespace {

uint16_t U16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool ReadExact(TStream& s, void* buf, size_t n) {
  return s.Read(buf, n) == n;
}

struct TBmpHeader {
  int64_t width = 0, height = 0;  // height: absolute
  bool topDown = false;
  int bits = 0;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  uint32_t headerSize = 0;
  uint32_t offBits = 0;
  uint32_t sizeImage = 0;
};

// Decodes RLE8 (bits 8) or RLE4 (bits 4) into rows of rowSize bytes, rows in
// file order (bottom-up as stored). Damaged runs end decoding early.
void DecodeRle(const uint8_t* p, size_t n, int bits, int64_t width, int64_t height, size_t rowSize,
               uint8_t* out) {
  size_t i = 0;
  int64_t x = 0, y = 0;
  auto put = [&](unsigned v) {
    if (x >= width || y >= height) {
      ++x;
      return;
    }
    uint8_t* row = out + size_t(y) * rowSize;
    if (bits == 8) {
      row[x] = uint8_t(v);
    } else {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? uint8_t((b & 0xF0) | (v & 15)) : uint8_t((b & 0x0F) | (v & 15) << 4);
    }
    ++x;
  };
  while (i + 1 < n && y < height) {
    unsigned count = p[i], value = p[i + 1];
    i += 2;
    if (count > 0) {
      for (unsigned k = 0; k < count; ++k)
        put(bits == 8 ? value : ((k & 1) ? value & 15 : value >> 4));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return;
    } else if (value == 2) {  // delta
      if (i + 1 >= n) return;
      x += p[i];
      y += p[i + 1];
      i += 2;
    } else {  // absolute run of `value` pixels, padded to 16 bits
      size_t bytes = bits == 8 ? value : (value + 1) / 2;
      if (i + bytes > n) return;
      for (unsigned k = 0; k < value; ++k)
        put(bits == 8 ? p[i + k] : ((k & 1) ? p[i + k / 2] & 15 : p[i + k / 2] >> 4));
      i += (bytes + 1) & ~size_t(1);
    }
  }
}

// Indexed rows to 24-bit through a 256-entry palette (missing entries black).
void ExpandIndexedRow(const uint8_t* src, int bits, int64_t width, const uint8_t (*pal)[4],
                      uint8_t* dst) {
  for (int64_t x = 0; x < width; ++x, dst += 3) {
    unsigned idx;
    if (bits == 8)
      idx = src[x];
    else if (bits == 4)
      idx = (x & 1) ? src[x >> 1] & 15 : src[x >> 1] >> 4;
    else
      idx = (src[x >> 3] >> (7 - (x & 7))) & 1;
    dst[0] = pal[idx][0];
    dst[1] = pal[idx][1];
    dst[2] = pal[idx][2];
  }
}

// Bit-field masks red, green, blue, alpha. The three colour masks sit at the
// same place for every header that has them: right after a 40-byte header,
// inside larger ones. Only headers of 56 bytes and more carry alpha.
bool ReadMasks(TStream& s, int64_t start, const TBmpHeader& h, const uint8_t* ih,
               uint32_t masks[4]) {
  uint8_t raw[12];
  s.SetPosition(start + 14 + 40);
  if (!ReadExact(s, raw, 12)) return false;
  for (int i = 0; i < 3; ++i) masks[i] = U32(raw + 4 * i);
  masks[3] = h.headerSize >= 56 ? U32(ih + 52) : 0;
  return true;
}

// One channel of a 32-bit bit-field picture: where it sits and its values
// scaled to 8 bits.
struct TChannel {
  uint32_t mask = 0;
  int shift = 0;
  uint8_t scale[256] = {};
};

// Contiguous masks of 1 to 8 bits only.
bool MakeChannel(uint32_t mask, TChannel& c) {
  if (mask == 0) return false;
  const int shift = std::countr_zero(mask);
  const uint32_t top = mask >> shift;
  if (top > 255 || (top & (top + 1)) != 0) return false;
  c.mask = mask;
  c.shift = shift;
  for (uint32_t v = 0; v <= top; ++v) c.scale[v] = uint8_t((v * 255 + top / 2) / top);
  return true;
}

// The masks of a 32-bit picture that are not plain B, G, R, A bytes, as
// channels B, G, R, A (alpha mask 0 where the picture has no alpha); false
// for masks that are empty, overlap, have holes or are wider than 8 bits.
bool MakeChannels(const uint32_t masks[4], TChannel ch[4]) {
  const uint32_t r = masks[0], g = masks[1], b = masks[2], a = masks[3];
  if ((r & g) || (r & b) || (g & b) || (a & (r | g | b))) return false;
  if (!MakeChannel(b, ch[0]) || !MakeChannel(g, ch[1]) || !MakeChannel(r, ch[2])) return false;
  return a == 0 || MakeChannel(a, ch[3]);
}

// 32-bit pixels as read, rearranged in place into B, G, R, A.
void PlaceChannels(TBitmap& bmp, const TChannel ch[4]) {
  const bool alpha = ch[3].mask != 0;
  for (int y = 0; y < bmp.Height(); ++y) {
    uint8_t* p = bmp.Row(y);
    for (int x = 0; x < bmp.Width(); ++x, p += 4) {
      const uint32_t v = U32(p);
      for (int c = 0; c < 3; ++c) p[c] = ch[c].scale[(v & ch[c].mask) >> ch[c].shift];
      p[3] = alpha ? ch[3].scale[(v & ch[3].mask) >> ch[3].shift] : 255;
    }
  }
}

// Plain 32-bit files usually leave the fourth byte 0: then it is no alpha.
void OpaqueWhenAlphaUnused(TBitmap& bmp) {
  const int w = bmp.Width(), ht = bmp.Height();
  for (int y = 0; y < ht; ++y) {
    const uint8_t* r = bmp.Row(y);
    for (int x = 0; x < w; ++x)
      if (r[x * 4 + 3]) return;
  }
  for (int y = 0; y < ht; ++y) {
    uint8_t* r = bmp.Row(y);
    for (int x = 0; x < w; ++x) r[x * 4 + 3] = 255;
  }
}

TRef<TBitmap> ReadBmpAt(TStream& s, int64_t start) {
  uint8_t fh[14];
  if (!ReadExact(s, fh, 14) || fh[0] != 'B' || fh[1] != 'M') return nullptr;
  TBmpHeader h;
  h.offBits = U32(fh + 10);
  uint8_t ih[124];
  if (!ReadExact(s, ih, 4)) return nullptr;
  h.headerSize = U32(ih);
  if (h.headerSize == 12) {
    if (!ReadExact(s, ih + 4, 8)) return nullptr;
    h.width = U16(ih + 4);
    h.height = int16_t(U16(ih + 6));
    h.bits = U16(ih + 10);
  } else if (h.headerSize >= 40 && h.headerSize <= 124) {
    if (!ReadExact(s, ih + 4, h.headerSize - 4)) return nullptr;
    h.width = int32_t(U32(ih + 4));
    h.height = int32_t(U32(ih + 8));
    h.bits = U16(ih + 14);
    h.compression = U32(ih + 16);
    h.sizeImage = U32(ih + 20);
    h.colorsUsed = U32(ih + 32);
  } else {
    return nullptr;
  }
  if (h.height < 0) {
    h.topDown = true;
    h.height = -h.height;
  }
  if (!PictureSizeAllowed(h.width, h.height)) return nullptr;

  TPixelFormat format;
  bool indexed = false;
  bool bitFields = false;  // 32 bits in another layout than B, G, R, A
  TChannel channels[4];
  switch (h.bits) {
    case 1:
    case 4:
    case 8:
      indexed = true;
      format = TPixelFormat::Bgr24;
      if (!(h.compression == 0 || (h.compression == 1 && h.bits == 8) ||
            (h.compression == 2 && h.bits == 4)))
        return nullptr;
      break;
    case 16:
      if (h.compression == 0) {
        format = TPixelFormat::Bgr555;
      } else if (h.compression == 3) {
        uint32_t masks[4];
        if (!ReadMasks(s, start, h, ih, masks)) return nullptr;
        uint32_t green = masks[1];
        if (green == 0x03E0)
          format = TPixelFormat::Bgr555;
        else if (green == 0x07E0)
          format = TPixelFormat::Bgr565;
        else
          return nullptr;
      } else {
        return nullptr;
      }
      break;
    case 24:
      if (h.compression != 0) return nullptr;
      format = TPixelFormat::Bgr24;
      break;
    case 32:
      if (h.compression == 3) {
        uint32_t masks[4];
        if (!ReadMasks(s, start, h, ih, masks)) return nullptr;
        // B, G, R bytes (with or without an alpha byte) read as they are.
        const bool plain = masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 &&
                           masks[2] == 0x000000FF && (masks[3] == 0 || masks[3] == 0xFF000000);
        if (!plain) {
          if (!MakeChannels(masks, channels)) return nullptr;
          bitFields = true;
        }
      } else if (h.compression != 0) {
        return nullptr;
      }
      format = TPixelFormat::Bgra32;
      break;
    default:
      return nullptr;
  }

  // The colour table follows the header (and the masks of a 40-byte header).
  uint8_t pal[256][4] = {};
  if (indexed) {
    uint32_t maxColors = 1u << h.bits;
    uint32_t n = h.colorsUsed == 0 || h.colorsUsed > maxColors ? maxColors : h.colorsUsed;
    int entry = h.headerSize == 12 ? 3 : 4;
    s.SetPosition(start + 14 + h.headerSize);
    uint8_t raw[256 * 4];
    size_t got = s.Read(raw, size_t(n) * entry);
    for (size_t i = 0; i < got / size_t(entry); ++i) std::memcpy(pal[i], raw + i * entry, 3);
  }

  const int64_t rowSize = ((int64_t(h.bits) * h.width + 31) / 32) * 4;
  const int64_t streamSize = s.Size();
  const int64_t dataStart = start + int64_t(h.offBits);
  if (streamSize >= 0 && dataStart > streamSize) return nullptr;
  const bool rle = h.compression == 1 || h.compression == 2;
  // Uncompressed pixels must all be in the file before anything is allocated.
  if (!rle && streamSize >= 0 && dataStart + rowSize * h.height > streamSize) return nullptr;

  // Run-length data may say little and mean many pixels: like a GIF's
  // screen, at most 1024 pixels a byte of it (at least 4 megapixels). Both
  // the decoded indices and the picture must fit the picture budget before
  // either is made.
  if (rle && streamSize >= 0 &&
      h.width * h.height > std::max<int64_t>(int64_t(1) << 22, (streamSize - dataStart) * 1024)) {
    Log().Line("BMP refused: " + std::to_string(h.width) + " x " + std::to_string(h.height) +
               " pixels from " + std::to_string(streamSize - dataStart) +
               " bytes of run-length data");
    return nullptr;
  }
  const int64_t indexBytes = rle ? rowSize * h.height : 0;
  const int64_t bytes = BitmapBytes(h.width, h.height, format) + indexBytes;
  if (!TPictureBudget::Process().Fits(bytes)) {
    Log().Line("BMP refused: its " + std::to_string(Megabytes(bytes)) +
               " MB do not fit the picture budget now");
    return nullptr;
  }
  auto bmp = MakeRef<TBitmap>(int(h.width), int(h.height), format);
  const int w = int(h.width), ht = int(h.height);
  auto destRow = [&](int64_t fileRow) {
    return bmp->Row(int(h.topDown ? fileRow : ht - 1 - fileRow));
  };
  s.SetPosition(dataStart);

  if (rle) {
    std::string packed;
    int64_t limit = streamSize >= 0 ? streamSize - dataStart : kMaxPictureFileBytes;
    if (!ReadRestLimited(s, limit, packed)) return nullptr;
    TPictureCharge charge(indexBytes);
    std::vector<uint8_t> rows(size_t(rowSize) * size_t(ht), 0);
    DecodeRle(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), h.bits, w, ht,
              size_t(rowSize), rows.data());
    for (int y = 0; y < ht; ++y)
      ExpandIndexedRow(rows.data() + size_t(y) * size_t(rowSize), h.bits, w, pal, destRow(y));
    return bmp;
  }

  if (indexed) {
    std::vector<uint8_t> row(static_cast<size_t>(rowSize));
    for (int y = 0; y < ht; ++y) {
      if (!ReadExact(s, row.data(), row.size())) return nullptr;
      ExpandIndexedRow(row.data(), h.bits, w, pal, destRow(y));
    }
    return bmp;
  }

  // Same row padding in file and bitmap: rows go straight into place.
  for (int y = 0; y < ht; ++y) {
    if (!ReadExact(s, destRow(y), size_t(rowSize))) return nullptr;
  }
  if (bitFields) {
    PlaceChannels(*bmp, channels);
    if (channels[3].mask) OpaqueWhenAlphaUnused(*bmp);
  } else if (format == TPixelFormat::Bgra32) {
    OpaqueWhenAlphaUnused(*bmp);
  }
  return bmp;
}

}  // namespace

TRef<TBitmap> ReadBmp(TStream& stream) {
  TPositionGuard guard(stream);
  try {
    TRef<TBitmap> bmp = ReadBmpAt(stream, guard.Start());
    if (bmp) guard.Keep();
    return bmp;
  } catch (const ELumError&) {
    return nullptr;
  }
}

bool ReadRestLimited(TStream& stream, int64_t limit, std::string& out) {
  int64_t pos = stream.Position();
  try {
    int64_t size = stream.Size();
    if (size >= 0) {
      int64_t rest = size - pos;
      if (rest < 0 || rest > limit) return false;
      out.resize(size_t(rest));
      size_t got = 0;
      while (got < out.size()) {
        size_t n = stream.Read(out.data() + got, out.size() - got);
        if (n == 0) break;
        got += n;
      }
      if (got < out.size()) {
        // Shorter than the stream said: a damaged source, not a picture.
        stream.SetPosition(pos);
        return false;
      }
      return true;
    }
    out.clear();
    char buf[65536];
    while (size_t n = stream.Read(buf, sizeof buf)) {
      if (int64_t(out.size() + n) > limit) {
        stream.SetPosition(pos);
        return false;
      }
      out.append(buf, n);
    }
    return true;
  } catch (const ELumError&) {
    try {
      stream.SetPosition(pos);
    } catch (...) {
    }
    return false;
  }
}

TRef<TBitmapStore> LoadBmpPicture(TLoadRequest& request) {
  TRef<TBitmap> bmp = ReadBmp(request.stream);
  if (!bmp) return nullptr;
  return MakeRef<TSysBitmapStore>(bmp);
}

}  // namespace lum
