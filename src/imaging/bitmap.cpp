#include "imaging/bitmap.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "imaging/picture_budget.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lum {

int BytesPerPixel(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::Bgr555:
    case TPixelFormat::Bgr565:
      return 2;
    case TPixelFormat::Bgr24:
      return 3;
    case TPixelFormat::Bgra32:
      return 4;
    case TPixelFormat::None:
      break;
  }
  return 0;
}

const char* PixelFormatName(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::Bgr555:
      return "BGR555";
    case TPixelFormat::Bgr565:
      return "BGR565";
    case TPixelFormat::Bgr24:
      return "BGR24";
    case TPixelFormat::Bgra32:
      return "BGRA32";
    case TPixelFormat::None:
      break;
  }
  return "none";
}

namespace {
std::atomic<int64_t> gBudget{kMaxPicturePixels};
std::atomic<int64_t> gMapped{0};

// Under AddressSanitizer every bitmap comes from new[], so that overruns of
// large ones are caught too.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif
}  // namespace

int64_t MappedBitmapCount() {
  return gMapped.load(std::memory_order_relaxed);
}

int64_t PictureBudget() {
  return gBudget.load(std::memory_order_relaxed);
}
void SetPictureBudget(int64_t pixels) {
  gBudget.store(std::clamp<int64_t>(pixels, 1, kMaxPicturePixels), std::memory_order_relaxed);
}

bool PictureSizeAllowed(int64_t width, int64_t height) {
  const int64_t budget = PictureBudget();
  return width > 0 && height > 0 && width <= budget && height <= budget && width * height <= budget;
}

void CheckPictureSize(int64_t width, int64_t height) {
  if (!PictureSizeAllowed(width, height)) {
    throw EImageError("Picture size " + std::to_string(width) + " x " + std::to_string(height) +
                      " is outside the supported range (at most " +
                      std::to_string(PictureBudget()) + " pixels)");
  }
}

int64_t BitmapBytes(int64_t width, int64_t height, TPixelFormat format) {
  return ((width * BytesPerPixel(format) + 3) & ~int64_t(3)) * height;
}

int64_t LevelBytes(int w0, int h0, TPixelFormat format, int level) {
  return BitmapBytes(MipDimension(w0, level), MipDimension(h0, level), format);
}

TBitmap::TBitmap(int width, int height, TPixelFormat format, int level)
    : width_(width), height_(height), format_(format), level_(level) {
  CheckPictureSize(width, height);
  int bpp = BytesPerPixel(format);
  if (bpp == 0) throw EImageError("Bitmap without pixel format");
  pitch_ = (size_t(width) * size_t(bpp) + 3) & ~size_t(3);
  const size_t bytes = pitch_ * size_t(height);
  Allocate(bytes);
  TPictureBudget::Process().Charge(int64_t(bytes));
}

TBitmap::~TBitmap() {
  TPictureBudget::Process().Release(int64_t(ByteSize()));
}

void TBitmap::Allocate(size_t bytes) {
  // Large pictures take huge pages where the system offers them: a decoded
  // photo touches every page once, and 4 KB pages make that a fault per page.
  constexpr size_t kLarge = size_t(8) << 20, kHuge = size_t(2) << 20;
  if (bytes >= kLarge && !kAddressSanitizer) {
    size_t mapped = (bytes + kHuge - 1) / kHuge * kHuge + kHuge;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      gMapped.fetch_add(1, std::memory_order_relaxed);
      // Trim to a 2 MB boundary so that whole huge pages fit.
      uintptr_t start = reinterpret_cast<uintptr_t>(p);
      uintptr_t aligned = (start + kHuge - 1) & ~uintptr_t(kHuge - 1);
      if (aligned > start) munmap(p, aligned - start);
      size_t used = mapped - (aligned - start);
      size_t keep = (bytes + kHuge - 1) / kHuge * kHuge;
      if (used > keep) munmap(reinterpret_cast<void*>(aligned + keep), used - keep);
      madvise(reinterpret_cast<void*>(aligned), keep, MADV_HUGEPAGE);
      data_ = std::unique_ptr<uint8_t[], TPixelMemory>(reinterpret_cast<uint8_t*>(aligned),
                                                       TPixelMemory{keep});
      return;
    }
  }
  data_ = std::unique_ptr<uint8_t[], TPixelMemory>(new uint8_t[bytes], TPixelMemory{0});
}

void TPixelMemory::operator()(uint8_t* p) const {
  if (mapped)
    munmap(p, mapped);
  else
    delete[] p;
}

