#pragma once
// Pictures the timing harnesses draw, written without the code under test.
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace lum::bench {

using TRgbOf = std::function<std::array<uint8_t, 3>(int x, int y)>;

// A 24-bit BMP of w x h whose pixel (x, y) is rgb(x, y), bottom-up rows.
inline void WriteBmp(const std::filesystem::path& path, int w, int h, const TRgbOf& rgb) {
  const int row = (w * 3 + 3) / 4 * 4, size = 54 + row * h;
  std::vector<uint8_t> b(size_t(size), 0);
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[size_t(at + i)] = uint8_t(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, uint32_t(size)), put32(10, 54), put32(14, 40), put32(18, uint32_t(w));
  put32(22, uint32_t(h));
  b[26] = 1, b[28] = 24;
  put32(34, uint32_t(row * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const auto [r, g, bl] = rgb(x, y);
      uint8_t* p = &b[54 + size_t(h - 1 - y) * size_t(row) + size_t(x) * 3];
      p[0] = bl, p[1] = g, p[2] = r;
    }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), size);
}

// Ramps and a ripple.
inline void WriteRampBmp(const std::filesystem::path& path, int w, int h) {
  WriteBmp(path, w, h, [w, h](int x, int y) {
    return std::array<uint8_t, 3>{uint8_t((x ^ y) & 255), uint8_t(y * 255 / h),
                                  uint8_t(x * 255 / w)};
  });
}

}  // namespace lum::bench
