// The loader registry and dispatch, the BMP reader and .kvgfx pictures,
// with hostile input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

#include "container/z_stream.h"
#include "foundation/memory_stream.h"
#include "imaging/bmp_reader.h"
#include "imaging/gfx_bitmap_store.h"
#include "imaging/image.h"
#include "imaging/image_fixtures.h"
#include "imaging/loaders.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::FromBitmap;
using test::MaxDifference;
using test::TBmpSpec;
using test::TPixels;
using test::TRgb;

using test::Load;

// --- registry --------------------------------------------------------------

std::vector<std::string> gCalls;

TRef<TBitmapStore> RecordA(TLoadRequest& r) {
  gCalls.push_back("A");
  char c;
  r.stream.Read(&c, 1);  // moves the stream, then declines: dispatcher must not care
  r.stream.SetPosition(0);
  return nullptr;
}
TRef<TBitmapStore> RecordB(TLoadRequest&) {
  gCalls.push_back("B");
  return MakeRef<TSysBitmapStore>(MakeRef<TBitmap>(1, 1, TPixelFormat::Bgr24));
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearImageLoaders();
    gCalls.clear();
  }
  void TearDown() override { ClearImageLoaders(); }
};

TEST_F(Registry, ExtensionsAreNormalised) {
  EXPECT_EQ(NormalizeExtension("jpg"), ".jpg");
  EXPECT_EQ(NormalizeExtension("*.JPG"), ".jpg");
  EXPECT_EQ(NormalizeExtension("  \t.Jpeg"), ".jpeg");
  EXPECT_EQ(NormalizeExtension(""), "");
  RegisterImageLoader(RecordA, " *.abc, xyz");
  RegisterImageLoader(RecordB, ".XYZ");
  TMemoryStream s("data");
  ASSERT_TRUE(LoadImage(s, "C:\\dir.v2\\pic.Xyz"));
  EXPECT_EQ(gCalls, (std::vector<std::string>{"A", "B"}));
  gCalls.clear();
  EXPECT_TRUE(LoadImage(s, "pic.abc") == nullptr);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"A"}));
}

TEST_F(Registry, EmptyExtensionTriesEveryLoaderInOrder) {
  RegisterImageLoader(RecordA, ".one");
  RegisterImageLoader(RecordB, ".two");
  TMemoryStream s("data");
  EXPECT_TRUE(LoadImage(s, "no_extension"));
  EXPECT_EQ(gCalls, (std::vector<std::string>{"A", "B"}));
  gCalls.clear();
  EXPECT_TRUE(LoadImage(s, ""));
  EXPECT_EQ(gCalls, (std::vector<std::string>{"A", "B"}));
  // A dot in a folder name is no extension.
  gCalls.clear();
  EXPECT_TRUE(LoadImage(s, "C:\\my.pics\\photo"));
  EXPECT_EQ(gCalls.size(), 2u);
}

TEST(Dispatch, PngUnderBmpNameAndEveryStandardLoaderByContent) {
  TPixels p = test::MakeTestPicture(9, 7);
  std::vector<uint16_t> samples;
  for (const TRgb& c : p.px) samples.insert(samples.end(), {c.r, c.g, c.b});
  std::string png = test::WritePngBytes(9, 7, 2, 8, samples);
  TMemoryStream s(png);
  EXPECT_EQ(ImageExtension(s, "Photo.BMP"), ".png");
  EXPECT_EQ(s.Position(), 0);
  TRef<TImage> img = Load(png, "Photo.BMP");
  ASSERT_TRUE(img);
  EXPECT_STREQ(img->Store().ClassName(), "TImageLibStore");
  EXPECT_EQ(MaxDifference(FromBitmap(*img->GetMipLevel(0)), p), 0);
  // Without an extension every loader is tried: BMP and PNG data both load.
  EXPECT_TRUE(Load(png, "picture"));
  EXPECT_TRUE(Load(test::WriteBmp(p, {}), "picture"));
  // The wrong extension finds no loader.
  EXPECT_FALSE(Load(png, "picture.jpg"));
  EXPECT_FALSE(Load("not a picture at all", "x.png"));
}