void TBitmap::Fill(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  uint8_t px[4] = {b, g, r, a};
  int bpp = BytesPerPixel(format_);
  if (format_ == TPixelFormat::Bgr555 || format_ == TPixelFormat::Bgr565) {
    uint16_t v = format_ == TPixelFormat::Bgr555
                     ? uint16_t(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
                     : uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    std::memcpy(px, &v, 2);
  }
  for (int y = 0; y < height_; ++y) {
    uint8_t* row = Row(y);
    for (int x = 0; x < width_; ++x) std::memcpy(row + size_t(x) * bpp, px, size_t(bpp));
  }
}

namespace {

// One row to BGRA.
void UnpackRow(const uint8_t* src, TPixelFormat format, int width, uint8_t* out) {
  switch (format) {
    case TPixelFormat::Bgra32:
      std::memcpy(out, src, size_t(width) * 4);
      return;
    case TPixelFormat::Bgr24:
      for (int x = 0; x < width; ++x, src += 3, out += 4) {
        out[0] = src[0];
        out[1] = src[1];
        out[2] = src[2];
        out[3] = 255;
      }
      return;
    case TPixelFormat::Bgr555:
      for (int x = 0; x < width; ++x, src += 2, out += 4) {
        unsigned v = unsigned(src[0]) | unsigned(src[1]) << 8;
        unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        out[0] = uint8_t(b << 3 | b >> 2);
        out[1] = uint8_t(g << 3 | g >> 2);
        out[2] = uint8_t(r << 3 | r >> 2);
        out[3] = 255;
      }
      return;
    case TPixelFormat::Bgr565:
      for (int x = 0; x < width; ++x, src += 2, out += 4) {
        unsigned v = unsigned(src[0]) | unsigned(src[1]) << 8;
        unsigned r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
        out[0] = uint8_t(b << 3 | b >> 2);
        out[1] = uint8_t(g << 2 | g >> 4);
        out[2] = uint8_t(r << 3 | r >> 2);
        out[3] = 255;
      }
      return;
    case TPixelFormat::None:
      return;
  }
}

// One BGRA row to a format.
void PackRow(const uint8_t* in, TPixelFormat format, int width, uint8_t* dst) {
  switch (format) {
    case TPixelFormat::Bgra32:
      std::memcpy(dst, in, size_t(width) * 4);
      return;
    case TPixelFormat::Bgr24:
      for (int x = 0; x < width; ++x, in += 4, dst += 3) {
        dst[0] = in[0];
        dst[1] = in[1];
        dst[2] = in[2];
      }
      return;
    case TPixelFormat::Bgr555:
      for (int x = 0; x < width; ++x, in += 4, dst += 2) {
        unsigned v = (unsigned(in[2]) >> 3) << 10 | (unsigned(in[1]) >> 3) << 5 | in[0] >> 3;
        dst[0] = uint8_t(v);
        dst[1] = uint8_t(v >> 8);
      }
      return;
    case TPixelFormat::Bgr565:
      for (int x = 0; x < width; ++x, in += 4, dst += 2) {
        unsigned v = (unsigned(in[2]) >> 3) << 11 | (unsigned(in[1]) >> 2) << 5 | in[0] >> 3;
        dst[0] = uint8_t(v);
        dst[1] = uint8_t(v >> 8);
      }
      return;
    case TPixelFormat::None:
      return;
  }
}

// Box average of two rows of n-byte pixels into one.
template <int N>
void HalveRows(const uint8_t* r0, const uint8_t* r1, int srcWidth, uint8_t* out) {
  int full = srcWidth / 2;
  for (int x = 0; x < full; ++x, r0 += 2 * N, r1 += 2 * N, out += N) {
    for (int c = 0; c < N; ++c)
      out[c] = uint8_t((unsigned(r0[c]) + r0[c + N] + r1[c] + r1[c + N] + 2) >> 2);
  }
  if (srcWidth & 1) {
    for (int c = 0; c < N; ++c) out[c] = uint8_t((unsigned(r0[c]) + r1[c] + 1) >> 1);
  }
}

// 32-bit pixels, two output pixels per step: the halving of a 24-megapixel
// picture should cost no more than reading it once.
void HalveRowsBgra(const uint8_t* r0, const uint8_t* r1, int srcWidth, uint8_t* out) {
  int x = 0;
  const int full = srcWidth / 2;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
  for (; x + 2 <= full; x += 2, r0 += 16, r1 += 16, out += 8) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1));
    // Rows added in 16-bit lanes: lo = source pixels 0, 1; hi = pixels 2, 3.
    __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    __m128i s0 = _mm_add_epi16(lo, _mm_srli_si128(lo, 8));
    __m128i s1 = _mm_add_epi16(hi, _mm_srli_si128(hi, 8));
    __m128i sum = _mm_unpacklo_epi64(s0, s1);
    sum = _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(sum, sum));
  }
#endif
  for (; x < full; ++x, r0 += 8, r1 += 8, out += 4) {
    for (int c = 0; c < 4; ++c)
      out[c] = uint8_t((unsigned(r0[c]) + r0[c + 4] + r1[c] + r1[c + 4] + 2) >> 2);
  }
  if (srcWidth & 1) {
    for (int c = 0; c < 4; ++c) out[c] = uint8_t((unsigned(r0[c]) + r1[c] + 1) >> 1);
  }
}

}  // namespace

