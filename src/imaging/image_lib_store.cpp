#include "imaging/image_lib_store.h"

#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/log.h"
#include "foundation/side_file.h"
#include "imaging/loaders.h"
#include "imaging/mip_reducer.h"
#include "imaging/picture_budget.h"

namespace lum {

namespace {

struct TPngSource {
  const unsigned char* data;
  size_t size;
  size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t n) {
  auto* src = static_cast<TPngSource*>(png_get_io_ptr(png));
  if (n > src->size - src->pos) png_error(png, "truncated PNG");
  std::memcpy(out, src->data + src->pos, n);
  src->pos += n;
}

void OnPngWarning(png_structp, png_const_charp) {}
// Quiet: a damaged picture is logged by the store, not printed by the library.
[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

struct THeader {
  png_uint_32 width = 0, height = 0;
  int colorType = 0, bitDepth = 0;
  bool alpha = false, interlaced = false;
  std::string icc;
};

void SetTransforms(png_structp png, png_infop info, const THeader& h) {
  if (h.colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (h.colorType == PNG_COLOR_TYPE_GRAY && h.bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (h.bitDepth == 16) png_set_scale_16(png);
  if (h.colorType == PNG_COLOR_TYPE_GRAY || h.colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(png);
  png_set_bgr(png);
}

// A chunk may declare any length and libpng allocates what the chunks it
// keeps declare: the ones pictures do not need are stepped over unread, the
// others limited.
void LimitChunks(png_structp png) {
  png_set_chunk_malloc_max(png, 16 << 20);
  static const png_byte kSkipped[] = "tEXt\0zTXt\0iTXt\0sPLT\0pCAL\0sCAL\0eXIf";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, 7);
}

bool ReadHeader(const std::string& file, THeader& h, std::string& message) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  TPngSource src{reinterpret_cast<const unsigned char*>(file.data()), file.size(), 0};
  if (!info || setjmp(png_jmpbuf(png))) {
    message = "damaged PNG header";
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return false;
  }
  png_set_read_fn(png, &src, ReadFromMemory);
  LimitChunks(png);
  png_read_info(png, info);
  h.width = png_get_image_width(png, info);
  h.height = png_get_image_height(png, info);
  h.colorType = png_get_color_type(png, info);
  h.bitDepth = png_get_bit_depth(png, info);
  h.alpha = (h.colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  h.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  png_charp name;
  int compression;
  png_bytep profile;
  png_uint_32 length;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length))
    h.icc.assign(reinterpret_cast<const char*>(profile), length);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// Decodes into the reducer; returns the complete rows (all on success).
// Interlaced pictures need the whole picture: level 0 only. Free of C++
// objects with destructors: libpng errors leave through longjmp.
int DecodePng(const std::string& file, TMipReducer* out, const THeader& h) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  if (!png) return 0;
  png_infop info = png_create_info_struct(png);
  TPngSource src{reinterpret_cast<const unsigned char*>(file.data()), file.size(), 0};
  volatile int rows = 0;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return rows;
  }
  png_set_read_fn(png, &src, ReadFromMemory);
  LimitChunks(png);
  png_read_info(png, info);
  SetTransforms(png, info, h);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  TBitmap& bmp = out->Result();
  size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != size_t(h.width) * size_t(BytesPerPixel(bmp.Format())) ||
      (passes > 1 && !out->Direct())) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }
  if (passes > 1) std::memset(bmp.Data(), 0, bmp.ByteSize());
  const int height = int(h.height);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < height; ++y) {
      png_read_row(png, passes > 1 ? bmp.Row(y) : out->Row(), nullptr);
      if (pass == passes - 1) {
        out->Next();
        rows = y + 1;
      }
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return rows;
}

}  // namespace

