#pragma once
// Pixel memory of decoded pictures: one plain buffer with width, height,
// pitch and format, top row first, so that a renderer can upload it as is.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/errors.h"
#include "foundation/ref_object.h"

namespace lum {

enum class TPixelFormat : uint8_t {
  None,    // "whatever the store produces"
  Bgr555,  // 16-bit, x-r5-g5-b5
  Bgr565,  // 16-bit, r5-g6-b5
  Bgr24,   // bytes B, G, R
  Bgra32,  // bytes B, G, R, A
};

int BytesPerPixel(TPixelFormat format);
const char* PixelFormatName(TPixelFormat format);

// Largest picture any loader builds: 2^28 pixels (1 GiB at 32 bits). Sizes
// come from file headers, so they are checked before anything is allocated.
inline constexpr int64_t kMaxPicturePixels = int64_t(1) << 28;

// A picture that is too large or has an impossible size.
class EImageError : public ELumError {
 public:
  using ELumError::ELumError;
};

// The pixel budget of one picture (kMaxPicturePixels unless lowered, as
// fuzzing does). The memory of all pictures together is TPictureBudget's.
int64_t PictureBudget();
void SetPictureBudget(int64_t pixels);

// True when width x height is positive and within the budget.
bool PictureSizeAllowed(int64_t width, int64_t height);
// Throws EImageError naming the size when PictureSizeAllowed is false.
void CheckPictureSize(int64_t width, int64_t height);

// Frees pixel memory: mapped pages for large bitmaps, else new[].
struct TPixelMemory {
  void operator()(uint8_t* p) const;
  size_t mapped = 0;  // bytes mapped; 0: from new[]
};

// Bitmaps whose pixels were mapped from the system (the large ones) since
// the process began; tests count the large allocations of a path with it.
int64_t MappedBitmapCount();
// Bytes of a bitmap's pixels (rows padded to 4 bytes); 0 for no format.
int64_t BitmapBytes(int64_t width, int64_t height, TPixelFormat format);
// The same for mip level n of a picture of level-0 size w0 x h0.
int64_t LevelBytes(int w0, int h0, TPixelFormat format, int level);

class TBitmap : public TRefObject {
 public:
  // Uninitialised pixels; rows padded to 4 bytes. Throws EImageError for
  // sizes PictureSizeAllowed refuses. The pixels are charged to the
  // process's picture budget (TPictureBudget) while the bitmap lives; the
  // charge never refuses: decoders ask the budget before they get here.
  TBitmap(int width, int height, TPixelFormat format, int level = 0);
  ~TBitmap() override;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Bytes from one row to the next.
  size_t Pitch() const { return pitch_; }
  TPixelFormat Format() const { return format_; }
  // The mip level this bitmap was made for.
  int Level() const { return level_; }
  void SetLevel(int level) { level_ = level; }

  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }
  uint8_t* Row(int y) { return data_.get() + size_t(y) * pitch_; }
  const uint8_t* Row(int y) const { return data_.get() + size_t(y) * pitch_; }
  size_t ByteSize() const { return pitch_ * size_t(height_); }

  // Fills every pixel with one colour (alpha ignored below 32 bits).
  void Fill(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255);

 private:
  void Allocate(size_t bytes);

  int width_, height_;
  size_t pitch_;
  TPixelFormat format_;
  int level_;
  std::unique_ptr<uint8_t[], TPixelMemory> data_;
};

// The same picture in another pixel format (a new bitmap; alpha 255 where
// the source has none). Nothing for TPixelFormat::None.
TRef<TBitmap> ConvertBitmap(const TBitmap& source, TPixelFormat format);
// Half size (rounded up), each pixel the box average of up to four; at odd
// sizes the last row/column is averaged with itself. Same pixel format.
TRef<TBitmap> HalveBitmap(const TBitmap& source);
// Two levels in one pass over the source (24 and 32 bits only; false for
// other formats): the same pixels as halving twice.
bool HalveBitmapTwice(const TBitmap& source, TRef<TBitmap>& half, TRef<TBitmap>& quarter);
// Turned by an EXIF orientation code: 3 = 180 degrees, 6 = a quarter turn
// clockwise, 8 = a quarter turn counter-clockwise; other codes copy.
TRef<TBitmap> RotateBitmap(const TBitmap& source, int exifCode);
// Size of mip level n of a picture: each level halves, rounding up.
int MipDimension(int size0, int level);
// One row of the half-size picture from two rows of srcWidth pixels (the
// same row twice for the last one of an odd height): box averages, as
// HalveBitmap makes them. 24 and 32 bits only.
void HalveRowPair(TPixelFormat format, const uint8_t* r0, const uint8_t* r1, int srcWidth,
                  uint8_t* out);

}  // namespace lum