TRef<TBitmap> ConvertBitmap(const TBitmap& source, TPixelFormat format) {
  if (format == TPixelFormat::None) return nullptr;
  auto out = MakeRef<TBitmap>(source.Width(), source.Height(), format, source.Level());
  if (format == source.Format()) {
    for (int y = 0; y < source.Height(); ++y)
      std::memcpy(out->Row(y), source.Row(y), size_t(source.Width()) * BytesPerPixel(format));
    return out;
  }
  std::unique_ptr<uint8_t[]> tmp(new uint8_t[size_t(source.Width()) * 4]);
  for (int y = 0; y < source.Height(); ++y) {
    if (source.Format() == TPixelFormat::Bgra32) {
      PackRow(source.Row(y), format, source.Width(), out->Row(y));
    } else if (format == TPixelFormat::Bgra32) {
      UnpackRow(source.Row(y), source.Format(), source.Width(), out->Row(y));
    } else {
      UnpackRow(source.Row(y), source.Format(), source.Width(), tmp.get());
      PackRow(tmp.get(), format, source.Width(), out->Row(y));
    }
  }
  return out;
}

int MipDimension(int size0, int level) {
  int s = size0;
  for (int i = 0; i < level && s > 1; ++i) s = (s + 1) / 2;
  return s;
}

TRef<TBitmap> HalveBitmap(const TBitmap& source) {
  TPixelFormat f = source.Format();
  if (f == TPixelFormat::Bgr555 || f == TPixelFormat::Bgr565) {
    // 16-bit channels do not average bytewise: go through 24 bits.
    TRef<TBitmap> wide = ConvertBitmap(source, TPixelFormat::Bgr24);
    TRef<TBitmap> half = HalveBitmap(*wide);
    return ConvertBitmap(*half, f);
  }
  int w = (source.Width() + 1) / 2, h = (source.Height() + 1) / 2;
  auto out = MakeRef<TBitmap>(w, h, f, source.Level() + 1);
  for (int y = 0; y < h; ++y) {
    const uint8_t* r0 = source.Row(2 * y);
    const uint8_t* r1 = 2 * y + 1 < source.Height() ? source.Row(2 * y + 1) : r0;
    if (f == TPixelFormat::Bgra32)
      HalveRowsBgra(r0, r1, source.Width(), out->Row(y));
    else
      HalveRows<3>(r0, r1, source.Width(), out->Row(y));
  }
  return out;
}

void HalveRowPair(TPixelFormat format, const uint8_t* r0, const uint8_t* r1, int srcWidth,
                  uint8_t* out) {
  if (format == TPixelFormat::Bgra32)
    HalveRowsBgra(r0, r1, srcWidth, out);
  else
    HalveRows<3>(r0, r1, srcWidth, out);
}

namespace {
void HalveRow(TPixelFormat f, const TBitmap& src, int y, uint8_t* out) {
  const uint8_t* r0 = src.Row(2 * y);
  const uint8_t* r1 = 2 * y + 1 < src.Height() ? src.Row(2 * y + 1) : r0;
  HalveRowPair(f, r0, r1, src.Width(), out);
}
}  // namespace

bool HalveBitmapTwice(const TBitmap& source, TRef<TBitmap>& half, TRef<TBitmap>& quarter) {
  TPixelFormat f = source.Format();
  if (f != TPixelFormat::Bgra32 && f != TPixelFormat::Bgr24) return false;
  int hw = (source.Width() + 1) / 2, hh = (source.Height() + 1) / 2;
  half = MakeRef<TBitmap>(hw, hh, f, source.Level() + 1);
  quarter = MakeRef<TBitmap>((hw + 1) / 2, (hh + 1) / 2, f, source.Level() + 2);
  // Each pair of half rows is averaged again while it is still in the cache.
  for (int y = 0; y < hh; ++y) {
    HalveRow(f, source, y, half->Row(y));
    if ((y & 1) || y == hh - 1) HalveRow(f, *half, y / 2, quarter->Row(y / 2));
  }
  return true;
}

TRef<TBitmap> RotateBitmap(const TBitmap& source, int exifCode) {
  int bpp = BytesPerPixel(source.Format());
  int w = source.Width(), h = source.Height();
  bool quarter = exifCode == 6 || exifCode == 8;
  auto out = MakeRef<TBitmap>(quarter ? h : w, quarter ? w : h, source.Format(), source.Level());
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = source.Row(y);
    for (int x = 0; x < w; ++x, src += bpp) {
      int dx = x, dy = y;
      switch (exifCode) {
        case 3:
          dx = w - 1 - x;
          dy = h - 1 - y;
          break;
        case 6:  // clockwise: top row becomes the right column
          dx = h - 1 - y;
          dy = x;
          break;
        case 8:  // counter-clockwise: top row becomes the left column
          dx = y;
          dy = w - 1 - x;
          break;
        default:
          break;
      }
      std::memcpy(out->Row(dy) + size_t(dx) * bpp, src, size_t(bpp));
    }
  }
  return out;
}

}  // namespace lum