TImageLibStore::TImageLibStore(std::string file)
    : TBitmapStore({0, 0, TPixelFormat::Bgr24}), file_(std::move(file)) {
  THeader h;
  std::string message;
  if (!ReadHeader(file_, h, message)) throw EImageError("PNG: " + message);
  CheckPictureSize(h.width, h.height);
  params_.width = int(h.width);
  params_.height = int(h.height);
  params_.format = h.alpha ? TPixelFormat::Bgra32 : TPixelFormat::Bgr24;
  interlaced_ = h.interlaced;
  icc_ = std::move(h.icc);
}

int64_t TImageLibStore::DecodeBytes(int level) const {
  const TImageParams& p = params_;
  // An interlaced picture arrives in passes over the whole of it.
  const int64_t whole = interlaced_ && level > 0 ? LevelBytes(p.width, p.height, p.format, 0) : 0;
  return LevelBytes(p.width, p.height, p.format, level) + whole;
}

TRef<TBitmap> TImageLibStore::DecodeLevel(int level) {
  if (level < 0 || file_.empty()) return nullptr;
  const TImageParams& p = params_;
  TMipReducer out(p.width, p.height, p.format, level);
  THeader h;
  std::string message;
  int rows = 0;
  if (!ReadHeader(file_, h, message)) {
    // Mid grey, as for rows a damaged file lacks.
  } else if (!interlaced_ || level == 0) {
    rows = DecodePng(file_, &out, h);
  } else if (TPictureBudget::Process().Fits(LevelBytes(p.width, p.height, p.format, 0))) {
    TMipReducer whole(p.width, p.height, p.format, 0);
    rows = DecodePng(file_, &whole, h);
    const TRef<TBitmap> full = whole.Finish();
    for (int y = 0; y < full->Height(); ++y) out.Add(full->Row(y));
  } else {
    Log().Line("PNG \"" + name_ + "\" refused: interlaced, it does not fit the picture budget");
    rows = p.height;
  }
  if (rows < params_.height) Log().Line("PNG decode stopped at row " + std::to_string(rows));
  // Once level 0 is made no finer level can be asked for.
  if (level == 0) {
    file_.clear();
    file_.shrink_to_fit();
  }
  ReportProgress(1.0);
  return out.Finish();
}

TRef<TBitmapStore> LoadPngPicture(TLoadRequest& request) {
  auto signature = [](const uint8_t(&head)[8]) { return png_sig_cmp(head, 0, 8) == 0; };
  return LoadWholeFile<TImageLibStore, 8>(request, signature, "PNG");
}

namespace {

// Kept apart from C++ objects: libpng errors leave through longjmp.
bool WritePngFile(FILE* f, const TBitmap* src) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_init_io(png, f);
  bool alpha = src->Format() == TPixelFormat::Bgra32;
  png_set_IHDR(png, info, png_uint_32(src->Width()), png_uint_32(src->Height()), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Frames and decoded pictures are big and written often: a quick level
  // costs a little size and saves most of the time.
  png_set_compression_level(png, 3);
  png_write_info(png, info);
  png_set_bgr(png);
  for (int y = 0; y < src->Height(); ++y) png_write_row(png, src->Row(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePng(const TBitmap& bitmap, const std::string& path) {
  TRef<TBitmap> conv;
  if (bitmap.Format() != TPixelFormat::Bgr24 && bitmap.Format() != TPixelFormat::Bgra32)
    conv = ConvertBitmap(bitmap, TPixelFormat::Bgr24);
  // Written beside the target under a random name and renamed over it: a
  // link planted at the target or at a guessable name redirects nothing.
  try {
    TSideFile side(path);
    const int fd = dup(side.Stream().Handle());
    FILE* f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!f) {
      if (fd >= 0) close(fd);
      return false;
    }
    const bool ok = WritePngFile(f, conv ? conv.Get() : &bitmap);
    if (std::fclose(f) != 0 || !ok) return false;
    side.Commit();
    return true;
  } catch (const std::exception& e) {
    Log().Line(std::string("PNG not written: ") + e.what());
    return false;
  }
}

}  // namespace lum
