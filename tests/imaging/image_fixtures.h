#pragma once
// Test pictures written byte by byte (BMP, PNG, PPM) or made by independent
// tools (cjpeg, djpeg, gifbuild), and pixel helpers.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/image.h"

namespace lum::test {

struct TRgb {
  uint8_t r, g, b;
  bool operator==(const TRgb&) const = default;
};

// A picture as plain RGB rows, top row first.
struct TPixels {
  int width = 0, height = 0;
  std::vector<TRgb> px;
  TRgb& At(int x, int y) { return px[size_t(y) * width + x]; }
  const TRgb& At(int x, int y) const { return px[size_t(y) * width + x]; }
};

// A smooth photo-like picture with some detail.
TPixels MakeTestPicture(int width, int height, int seed = 0);

// BMP writer: bits 1, 4, 8 (palette given), 16 (555 or 565 with bit fields),
// 24, 32 (optionally with bit fields). Rows bottom-up unless topDown.
struct TBmpSpec {
  int bits = 24;
  bool topDown = false;
  bool bitFields565 = false;          // 16 bits: compression 3 with 5-6-5 masks
  bool bitFields555 = false;          // 16 bits: compression 3 with 5-5-5 masks
  std::vector<TRgb> palette = {};     // indexed bits
  std::vector<uint8_t> indices = {};  // indexed bits: one per pixel
  // 32 bits: compression 3 with masks red, green, blue[, alpha]; each
  // channel's top bits go through its mask. Empty: plain B, G, R, 0.
  std::vector<uint32_t> masks32 = {};
  std::vector<uint8_t> alpha = {};  // 32 bits with an alpha mask: one per pixel
  // 40, or 56 / 108 / 124 with the masks (alpha included) inside the header.
  int headerSize = 40;
};
std::string WriteBmp(const TPixels& p, const TBmpSpec& spec);
// An RLE8 or RLE4 file from raw encoded bytes.
std::string WriteRleBmp(int width, int height, int bits, const std::vector<TRgb>& palette,
                        const std::string& encoded);

// PNG writer (zlib for the data, own chunk layout): colour type 0, 2, 3, 4, 6
// at the given bit depth; samples given as 16-bit values scaled by the writer.
std::string WritePngBytes(int width, int height, int colorType, int bitDepth,
                          const std::vector<uint16_t>& samples,
                          const std::vector<TRgb>& palette = {}, const std::string& trns = {});

// A GIF of a w x h screen holding `frames` frames of one blue pixel at (0, 0).
std::string WriteManyFrameGif(int w, int h, int frames);
// cjpeg's file of the picture (with its options), its frame header then
// patched to say w x h (0: as made).
std::string CjpegFile(const TPixels& p, const std::vector<std::string>& options, int w = 0,
                      int h = 0);

// Netpbm (P6) writer and reader (P5/P6).
std::string WritePpm(const TPixels& p);
TPixels ReadPnm(const std::string& bytes);

// Runs a tool; its stdout. Fails the test when it exits with an error.
std::string RunTool(const std::vector<std::string>& argv);

// A picture decoded by the loaders from bytes, as if read from a file of that name.
TRef<TImage> Load(const std::string& bytes, std::string_view name);

// A picture file (a PNG a command wrote) decoded by the loaders, as RGB;
// empty (and a test failure) when it cannot be read.
TPixels ReadPicture(const std::string& path);

// The bitmap as RGB (any pixel format).
TPixels FromBitmap(const TBitmap& b);
// Largest channel difference; -1 when the sizes differ.
int MaxDifference(const TPixels& a, const TPixels& b);

}  // namespace lum::test
