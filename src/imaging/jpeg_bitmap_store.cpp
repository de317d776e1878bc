#include "imaging/jpeg_bitmap_store.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <optional>

#include "foundation/log.h"
#include "imaging/loaders.h"
#include "imaging/mip_reducer.h"
#include "imaging/picture_budget.h"

namespace lum {

namespace {

struct TJpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

void OnJpegMessage(j_common_ptr) {}  // warnings stay quiet; damaged data decodes partly

void InitError(jpeg_decompress_struct& cinfo, TJpegError& err) {
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = OnJpegError;
  err.mgr.output_message = OnJpegMessage;
  err.message[0] = 0;
}

// The library's working memory besides the coefficients (row buffers,
// tables): generous for the widest pictures it decodes.
constexpr int64_t kJpegWorkingBytes = int64_t(64) << 20;

struct THeaderInfo {
  int width = 0, height = 0, components = 0;
  bool progressive = false;
  int64_t coefficientBytes = 0;
  JOCTET* icc = nullptr;
  unsigned iccSize = 0;
};

// A progressive or multi-scan file is decoded through a buffer of every
// block's coefficients at full size, whatever the output scale: 128 bytes a
// block, blocks rounded up to whole sampling units as the library does.
int64_t CoefficientBytes(const jpeg_decompress_struct& cinfo) {
  if (!cinfo.progressive_mode && cinfo.comps_in_scan >= cinfo.num_components) return 0;
  int maxH = 1, maxV = 1;
  for (int i = 0; i < cinfo.num_components; ++i) {
    maxH = std::max(maxH, cinfo.comp_info[i].h_samp_factor);
    maxV = std::max(maxV, cinfo.comp_info[i].v_samp_factor);
  }
  auto roundUp = [](int64_t a, int64_t b) { return (a + b - 1) / b * b; };
  int64_t bytes = 0;
  for (int i = 0; i < cinfo.num_components; ++i) {
    const jpeg_component_info& c = cinfo.comp_info[i];
    const int64_t h = std::max(c.h_samp_factor, 1), v = std::max(c.v_samp_factor, 1);
    const int64_t blocksW = (int64_t(cinfo.image_width) * h + 8 * maxH - 1) / (8 * maxH);
    const int64_t blocksH = (int64_t(cinfo.image_height) * v + 8 * maxV - 1) / (8 * maxV);
    bytes += roundUp(blocksW, h) * roundUp(blocksH, v) * int64_t(sizeof(JBLOCK));
  }
  return bytes;
}

// Reads the header; false with the library's message on failure.
bool ReadJpegHeader(const std::string& file, THeaderInfo& info, std::string& message) {
  jpeg_decompress_struct cinfo;
  TJpegError err;
  InitError(cinfo, err);
  if (setjmp(err.jump)) {
    message = err.message;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(file.data()),
               static_cast<unsigned long>(file.size()));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  info.width = int(cinfo.image_width);
  info.height = int(cinfo.image_height);
  info.components = cinfo.num_components;
  info.progressive = cinfo.progressive_mode != 0;
  info.coefficientBytes = CoefficientBytes(cinfo);
  if (!jpeg_read_icc_profile(&cinfo, &info.icc, &info.iccSize)) {
    info.icc = nullptr;
    info.iccSize = 0;
  }
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// The decode itself, rows handed to the reducer; kept free of C++ objects
// with destructors because the library's errors leave through longjmp.
// maxMemory bounds what the library may allocate. Returns the rows written.
int DecodeInto(const std::string& file, int denom, int components, TMipReducer* out, long maxMemory,
               const TImageProgress* progress, char* message) {
  jpeg_decompress_struct cinfo;
  TJpegError err;
  InitError(cinfo, err);
  volatile int rows = 0;
  unsigned char* volatile grey = nullptr;
  if (setjmp(err.jump)) {
    std::memcpy(message, err.message, sizeof err.message);
    jpeg_destroy_decompress(&cinfo);
    std::free(grey);
    return rows;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = maxMemory;
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(file.data()),
               static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = unsigned(denom);
  if (components == 1)
    cinfo.out_color_space = JCS_GRAYSCALE;
  else if (components == 4)
    cinfo.out_color_space = JCS_CMYK;
  else
    cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  const int w = int(cinfo.output_width), height = int(cinfo.output_height);
  TBitmap& result = out->Result();
  if (MipDimension(w, result.Level()) != result.Width() ||
      MipDimension(height, result.Level()) != result.Height()) {
    std::strcpy(message, "unexpected scaled size");
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  if (components == 1 || components == 4) {
    grey = static_cast<unsigned char*>(std::malloc(size_t(w) * size_t(components)));
    if (!grey) {
      jpeg_destroy_decompress(&cinfo);
      return 0;
    }
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    if (components == 1 || components == 4) {
      uint8_t* dst = out->Row();
      JSAMPROW line = grey;
      jpeg_read_scanlines(&cinfo, &line, 1);
      const unsigned char* g = grey;
      if (components == 1) {
        // Through the decoder's palette when it has one, else grey into all three.
        if (cinfo.colormap && cinfo.actual_number_of_colors > 0) {
          for (int x = 0; x < w; ++x, dst += 3) {
            int i = g[x] < cinfo.actual_number_of_colors ? g[x] : 0;
            dst[0] = dst[1] = dst[2] = cinfo.colormap[0][i];
          }
        } else {
          for (int x = 0; x < w; ++x, dst += 3) dst[0] = dst[1] = dst[2] = g[x];
        }
        if (progress && *progress && (rows & 255) == 0)
          (*progress)(0.5 + 0.5 * double(rows) / double(height));
      } else {
        // Adobe writes CMYK inverted; others plain.
        bool inverted = cinfo.saw_Adobe_marker;
        for (int x = 0; x < w; ++x, dst += 3, g += 4) {
          unsigned c = g[0], m = g[1], y = g[2], k = g[3];
          if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
          }
          dst[0] = uint8_t(y * k / 255);
          dst[1] = uint8_t(m * k / 255);
          dst[2] = uint8_t(c * k / 255);
        }
      }
      out->Next();
      rows = rows + 1;
    } else if (out->Direct()) {
      JSAMPROW lines[8];
      int n = 0;
      for (; n < 8 && rows + n < height; ++n) lines[n] = result.Row(rows + n);
      JDIMENSION got = jpeg_read_scanlines(&cinfo, lines, JDIMENSION(n));
      for (JDIMENSION i = 0; i < got; ++i) out->Next();
      rows = rows + int(got);
    } else {
      JSAMPROW line = out->Row();
      JDIMENSION got = jpeg_read_scanlines(&cinfo, &line, 1);
      if (got) out->Next();
      rows = rows + int(got);
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::free(grey);
  return rows;
}

}  // namespace

TJpegBitmapStore::TJpegBitmapStore(std::string file)
    : TBitmapStore({0, 0, TPixelFormat::Bgr24}), file_(std::move(file)) {
  THeaderInfo info;
  std::string message;
  if (!ReadJpegHeader(file_, info, message)) throw EImageError("JPEG: " + message);
  if (info.width <= 0 || info.height <= 0) {
    std::free(info.icc);
    throw EImageError("JPEG without size");
  }
  if (info.components != 1 && info.components != 3 && info.components != 4) {
    std::free(info.icc);
    throw EImageError("JPEG with " + std::to_string(info.components) + " components");
  }
  fileWidth_ = info.width;
  fileHeight_ = info.height;
  components_ = info.components;
  progressive_ = info.progressive;
  coefficientBytes_ = info.coefficientBytes;
  if (info.icc) icc_.assign(reinterpret_cast<const char*>(info.icc), info.iccSize);
  std::free(info.icc);
  // Scaled decoding does not shrink the coefficients: a file whose buffer
  // alone exceeds the whole budget can never be shown.
  const int64_t limit = TPictureBudget::Process().Limit();
  if (coefficientBytes_ > limit)
    throw EImageError("decoding it takes " + std::to_string(Megabytes(coefficientBytes_)) +
                      " MB of coefficients, more than the picture budget of " +
                      std::to_string(Megabytes(limit)) + " MB");
  // Too many pixels at full size: start at the first scaled level that fits.
  while (shift_ <= 3 &&
         !PictureSizeAllowed(MipDimension(fileWidth_, shift_), MipDimension(fileHeight_, shift_)))
    ++shift_;
  if (shift_ > 3) CheckPictureSize(MipDimension(fileWidth_, 3), MipDimension(fileHeight_, 3));
  params_.width = MipDimension(fileWidth_, shift_);
  params_.height = MipDimension(fileHeight_, shift_);
}

int64_t TJpegBitmapStore::DecodeBytes(int level) const {
  return LevelBytes(params_.width, params_.height, TPixelFormat::Bgr24, level) + coefficientBytes_;
}

TRef<TBitmap> TJpegBitmapStore::DecodeLevel(int level) {
  if (level < 0) return nullptr;
  // The library scales down to 1/8; coarser levels are halved while decoding.
  const int scale = std::min(level + shift_, 3);
  TMipReducer out(MipDimension(fileWidth_, scale), MipDimension(fileHeight_, scale),
                  TPixelFormat::Bgr24, level + shift_ - scale);
  std::optional<TPictureCharge> coefficients;
  char message[JMSG_LENGTH_MAX] = {};
  int rows = 0;
  if (TPictureBudget::Process().Fits(coefficientBytes_)) {
    coefficients.emplace(coefficientBytes_);
    rows = DecodeInto(file_, 1 << scale, components_, &out,
                      long(coefficientBytes_ + kJpegWorkingBytes), &progress_, message);
  } else {
    std::snprintf(message, sizeof message,
                  "its %lld MB of coefficients do not fit the picture "
                  "budget now",
                  static_cast<long long>(Megabytes(coefficientBytes_)));
  }
  if (rows < MipDimension(fileHeight_, scale)) {
    // Damaged data: keep the rows we have, the rest mid grey.
    Log().Line("JPEG \"" + name_ + "\" decode stopped at row " + std::to_string(rows) + ": " +
               message);
  }
  TRef<TBitmap> bmp = out.Finish();
  bmp->SetLevel(level);
  ReportProgress(1.0);
  return bmp;
}

TRef<TBitmapStore> LoadJpegPicture(TLoadRequest& request) {
  auto signature = [](const uint8_t(&head)[2]) { return head[0] == 0xFF && head[1] == 0xD8; };
  return LoadWholeFile<TJpegBitmapStore, 2>(request, signature, "JPEG");
}

}  // namespace lum
