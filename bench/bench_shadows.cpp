// Shadow generation for a full-screen text picture (1920 x 1080, white glyph
// strokes on transparent) against decoding a 24-megapixel JPEG at level 2
// (a quarter of each side), both in this run; best of five each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

// jpeglib needs FILE declared first.
#include <jpeglib.h>

#include "foundation/memory_stream.h"
#include "imaging/bitmap_store.h"
#include "imaging/image.h"
#include "model/shadow.h"
#include "model/shadow_service.h"

using namespace lum;

namespace {

double BestMs(const std::function<void()>& work) {
  double best = 1e300;
  for (int i = 0; i < 5; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    work();
    best = std::min(
        best,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// Lines of 160-pixel "glyphs": vertical and horizontal strokes with gaps.
TRef<TBitmap> TextLike() {
  auto b = MakeRef<TBitmap>(1920, 1080, TPixelFormat::Bgra32);
  for (int y = 0; y < 1080; ++y) {
    uint8_t* row = b->Row(y);
    for (int x = 0; x < 1920; ++x) {
      const int gx = x % 120, gy = y % 270;
      const bool line = gy > 40 && gy < 230;
      const bool stroke =
          line && (gx < 18 || (gx > 60 && gx < 78) || (gy > 125 && gy < 143 && gx < 90));
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = 255;
      row[4 * x + 3] = stroke ? 255 : 0;
    }
  }
  return b;
}

// A 6000 x 4000 JPEG of smooth gradients with some detail, quality 90.
std::string Photo() {
  const int w = 6000, h = 4000;
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = w, c.image_height = h, c.input_components = 3, c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      row[size_t(x) * 3] = (unsigned char)(x * 255 / w);
      row[size_t(x) * 3 + 1] = (unsigned char)(y * 255 / h);
      row[size_t(x) * 3 + 2] = (unsigned char)((x * 7 + y * 13) % 256);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::string file(reinterpret_cast<char*>(out), size);
  jpeg_destroy_compress(&c);
  free(out);
  return file;
}

}  // namespace

int main() {
  TImage text(MakeRef<TSysBitmapStore>(TextLike()));
  TShadowParams p;
  p.source = "Text: bench";
  p.right = 1920, p.bottom = 1080;
  p.blurSize = 16 * TextBlurScale(200, 0);  // "ShadowSize" 16 on a 200-pixel font
  const double shadow = BestMs([&] { GenerateShadow(p, &text); });

  const std::string jpeg = Photo();
  const double decode = BestMs([&] {
    TMemoryStream s(jpeg);
    TRef<TImage> image = LoadImage(s, "photo.jpg");
    if (!image || !image->GetMipLevel(2)) std::fprintf(stderr, "decode failed\n");
  });
  std::printf("shadow of a 1920x1080 text picture: %.1f ms\n", shadow);
  std::printf("24-megapixel JPEG decoded at level 2: %.1f ms\n", decode);
  std::printf("ratio shadow / decode: %.2f (target <= 1)\n", shadow / decode);

  // What a frame pays while the player makes the same shadow off its thread:
  // the asking only (a new description each time, so that it is made).
  TRef<TImage> held = text.Clone();
  double ask = 1e9;
  for (int i = 0; i < 5; ++i) {
    TShadowService service;
    p.spread = i;
    TRef<TImage> picture;
    const auto t0 = std::chrono::steady_clock::now();
    service.Request(ShadowDescription(p), p, held, picture);
    ask = std::min(
        ask,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    service.WaitIdle();
  }
  std::printf("asking for it off the engine thread: %.3f ms per frame until it is ready\n", ask);
  return 0;
}
