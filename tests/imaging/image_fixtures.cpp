#include "imaging/image_fixtures.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "foundation/memory_stream.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace lum::test {

namespace {

void Put16(std::string& s, unsigned v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8 & 0xFF));
}
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i) & 0xFF));
}
void PutBe32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(char(v >> (8 * i) & 0xFF));
}

std::string BmpHeaders(int width, int height, int bits, uint32_t compression,
                       const std::vector<TRgb>& palette, const std::string& masks,
                       size_t pixelBytes, int headerSize = 40) {
  // Headers past 40 bytes hold the masks; the rest of them stays zero.
  size_t inside = headerSize > 40 ? size_t(headerSize - 40) : 0;
  size_t offBits = 14 + 40 + std::max(inside, masks.size()) + palette.size() * 4;
  std::string s = "BM";
  Put32(s, uint32_t(offBits + pixelBytes));
  Put32(s, 0);
  Put32(s, uint32_t(offBits));
  Put32(s, uint32_t(headerSize));
  Put32(s, uint32_t(width));
  Put32(s, uint32_t(height));
  Put16(s, 1);
  Put16(s, unsigned(bits));
  Put32(s, compression);
  Put32(s, uint32_t(pixelBytes));
  Put32(s, 2835);
  Put32(s, 2835);
  Put32(s, uint32_t(palette.size()));
  Put32(s, 0);
  s += masks;
  if (inside > masks.size()) s.append(inside - masks.size(), '\0');
  for (const TRgb& c : palette) {
    s.push_back(char(c.b));
    s.push_back(char(c.g));
    s.push_back(char(c.r));
    s.push_back(0);
  }
  return s;
}

}  // namespace

TPixels MakeTestPicture(int width, int height, int seed) {
  TPixels p{width, height, std::vector<TRgb>(size_t(width) * height)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double fx = double(x) / width, fy = double(y) / height;
      int r = int(128 + 100 * std::sin(6.0 * fx + seed) + 20 * std::sin(x * 0.9));
      int g = int(128 + 100 * std::cos(5.0 * fy + fx * 3));
      int b = int(255 * fx * fy + ((x / 7 + y / 5 + seed) % 2) * 30);
      p.At(x, y) = {uint8_t(std::clamp(r, 0, 255)), uint8_t(std::clamp(g, 0, 255)),
                    uint8_t(std::clamp(b, 0, 255))};
    }
  return p;
}