TEST(Dispatch, DecliningLoadersLeaveTheStreamWhereItWas) {
  TPixels p = test::MakeTestPicture(8, 8);
  std::string bmp = test::WriteBmp(p, {});
  std::vector<std::string> inputs = {"",
                                     "B",
                                     "BM",
                                     "KVGF",
                                     "GIF89a",
                                     "\xFF\xD8\xFF",
                                     "\x89PNG\r\n\x1a\n",
                                     bmp.substr(0, 60),
                                     "garbage garbage"};
  TImageLoader loaders[] = {LoadGfxPicture,    LoadBmpPicture,     LoadJpegPicture, LoadGifPicture,
                            LoadGifFirstFrame, LoadGifFramesAtlas, LoadPngPicture};
  for (const std::string& in : inputs) {
    std::string bytes = "prefix" + in;
    for (TImageLoader loader : loaders) {
      TMemoryStream s(bytes);
      s.SetPosition(6);
      TLoadRequest r{s, "x", nullptr, nullptr, false};
      EXPECT_FALSE(loader(r));
      EXPECT_EQ(s.Position(), 6) << in.size();
    }
  }
}

// --- BMP -------------------------------------------------------------------

TEST(Bmp, EveryBitDepthDecodes) {
  TPixels p = test::MakeTestPicture(13, 5);
  for (int bits : {24, 32}) {
    TRef<TImage> img = Load(test::WriteBmp(p, {.bits = bits}), "a.bmp");
    ASSERT_TRUE(img) << bits;
    EXPECT_EQ(img->Params().format, bits == 24 ? TPixelFormat::Bgr24 : TPixelFormat::Bgra32);
    EXPECT_EQ(MaxDifference(FromBitmap(*img->GetMipLevel(0)), p), 0) << bits;
  }
  // 32 bits with an all-zero fourth byte is opaque.
  TRef<TImage> img32 = Load(test::WriteBmp(p, {.bits = 32}), "a.bmp");
  EXPECT_EQ(img32->GetMipLevel(0)->Row(0)[3], 255);

  TBmpSpec s555{.bits = 16};
  TBmpSpec s555f{.bits = 16, .bitFields555 = true};
  TBmpSpec s565{.bits = 16, .bitFields565 = true};
  for (const TBmpSpec& spec : {s555, s555f, s565}) {
    TRef<TImage> img = Load(test::WriteBmp(p, spec), "a.dib");
    ASSERT_TRUE(img);
    EXPECT_EQ(img->Params().format,
              spec.bitFields565 ? TPixelFormat::Bgr565 : TPixelFormat::Bgr555);
    EXPECT_LE(MaxDifference(FromBitmap(*img->GetMipLevel(0)), p), 8);
  }
  // Indexed: palettes of 2, 16 and 256 entries expand to 24 bits.
  for (int bits : {1, 4, 8}) {
    int colours = 1 << bits;
    TBmpSpec spec{.bits = bits};
    for (int i = 0; i < colours; ++i)
      spec.palette.push_back({uint8_t(i * 37), uint8_t(255 - i), uint8_t(i * 3)});
    TPixels q{13, 5, {}};
    for (int i = 0; i < 13 * 5; ++i) {
      spec.indices.push_back(uint8_t((i * 7) % colours));
      q.px.push_back(spec.palette[size_t((i * 7) % colours)]);
    }
    TRef<TImage> img = Load(test::WriteBmp(q, spec), "a.bmp");
    ASSERT_TRUE(img) << bits;
    EXPECT_EQ(img->Params().format, TPixelFormat::Bgr24);
    EXPECT_EQ(MaxDifference(FromBitmap(*img->GetMipLevel(0)), q), 0) << bits;
  }
}

TEST(Bmp, BottomUpAndTopDownLoadIdentically) {
  TPixels p = test::MakeTestPicture(11, 6);
  TRef<TImage> up = Load(test::WriteBmp(p, {.bits = 24}), "a.bmp");
  TRef<TImage> down = Load(test::WriteBmp(p, {.bits = 24, .topDown = true}), "a.bmp");
  ASSERT_TRUE(up && down);
  EXPECT_EQ(MaxDifference(FromBitmap(*up->GetMipLevel(0)), FromBitmap(*down->GetMipLevel(0))), 0);
  EXPECT_EQ(MaxDifference(FromBitmap(*up->GetMipLevel(0)), p), 0);
}

std::vector<TRgb> Palette(int n) {
  std::vector<TRgb> pal;
  for (int i = 0; i < n; ++i) pal.push_back({uint8_t(i * 10), uint8_t(i * 5), uint8_t(200 - i)});
  return pal;
}