std::string WriteBmp(const TPixels& p, const TBmpSpec& spec) {
  const int bits = spec.bits;
  size_t rowSize = ((size_t(bits) * p.width + 31) / 32) * 4;
  std::string masks;
  uint32_t compression = 0;
  if (spec.bitFields565 || spec.bitFields555) {
    compression = 3;
    if (spec.bitFields565) {
      Put32(masks, 0xF800);
      Put32(masks, 0x07E0);
    } else {
      Put32(masks, 0x7C00);
      Put32(masks, 0x03E0);
    }
    Put32(masks, 0x001F);
  }
  if (!spec.masks32.empty()) {
    compression = 3;
    for (size_t i = 0; i < spec.masks32.size() && (i < 3 || spec.headerSize >= 56); ++i)
      Put32(masks, spec.masks32[i]);
  }
  // A channel's top bits through a mask.
  auto place = [](uint8_t v, uint32_t mask) -> uint32_t {
    if (mask == 0) return 0;
    int width = std::popcount(mask);
    uint32_t q = width >= 8 ? uint32_t(v) << (width - 8) : uint32_t(v) >> (8 - width);
    return q << std::countr_zero(mask) & mask;
  };
  std::string s = BmpHeaders(p.width, spec.topDown ? -p.height : p.height, bits, compression,
                             spec.palette, masks, rowSize * p.height, spec.headerSize);
  for (int i = 0; i < p.height; ++i) {
    int y = spec.topDown ? i : p.height - 1 - i;
    std::string row(rowSize, '\0');
    for (int x = 0; x < p.width; ++x) {
      const TRgb& c = p.At(x, y);
      switch (bits) {
        case 1:
          row[x / 8] = char(row[x / 8] | (spec.indices[size_t(y) * p.width + x] << (7 - x % 8)));
          break;
        case 4:
          row[x / 2] =
              char(row[x / 2] | (spec.indices[size_t(y) * p.width + x] << (x % 2 ? 0 : 4)));
          break;
        case 8:
          row[x] = char(spec.indices[size_t(y) * p.width + x]);
          break;
        case 16: {
          unsigned v = spec.bitFields565 ? (c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3
                                         : (c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3;
          row[x * 2] = char(v & 0xFF);
          row[x * 2 + 1] = char(v >> 8);
          break;
        }
        case 24:
          row[x * 3] = char(c.b);
          row[x * 3 + 1] = char(c.g);
          row[x * 3 + 2] = char(c.r);
          break;
        case 32:
          if (!spec.masks32.empty()) {
            const std::vector<uint32_t>& m = spec.masks32;
            uint8_t a = spec.alpha.empty() ? 0 : spec.alpha[size_t(y) * p.width + x];
            uint32_t v = place(c.r, m[0]) | place(c.g, m[1]) | place(c.b, m[2]) |
                         (m.size() > 3 ? place(a, m[3]) : 0);
            for (int i = 0; i < 4; ++i) row[x * 4 + i] = char(v >> (8 * i));
            break;
          }
          row[x * 4] = char(c.b);
          row[x * 4 + 1] = char(c.g);
          row[x * 4 + 2] = char(c.r);
          row[x * 4 + 3] = 0;
          break;
      }
    }
    s += row;
  }
  return s;
}

std::string WriteRleBmp(int width, int height, int bits, const std::vector<TRgb>& palette,
                        const std::string& encoded) {
  return BmpHeaders(width, height, bits, bits == 8 ? 1 : 2, palette, {}, encoded.size()) + encoded;
}

std::string WritePngBytes(int width, int height, int colorType, int bitDepth,
                          const std::vector<uint16_t>& samples, const std::vector<TRgb>& palette,
                          const std::string& trns) {
  int channels = colorType == 0   ? 1
                 : colorType == 2 ? 3
                 : colorType == 3 ? 1
                 : colorType == 4 ? 2
                                  : 4;
  size_t rowBits = size_t(width) * channels * bitDepth;
  std::string raw;
  size_t k = 0;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    std::string row((rowBits + 7) / 8, '\0');
    size_t bit = 0;
    for (int i = 0; i < width * channels; ++i, ++k) {
      unsigned v = samples[k];
      if (bitDepth == 16) {
        row[bit / 8] = char(v >> 8);
        row[bit / 8 + 1] = char(v & 0xFF);
      } else if (bitDepth == 8) {
        row[bit / 8] = char(v);
      } else {
        row[bit / 8] = char(row[bit / 8] | v << (8 - bitDepth - bit % 8));
      }
      bit += size_t(bitDepth);
    }
    raw += row;
  }
  auto chunk = [](std::string& out, const char* type, const std::string& data) {
    PutBe32(out, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    PutBe32(out,
            uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
  };
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  PutBe32(ihdr, uint32_t(width));
  PutBe32(ihdr, uint32_t(height));
  ihdr.push_back(char(bitDepth));
  ihdr.push_back(char(colorType));
  ihdr.append(3, '\0');
  chunk(png, "IHDR", ihdr);
  if (!palette.empty()) {
    std::string plte;
    for (const TRgb& c : palette) plte += {char(c.r), char(c.g), char(c.b)};
    chunk(png, "PLTE", plte);
  }
  if (!trns.empty()) chunk(png, "tRNS", trns);
  uLongf size = compressBound(uLong(raw.size()));
  std::string z(size, '\0');
  compress(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
           uLong(raw.size()));
  z.resize(size);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", "");
  return png;
}

std::string WritePpm(const TPixels& p) {
  std::string s = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
  for (const TRgb& c : p.px) s += {char(c.r), char(c.g), char(c.b)};
  return s;
}

TPixels ReadPnm(const std::string& bytes) {
  TPixels p;
  size_t pos = 0;
  auto token = [&]() {
    while (pos < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
    size_t start = pos;
    while (pos < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
    return bytes.substr(start, pos - start);
  };
  std::string magic = token();
  p.width = std::stoi(token());
  p.height = std::stoi(token());
  token();
  ++pos;
  bool grey = magic == "P5";
  p.px.resize(size_t(p.width) * p.height);
  for (size_t i = 0; i < p.px.size(); ++i) {
    if (grey) {
      uint8_t v = uint8_t(bytes[pos++]);
      p.px[i] = {v, v, v};
    } else {
      p.px[i] = {uint8_t(bytes[pos]), uint8_t(bytes[pos + 1]), uint8_t(bytes[pos + 2])};
      pos += 3;
    }
  }
  return p;
}

std::string WriteManyFrameGif(int w, int h, int frames) {
  std::string g = "GIF89a";
  Put16(g, unsigned(w));
  Put16(g, unsigned(h));
  g += std::string("\xF0\x00\x00\xFF\x00\x00\x00\x00\xFF", 9);  // red, blue
  for (int i = 0; i < frames; ++i) {
    g += std::string("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);  // 100 ms
    g += std::string("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);
    g += std::string("\x02\x02\x4C\x01\x00", 5);  // codes: clear, 1, end
  }
  return g + ";";
}

std::string CjpegFile(const TPixels& p, const std::vector<std::string>& options, int w, int h) {
  TTempDir dir;
  std::vector<std::string> argv = {"cjpeg"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(dir.Write("in.ppm", WritePpm(p)));
  std::string jpeg = RunTool(argv);
  if (w <= 0) return jpeg;
  size_t sof = jpeg.find("\xFF\xC2");
  if (sof == std::string::npos) sof = jpeg.find("\xFF\xC0");
  EXPECT_NE(sof, std::string::npos);
  const char size[4] = {char(h >> 8), char(h & 0xFF), char(w >> 8), char(w & 0xFF)};
  return jpeg.replace(sof + 5, 4, size, 4);
}

std::string RunTool(const std::vector<std::string>& argv) {
  std::vector<std::string> args = argv;
  if (args[0].find('/') == std::string::npos) args[0] = "/usr/bin/" + args[0];
  TCommandResult r = RunCommand(args);
  EXPECT_EQ(r.status, 0) << argv[0] << ": " << r.err;
  return r.out;
}

TPixels FromBitmap(const TBitmap& b) {
  TRef<TBitmap> c = ConvertBitmap(b, TPixelFormat::Bgr24);
  TPixels p{b.Width(), b.Height(), std::vector<TRgb>(size_t(b.Width()) * b.Height())};
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const uint8_t* s = c->Row(y) + x * 3;
      p.At(x, y) = {s[2], s[1], s[0]};
    }
  return p;
}

int MaxDifference(const TPixels& a, const TPixels& b) {
  if (a.width != b.width || a.height != b.height) return -1;
  int m = 0;
  for (size_t i = 0; i < a.px.size(); ++i) {
    m = std::max({m, std::abs(a.px[i].r - b.px[i].r), std::abs(a.px[i].g - b.px[i].g),
                  std::abs(a.px[i].b - b.px[i].b)});
  }
  return m;
}

TRef<TImage> Load(const std::string& bytes, std::string_view name) {
  TMemoryStream s(bytes);
  return LoadImage(s, name);
}

TPixels ReadPicture(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << f.rdbuf();
  TRef<TImage> img = Load(bytes.str(), path);
  EXPECT_TRUE(img) << path;
  return img ? FromBitmap(*img->GetMipLevel(0)) : TPixels{};
}

}  // namespace lum::test