TEST(Bmp, Rle8AndRle4) {
  // 4 x 3, bottom-up: row 0 (bottom) = run of 4 x index 1; row 1 = absolute
  // 2 3 4; row 2 = index 5, a delta of two columns, index 6, end of bitmap.
  std::string rle8 = std::string("\x04\x01\x00\x00", 4) +
                     std::string("\x00\x03\x02\x03\x04\x00", 6) + std::string("\x00\x00", 2) +
                     std::string("\x01\x05\x00\x02\x02\x00", 6) +
                     std::string("\x01\x06\x00\x01", 4);
  TRef<TImage> img = Load(test::WriteRleBmp(4, 3, 8, Palette(8), rle8), "r.bmp");
  ASSERT_TRUE(img);
  TPixels got = FromBitmap(*img->GetMipLevel(0));
  std::vector<TRgb> pal = Palette(8);
  EXPECT_EQ(got.At(0, 2), pal[1]);
  EXPECT_EQ(got.At(3, 2), pal[1]);
  EXPECT_EQ(got.At(0, 1), pal[2]);
  EXPECT_EQ(got.At(2, 1), pal[4]);
  EXPECT_EQ(got.At(3, 1), pal[0]);  // not written: index 0
  EXPECT_EQ(got.At(0, 0), pal[5]);
  EXPECT_EQ(got.At(1, 0), pal[0]);
  EXPECT_EQ(got.At(3, 0), pal[6]);

  // RLE4: a run of 5 alternating 1,2; then absolute 3 nibbles 3,4,5.
  std::string rle4 =
      std::string("\x05\x12\x00\x00", 4) + std::string("\x00\x03\x34\x50\x00\x01", 6);
  TRef<TImage> img4 = Load(test::WriteRleBmp(5, 2, 4, Palette(16), rle4), "r.bmp");
  ASSERT_TRUE(img4);
  TPixels g4 = FromBitmap(*img4->GetMipLevel(0));
  std::vector<TRgb> pal16 = Palette(16);
  EXPECT_EQ(g4.At(0, 1), pal16[1]);
  EXPECT_EQ(g4.At(1, 1), pal16[2]);
  EXPECT_EQ(g4.At(4, 1), pal16[1]);
  EXPECT_EQ(g4.At(0, 0), pal16[3]);
  EXPECT_EQ(g4.At(2, 0), pal16[5]);
}

TEST(Bmp, BadRunsAndIndexesStaySafe) {
  // Runs longer than the row, deltas beyond the picture, absolute runs past
  // the data end and indexes beyond a 2-entry palette.
  std::string bad = std::string("\xFF\x07\x00\x02\xFF\xFF\x00\xFF\x01", 9);
  TRef<TImage> img = Load(test::WriteRleBmp(3, 3, 8, Palette(2), bad), "r.bmp");
  ASSERT_TRUE(img);
  TPixels got = FromBitmap(*img->GetMipLevel(0));
  EXPECT_EQ(got.At(0, 2), (TRgb{0, 0, 0}));  // index 7 beyond the palette: black
  // Compression that does not fit the bit count is declined.
  std::string rle8as4 = test::WriteRleBmp(3, 3, 8, Palette(2), "\x00\x01");
  rle8as4[30] = 2;
  EXPECT_FALSE(Load(rle8as4, "r.bmp"));
}

TEST(Bmp, ImpossibleMasksAndUnknownDepthsAreRejected) {
  TPixels p = test::MakeTestPicture(4, 4);
  std::string f = test::WriteBmp(p, {.bits = 16, .bitFields565 = true});
  f[14 + 40 + 4] = char(0xE0);  // green mask 0x07E0 -> 0x07E0 still; change high byte
  f[14 + 40 + 5] = char(0x0F);  // 0x0FE0: neither 5-5-5 nor 5-6-5
  EXPECT_FALSE(Load(f, "m.bmp"));
  std::string d = test::WriteBmp(p, {.bits = 24});
  d[28] = 7;  // 7 bits per pixel
  EXPECT_FALSE(Load(d, "m.bmp"));
  d[28] = 24;
  d[30] = 4;  // JPEG-in-BMP compression
  EXPECT_FALSE(Load(d, "m.bmp"));
}

// --- 32-bit bit fields --------------------------------------------------------

std::vector<uint8_t> AlphaRamp(const TPixels& p) {
  std::vector<uint8_t> a;
  for (size_t i = 0; i < p.px.size(); ++i) a.push_back(uint8_t(i * 29 + 1));
  return a;
}

uint8_t AlphaAt(const TBitmap& b, int x, int y) {
  return b.Row(y)[x * 4 + 3];
}

TEST(Bmp, BitFieldsIn32BitsPlaceEachChannelByItsMask) {
  TPixels p = test::MakeTestPicture(7, 5);
  std::vector<uint8_t> alpha = AlphaRamp(p);
  struct TCase {
    const char* name;
    std::vector<uint32_t> masks;
    int headerSize;
  } cases[] = {
      {"R G B X, red low", {0x000000FF, 0x0000FF00, 0x00FF0000}, 40},
      {"X R G B, red in byte 1", {0x0000FF00, 0x00FF0000, 0xFF000000}, 40},
      {"G B R", {0x00FF0000, 0x000000FF, 0x0000FF00}, 40},
      {"R G B A", {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, 56},
      {"A B G R", {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF}, 108},
      {"B G R A, alpha mask", {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 124},
  };
  for (const TCase& c : cases) {
    for (bool topDown : {false, true}) {
      TBmpSpec spec{.bits = 32, .topDown = topDown, .masks32 = c.masks, .headerSize = c.headerSize};
      if (c.masks.size() > 3) spec.alpha = alpha;
      TRef<TImage> img = Load(test::WriteBmp(p, spec), "f.bmp");
      ASSERT_TRUE(img) << c.name;
      TRef<TBitmap> b = img->GetMipLevel(0);
      EXPECT_EQ(b->Format(), TPixelFormat::Bgra32);
      EXPECT_EQ(MaxDifference(FromBitmap(*b), p), 0) << c.name << " topDown " << topDown;
      for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
          ASSERT_EQ(AlphaAt(*b, x, y), spec.alpha.empty() ? 255 : alpha[size_t(y) * p.width + x])
              << c.name << " at " << x << "," << y;
    }
  }
}

TEST(Bmp, NarrowBitFieldsScaleToEightBits) {
  TPixels p = test::MakeTestPicture(9, 4);
  p.At(0, 0) = {255, 255, 255};
  p.At(1, 0) = {0, 0, 0};
  std::vector<uint8_t> alpha = AlphaRamp(p);
  // 4 bits a channel (A R G B, alpha low): a 4-bit value v is v * 17.
  TBmpSpec s4{
      .bits = 32, .masks32 = {0x00F0, 0x0F00, 0xF000, 0x000F}, .alpha = alpha, .headerSize = 56};
  TRef<TImage> img = Load(test::WriteBmp(p, s4), "n.bmp");
  ASSERT_TRUE(img);
  TRef<TBitmap> b = img->GetMipLevel(0);
  TPixels got = FromBitmap(*b);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const TRgb& c = p.At(x, y);
      TRgb want{uint8_t((c.r >> 4) * 17), uint8_t((c.g >> 4) * 17), uint8_t((c.b >> 4) * 17)};
      ASSERT_EQ(got.At(x, y), want) << x << "," << y;
      ASSERT_EQ(AlphaAt(*b, x, y), (alpha[size_t(y) * p.width + x] >> 4) * 17);
    }
  // 5-6-5 at odd places, a 1-bit alpha: extremes stay extremes.
  TBmpSpec s565{.bits = 32,
                .masks32 = {0x001F0000, 0x000007E0, 0x0000001F, 0x80000000},
                .alpha = std::vector<uint8_t>(alpha.size(), 0),
                .headerSize = 124};
  s565.alpha[0] = 200;
  TRef<TImage> img565 = Load(test::WriteBmp(p, s565), "n.bmp");
  ASSERT_TRUE(img565);
  TRef<TBitmap> b565 = img565->GetMipLevel(0);
  TPixels got565 = FromBitmap(*b565);
  EXPECT_LE(MaxDifference(got565, p), 8);
  EXPECT_EQ(got565.At(0, 0), (TRgb{255, 255, 255}));
  EXPECT_EQ(got565.At(1, 0), (TRgb{0, 0, 0}));
  EXPECT_EQ(AlphaAt(*b565, 0, 0), 255);
  EXPECT_EQ(AlphaAt(*b565, 1, 0), 0);
}

TEST(Bmp, UnusedBitsAndAllZeroAlphaStayOpaque) {
  TPixels p = test::MakeTestPicture(6, 3);
  std::vector<uint8_t> none(p.px.size(), 0);
  // An alpha mask over all-zero values: no alpha, as for plain 32-bit files.
  for (const std::vector<uint32_t>& m :
       {std::vector<uint32_t>{0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
        std::vector<uint32_t>{0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}}) {
    TRef<TImage> img =
        Load(test::WriteBmp(p, {.bits = 32, .masks32 = m, .alpha = none, .headerSize = 108}), "a");
    ASSERT_TRUE(img);
    EXPECT_EQ(AlphaAt(*img->GetMipLevel(0), 3, 1), 255);
  }
  // Without an alpha mask the spare byte is ignored in a non-default order,
  // but stays the alpha of default B, G, R masks, as before.
  std::string rgbx = test::WriteBmp(p, {.bits = 32, .masks32 = {0x00FF, 0xFF00, 0xFF0000}});
  std::string bgrx = test::WriteBmp(p, {.bits = 32, .masks32 = {0xFF0000, 0xFF00, 0x00FF}});
  size_t data = rgbx.size() - p.px.size() * 4;
  ASSERT_EQ(bgrx.size(), rgbx.size());
  rgbx[data + 3] = bgrx[data + 3] = 77;
  TRef<TImage> a = Load(rgbx, "x.bmp");
  TRef<TImage> b = Load(bgrx, "x.bmp");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(AlphaAt(*a->GetMipLevel(0), 0, p.height - 1), 255);
  EXPECT_EQ(AlphaAt(*b->GetMipLevel(0), 0, p.height - 1), 77);
  EXPECT_EQ(AlphaAt(*b->GetMipLevel(0), 1, p.height - 1), 0);
  EXPECT_EQ(MaxDifference(FromBitmap(*a->GetMipLevel(0)), p), 0);
}

TEST(Bmp, OverlappingEmptyOrWideBitFieldsAreDeclined) {
  TPixels p = test::MakeTestPicture(4, 4);
  const std::vector<uint32_t> bad[] = {
      {0x00FF0000, 0x00FFFF00, 0x000000FF},              // red and green overlap
      {0x00FF0000, 0x0000FF00, 0x00000000},              // no blue
      {0x00F0F000, 0x00000F00, 0x000000FF},              // red with a hole
      {0x3FF00000, 0x000FFC00, 0x000003FF},              // 10 bits a channel
      {0x00FF0000, 0x0000FF00, 0x000000FF, 0x800000FF},  // alpha over blue
      {0x00FF0000, 0x0000FF00, 0x000000FF, 0x0F000F00},  // alpha over green, with a hole
      {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF800000},  // 9-bit alpha over blue
  };
  for (const std::vector<uint32_t>& m : bad) {
    TMemoryStream s(test::WriteBmp(p, {.bits = 32, .masks32 = m, .headerSize = 124}));
    EXPECT_FALSE(ReadBmp(s)) << std::hex << m[0] << " " << m[1] << " " << m[2];
    EXPECT_EQ(s.Position(), 0);
  }
  // 32-bit compressions other than none and bit fields.
  std::string f = test::WriteBmp(p, {.bits = 32, .masks32 = {0xFF, 0xFF00, 0xFF0000}});
  f[30] = 6;
  EXPECT_FALSE(Load(f, "m.bmp"));
}

TEST(Bmp, BitFieldFileFromAnIndependentWriter) {
  if (access("/usr/bin/convert", X_OK) != 0) GTEST_SKIP() << "convert (imagemagick) not installed";
  TPixels p = test::MakeTestPicture(11, 7);
  std::vector<uint8_t> alpha = AlphaRamp(p);
  std::vector<uint16_t> samples;
  for (size_t i = 0; i < p.px.size(); ++i)
    samples.insert(samples.end(), {p.px[i].r, p.px[i].g, p.px[i].b, alpha[i]});
  test::TTempDir dir;
  std::string png = dir.Write("in.png", test::WritePngBytes(p.width, p.height, 6, 8, samples));
  std::string out = dir / "out.bmp";
  test::RunTool({"convert", png, out});
  std::string bmp = test::ReadFile(out);
  ASSERT_GE(bmp.size(), 70u);
  ASSERT_EQ(bmp[28], 32);
  ASSERT_EQ(bmp[30], 3);  // bit fields

  // The same file with its channels turned to R, G, B, A and A, B, G, R
  // byte orders: masks and pixels rewritten together.
  auto reorder = [&](const int order[4]) {
    std::string f = bmp;
    uint32_t offBits = uint8_t(f[10]) | uint8_t(f[11]) << 8 | uint8_t(f[12]) << 16;
    int from[4] = {2, 1, 0, 3};  // R, G, B, A bytes as written: B, G, R, A
    for (int c = 0; c < 4; ++c) {
      uint32_t mask = 0xFFu << (8 * order[c]);
      for (int i = 0; i < 4; ++i) f[size_t(54 + 4 * c + i)] = char(mask >> (8 * i));
    }
    for (size_t at = offBits; at < offBits + p.px.size() * 4; at += 4) {
      std::string px = bmp.substr(at, 4);
      for (int c = 0; c < 4; ++c) f[at + size_t(order[c])] = px[size_t(from[c])];
    }
    return f;
  };
  const int rgba[4] = {0, 1, 2, 3}, abgr[4] = {3, 2, 1, 0};
  for (const std::string& f : {bmp, reorder(rgba), reorder(abgr)}) {
    TRef<TImage> img = Load(f, "tool.bmp");
    ASSERT_TRUE(img);
    TRef<TBitmap> b = img->GetMipLevel(0);
    EXPECT_EQ(MaxDifference(FromBitmap(*b), p), 0);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        ASSERT_EQ(AlphaAt(*b, x, y), alpha[size_t(y) * p.width + x]) << x << "," << y;
  }
}

TEST(Bmp, HostileSizesAndOffsets) {
  TPixels p = test::MakeTestPicture(4, 4);
  std::string f = test::WriteBmp(p, {.bits = 24});
  // Pixel offset beyond the file.
  std::string off = f;
  off[10] = char(0xFF);
  off[11] = char(0xFF);
  EXPECT_FALSE(Load(off, "h.bmp"));
  // 100000 x 100000 declared in a tiny file: refused before any allocation.
  std::string huge = f;
  for (int at : {18, 22}) {
    huge[at] = char(0xA0);
    huge[at + 1] = char(0x86);
    huge[at + 2] = char(0x01);
    huge[at + 3] = 0;
  }
  EXPECT_FALSE(Load(huge, "h.bmp"));
  // 10000 x 10000 (within the budget) but the pixels are not in the file.
  std::string big = f;
  for (int at : {18, 22}) {
    big[at] = char(0x10);
    big[at + 1] = char(0x27);
    big[at + 2] = 0;
    big[at + 3] = 0;
  }
  EXPECT_FALSE(Load(big, "h.bmp"));
  // Negative width, INT_MIN height.
  std::string neg = f;
  neg[21] = char(0x80);
  EXPECT_FALSE(Load(neg, "h.bmp"));
  std::string minh = f;
  minh[22] = minh[23] = minh[24] = 0;
  minh[25] = char(0x80);
  EXPECT_FALSE(Load(minh, "h.bmp"));
}

TEST(Bmp, TruncatedAtEveryLengthDeclinesOrDecodes) {
  TPixels p = test::MakeTestPicture(5, 4);
  TBmpSpec spec{.bits = 8};
  for (int i = 0; i < 256; ++i) spec.palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
  for (int i = 0; i < 20; ++i) spec.indices.push_back(uint8_t(i * 13));
  std::vector<std::string> files = {
      test::WriteBmp(p, {.bits = 24}), test::WriteBmp(p, spec),
      test::WriteRleBmp(4, 3, 8, Palette(8), "\x04\x01\x00\x00\x03\x02\x00\x01"),
      test::WriteBmp(p, {.bits = 32,
                         .masks32 = {0xFF, 0xFF00, 0xFF0000, 0xFF000000},
                         .alpha = std::vector<uint8_t>(20, 9),
                         .headerSize = 124})};
  for (const std::string& f : files) {
    for (size_t n = 0; n < f.size(); ++n) {
      TMemoryStream s(f.substr(0, n));
      TRef<TBitmap> b = ReadBmp(s);
      if (!b) {
        EXPECT_EQ(s.Position(), 0);
      }
    }
  }
}

// --- .kvgfx ----------------------------------------------------------------

TEST(Gfx, DecodesTheDeflatedBmp) {
  TPixels p = test::MakeTestPicture(12, 9);
  std::string gfx = WriteGfx(test::WriteBmp(p, {.bits = 24}), 12, 9, "C:\\Pics\\a.jpg");
  TRef<TImage> img = Load(gfx, "C:\\Pics\\a.jpg.kvgfx");
  ASSERT_TRUE(img);
  EXPECT_STREQ(img->Store().ClassName(), "TGfxBitmapStore");
  EXPECT_EQ(img->Params().format, TPixelFormat::Bgra32);
  TRef<TBitmap> b = img->GetMipLevel(0);
  EXPECT_EQ(b->Format(), TPixelFormat::Bgra32);
  EXPECT_EQ(MaxDifference(FromBitmap(*b), p), 0);
  // The .kvgfx loader is registered for ".bmp" and ".png" names too.
  EXPECT_STREQ(Load(gfx, "x.bmp")->Store().ClassName(), "TGfxBitmapStore");
  EXPECT_STREQ(Load(gfx, "x.gif|framesatlas")->Store().ClassName(), "TGfxBitmapStore");
}

TEST(Gfx, DamagedPayloadGivesABlankPictureOfTheDeclaredSize) {
  TPixels p = test::MakeTestPicture(12, 9);
  std::string gfx = WriteGfx(test::WriteBmp(p, {.bits = 24}), 12, 9, "a.jpg");
  for (size_t i = gfx.size() - 20; i < gfx.size(); ++i) gfx[i] = char(gfx[i] ^ 0x5A);
  TRef<TImage> img = Load(gfx, "a.kvgfx");
  ASSERT_TRUE(img);
  TRef<TBitmap> b = img->GetMipLevel(0);
  EXPECT_EQ(b->Width(), 12);
  EXPECT_EQ(b->Height(), 9);
  EXPECT_EQ(b->Row(8)[11 * 4], kBlankGfxGrey);
  // Payload cut off entirely: blank as well.
  std::string headerOnly = gfx.substr(0, gfx.find("OriginalSize") + 12 + 2 + 3);
  TRef<TImage> blank = Load(headerOnly, "a.kvgfx");
  ASSERT_TRUE(blank);
  EXPECT_EQ(blank->GetMipLevel(0)->Width(), 12);
}

std::string GfxWithFields(const std::vector<std::pair<std::string, std::string>>& fields,
                          const std::string& payload) {
  std::string out = "KVGF";
  out.push_back(char(fields.size()));
  out.push_back(0);
  for (const auto& [name, value] : fields) {
    for (const std::string* t : {&name, &value}) {
      out.push_back(char(t->size() & 0xFF));
      out.push_back(char(t->size() >> 8));
      out += *t;
    }
  }
  return out + payload;
}

TEST(Gfx, HeadersThatAreNotPictures) {
  std::string bmp = test::WriteBmp(test::MakeTestPicture(2, 2), {});
  std::string packed = DeflateRaw(bmp);
  std::string size = std::to_string(bmp.size());
  auto make = [&](std::string w, std::string h, bool withHeight = true) {
    std::vector<std::pair<std::string, std::string>> f = {
        {"File", "a.bmp"}, {"Width", w}, {"OriginalSize", size}, {"Extra", ""}};
    if (withHeight) f.push_back({"Height", h});
    return GfxWithFields(f, packed);
  };
  EXPECT_TRUE(Load(make("2", "2"), "a.kvgfx"));
  EXPECT_FALSE(Load(make("2", "2", false), "a.kvgfx"));  // a required field missing
  EXPECT_FALSE(Load(make("two", "2"), "a.kvgfx"));
  EXPECT_FALSE(Load(make("-2", "2"), "a.kvgfx"));
  // A declared size beyond the pixel budget is refused, not allocated.
  EXPECT_FALSE(Load(make("100000", "100000"), "a.kvgfx"));
  // Strings running past the end, at every cut inside the header.
  std::string good = make("2", "2");
  for (size_t n = 0; n + packed.size() < good.size(); ++n) {
    TMemoryStream s(good.substr(0, n));
    TLoadRequest r{s, "a.kvgfx", nullptr, nullptr, false};
    EXPECT_FALSE(LoadGfxPicture(r)) << n;
    EXPECT_EQ(s.Position(), 0);
  }
  // A declared size that the payload's BMP does not have: blank, declared size.
  TRef<TImage> other = Load(make("3", "5"), "a.kvgfx");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->GetMipLevel(0)->Height(), 5);
}

}  // namespace
}  // namespace lum
