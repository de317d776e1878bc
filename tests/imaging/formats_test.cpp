// JPEG (against djpeg), PNG (all colour types and depths) and GIF (frames,
// disposal, atlas) through the loaders, with damaged input.
#include <gtest/gtest.h>
#include <zlib.h>

#include "foundation/memory_stream.h"
#include "imaging/gif_loader.h"
#include "imaging/image.h"
#include "imaging/image_fixtures.h"
#include "imaging/jpeg_bitmap_store.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::FromBitmap;
using test::MaxDifference;
using test::ReadFile;
using test::RunTool;
using test::TPixels;
using test::TRgb;
using test::TTempDir;

using test::Load;

// --- JPEG ------------------------------------------------------------------

struct TJpegFixture {
  TTempDir dir;
  std::string Make(const TPixels& p, std::vector<std::string> options) {
    std::string ppm = dir.Write("in.ppm", test::WritePpm(p));
    std::string out = dir / "out.jpg";
    std::vector<std::string> argv = {"cjpeg", "-quality", "85"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-outfile", out, ppm});
    RunTool(argv);
    return ReadFile(out);
  }
  TPixels Reference(const std::string& jpeg, const std::string& scale) {
    std::string in = dir.Write("ref.jpg", jpeg);
    std::string out = dir / "ref.pnm";
    RunTool({"djpeg", "-pnm", "-scale", scale, "-outfile", out, in});
    return test::ReadPnm(ReadFile(out));
  }
};

TEST(Jpeg, LevelsMatchDjpegAtEveryScale) {
  TJpegFixture f;
  TPixels p = test::MakeTestPicture(203, 141);
  for (bool progressive : {false, true}) {
    std::string jpeg = f.Make(
        p, progressive ? std::vector<std::string>{"-progressive"} : std::vector<std::string>{});
    TRef<TImage> img = Load(jpeg, "C:\\photo.JPG");
    ASSERT_TRUE(img);
    auto& store = static_cast<TJpegBitmapStore&>(img->Store());
    EXPECT_EQ(store.Progressive(), progressive);
    EXPECT_FALSE(store.Greyscale());
    EXPECT_EQ(img->Params().format, TPixelFormat::Bgr24);
    const char* scales[] = {"1/1", "1/2", "1/4", "1/8"};
    for (int level = 0; level < 4; ++level) {
      TPixels ref = f.Reference(jpeg, scales[level]);
      TPixels got = FromBitmap(*img->GetMipLevel(level));
      EXPECT_EQ(MaxDifference(got, ref), 0) << "level " << level;
    }
    // Below the library's 1/8 the levels are halved: 26 x 18 -> 13 x 9.
    TRef<TBitmap> l4 = img->GetMipLevel(4);
    EXPECT_EQ(l4->Width(), 13);
    EXPECT_EQ(l4->Height(), 9);
  }
}

TEST(Jpeg, GreyscaleExpandsToThreeChannelsWithProgress) {
  TJpegFixture f;
  std::string jpeg = f.Make(test::MakeTestPicture(64, 40), {"-grayscale"});
  TRef<TImage> img = Load(jpeg, "g.jpeg");
  ASSERT_TRUE(img);
  EXPECT_TRUE(static_cast<TJpegBitmapStore&>(img->Store()).Greyscale());
  std::vector<double> reports;
  img->Store().SetProgress([&](double v) { reports.push_back(v); });
  TPixels got = FromBitmap(*img->GetMipLevel(0));
  EXPECT_EQ(MaxDifference(got, f.Reference(jpeg, "1/1")), 0);
  ASSERT_FALSE(reports.empty());
  EXPECT_GE(reports.front(), 0.5);
  EXPECT_EQ(reports.back(), 1.0);
}

TEST(Jpeg, EmbeddedProfileIsAttachedUnderTheFileName) {
  TJpegFixture f;
  const std::string icc = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
  std::string jpeg = f.Make(test::MakeTestPicture(16, 16), {"-icc", icc});
  TRef<TImage> img = Load(jpeg, "C:\\Pics\\adobe.jpg");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->Store().IccProfile(), ReadFile(icc));
  EXPECT_EQ(img->Store().IccName(), "C:\\Pics\\adobe.jpg");
  TRef<TImage> plain = Load(f.Make(test::MakeTestPicture(16, 16), {}), "p.jpg");
  EXPECT_TRUE(plain->Store().IccProfile().empty());
}

// Patches the frame header's size of a baseline JPEG.
std::string WithSize(std::string jpeg, int w, int h) {
  size_t sof = jpeg.find("\xFF\xC0");
  EXPECT_NE(sof, std::string::npos);
  jpeg[sof + 5] = char(h >> 8);
  jpeg[sof + 6] = char(h & 0xFF);
  jpeg[sof + 7] = char(w >> 8);
  jpeg[sof + 8] = char(w & 0xFF);
  return jpeg;
}

TEST(Jpeg, OversizedPicturesStartAtTheFirstScaledLevelThatFits) {
  TJpegFixture f;
  std::string small = f.Make(test::MakeTestPicture(16, 16), {});
  TRef<TImage> img = Load(WithSize(small, 30000, 30000), "huge.jpg");
  ASSERT_TRUE(img);
  EXPECT_EQ(static_cast<TJpegBitmapStore&>(img->Store()).Shift(), 1);
  EXPECT_EQ(img->Width(), 15000);
  TRef<TImage> img2 = Load(WithSize(small, 65000, 65000), "huge.jpg");
  ASSERT_TRUE(img2);
  EXPECT_EQ(img2->Width(), 16250);
  EXPECT_FALSE(Load(WithSize(small, 0, 16), "zero.jpg"));
}

TEST(Jpeg, TruncatedAndDamagedFilesNeverCrash) {
  TJpegFixture f;
  TPixels p = test::MakeTestPicture(40, 24);
  std::string jpeg = f.Make(p, {"-progressive"});
  for (size_t n = 0; n < jpeg.size(); n += 7) {
    TRef<TImage> img = Load(jpeg.substr(0, n), "t.jpg");
    if (img) {
      TRef<TBitmap> b = img->GetMipLevel(0);
      EXPECT_EQ(b->Width(), 40);
      img->GetMipLevel(2);
    }
  }
  std::string damaged = jpeg;
  for (size_t i = damaged.size() / 2; i < damaged.size(); i += 13) damaged[i] = char(0xFF);
  if (TRef<TImage> img = Load(damaged, "d.jpg")) img->GetMipLevel(0);
}

// --- PNG -------------------------------------------------------------------

TEST(Png, EveryColourTypeAndDepth) {
  const int w = 7, h = 5;
  struct TCase {
    int type, depth;
  };
  for (TCase c : {TCase{0, 1},
                  {0, 2},
                  {0, 4},
                  {0, 8},
                  {0, 16},
                  {2, 8},
                  {2, 16},
                  {3, 1},
                  {3, 2},
                  {3, 4},
                  {3, 8},
                  {4, 8},
                  {4, 16},
                  {6, 8},
                  {6, 16}}) {
    int channels = c.type == 0 ? 1 : c.type == 2 ? 3 : c.type == 3 ? 1 : c.type == 4 ? 2 : 4;
    int maxv = (1 << c.depth) - 1;
    std::vector<uint16_t> samples;
    std::vector<TRgb> palette;
    if (c.type == 3)
      for (int i = 0; i <= maxv; ++i) palette.push_back({uint8_t(i * 50), uint8_t(255 - i), 9});
    TPixels want{w, h, {}};
    std::vector<uint8_t> alpha;
    for (int i = 0; i < w * h; ++i) {
      int v = (i * 2654435761u >> 8) % (maxv + 1);
      for (int k = 0; k < channels; ++k) samples.push_back(uint16_t((v + k * 3) % (maxv + 1)));
      auto to8 = [&](int s) { return uint8_t((s * 255 + maxv / 2) / maxv); };
      if (c.type == 3) {
        want.px.push_back(palette[size_t(v)]);
      } else if (c.type == 0 || c.type == 4) {
        uint8_t g = to8(v);
        want.px.push_back({g, g, g});
        if (c.type == 4) alpha.push_back(to8((v + 3) % (maxv + 1)));
      } else {
        want.px.push_back({to8(v), to8((v + 3) % (maxv + 1)), to8((v + 6) % (maxv + 1))});
        if (c.type == 6) alpha.push_back(to8((v + 9) % (maxv + 1)));
      }
    }
    std::string png = test::WritePngBytes(w, h, c.type, c.depth, samples, palette);
    TRef<TImage> img = Load(png, "p.png");
    ASSERT_TRUE(img) << c.type << "/" << c.depth;
    bool hasAlpha = c.type == 4 || c.type == 6;
    EXPECT_EQ(img->Params().format, hasAlpha ? TPixelFormat::Bgra32 : TPixelFormat::Bgr24);
    TRef<TBitmap> b = img->GetMipLevel(0);
    EXPECT_LE(MaxDifference(FromBitmap(*b), want), 1) << c.type << "/" << c.depth;
    if (hasAlpha) {
      EXPECT_NEAR(b->Row(0)[3], alpha[0], 1);
    }
  }
}

TEST(Png, TransparencyChunkGivesAlpha) {
  std::vector<TRgb> pal = {{255, 0, 0}, {0, 255, 0}};
  std::string png = test::WritePngBytes(2, 1, 3, 8, {0, 1}, pal, std::string("\x00\xFF", 2));
  TRef<TImage> img = Load(png, "t.png");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->Params().format, TPixelFormat::Bgra32);
  TRef<TBitmap> b = img->GetMipLevel(0);
  EXPECT_EQ(b->Row(0)[3], 0);
  EXPECT_EQ(b->Row(0)[2], 255);
  EXPECT_EQ(b->Row(0)[7], 255);
}

TEST(Png, EmbeddedProfileIsAttached) {
  std::string icc = ReadFile("/usr/share/color/icc/sRGB.icc");
  uLongf size = compressBound(uLong(icc.size()));
  std::string z(size, '\0');
  compress(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(icc.data()),
           uLong(icc.size()));
  z.resize(size);
  std::string body = std::string("iCCP") + "sRGB" + std::string(2, '\0') + z;
  std::string chunk;
  for (int i = 3; i >= 0; --i) chunk.push_back(char((body.size() - 4) >> (8 * i)));
  chunk += body;
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())));
  for (int i = 3; i >= 0; --i) chunk.push_back(char(crc >> (8 * i)));
  // An RGB profile fits an RGB picture only.
  std::string png =
      test::WritePngBytes(2, 2, 2, 8, {0, 0, 0, 50, 50, 50, 100, 100, 100, 150, 150, 150});
  png.insert(33, chunk);  // right after IHDR
  TRef<TImage> img = Load(png, "C:\\p.png");
  ASSERT_TRUE(img);
  EXPECT_TRUE(img->Store().IccProfile() == icc) << img->Store().IccProfile().size();
  EXPECT_EQ(img->Store().IccName(), "C:\\p.png");
  EXPECT_EQ(img->GetMipLevel(0)->Row(1)[3 + 2], 150);
}

TEST(Png, HostileHeadersAndTruncation) {
  std::vector<uint16_t> samples(9 * 4 * 3, 100);
  std::string png = test::WritePngBytes(9, 4, 2, 8, samples);
  for (size_t n = 0; n < png.size(); ++n) {
    if (TRef<TImage> img = Load(png.substr(0, n), "t.png")) {
      EXPECT_EQ(img->GetMipLevel(0)->Width(), 9);
    }
  }
  // 70000 x 70000 in the header (checksum fixed up): refused, nothing allocated.
  std::string huge = png;
  for (int at : {16, 20}) {
    huge[at] = 0;
    huge[at + 1] = char(0x01);
    huge[at + 2] = char(0x11);
    huge[at + 3] = char(0x70);
  }
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(huge.data() + 12), 17));
  for (int i = 0; i < 4; ++i) huge[29 + i] = char(crc >> (24 - 8 * i));
  EXPECT_FALSE(Load(huge, "h.png"));
}

// --- GIF -------------------------------------------------------------------

std::string Gif(TTempDir& dir, const std::string& text) {
  std::string in = dir.Write("g.txt", text);
  return RunTool({"gifbuild", in});
}

const char* kHeader =
    "screen width 4\nscreen height 2\nscreen colors 4\nscreen background 0\n"
    "screen map\n\trgb 255 0 0\n\trgb 0 255 0\n\trgb 0 0 255\n\trgb 255 255 255\nend\n";

TEST(Gif, FramesComposeWithDisposalIntoTheAtlas) {
  TTempDir dir;
  // Frame 1: 2 x 2 at (0,0), index 3 transparent, disposal 2 (restore background).
  // Frame 2: 2 x 2 at (2,0), blue, disposal 1. Frame 3: 1 x 1 at (3,1), green.
  std::string gif =
      Gif(dir, std::string(kHeader) +
                   "graphics control\n\tdisposal mode 2\n\tdelay 10\n\ttransparent index 3\nend\n"
                   "image\nimage left 0\nimage top 0\nimage bits 2 by 2 hex\n0001\n0203\n"
                   "graphics control\n\tdisposal mode 1\n\tdelay 20\nend\n"
                   "image\nimage left 2\nimage top 0\nimage bits 2 by 2 hex\n0202\n0202\n"
                   "graphics control\n\tdisposal mode 1\n\tdelay 30\nend\n"
                   "image\nimage left 3\nimage top 1\nimage bits 1 by 1 hex\n01\n");
  TRef<TImage> first = Load(gif, "anim.gif");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Width(), 4);
  TPixels f1 = FromBitmap(*first->GetMipLevel(0));
  EXPECT_EQ(f1.At(0, 0), (TRgb{255, 0, 0}));
  EXPECT_EQ(f1.At(1, 0), (TRgb{0, 255, 0}));
  EXPECT_EQ(first->GetMipLevel(0)->Row(1)[1 * 4 + 3], 0);  // transparent index
  EXPECT_EQ(Load(gif, "anim.gif_first_frame")->Width(), 4);

  TRef<TImage> atlas = Load(gif, "C:\\anim.GIF|framesatlas");
  ASSERT_TRUE(atlas);
  auto& store = static_cast<TGifBitmapStore&>(atlas->Store());
  EXPECT_EQ(store.FrameCount(), 3);
  EXPECT_EQ(store.FrameDelays(), (std::vector<int>{100, 200, 300}));
  EXPECT_EQ(atlas->Width(), 12);
  TRef<TBitmap> b = atlas->GetMipLevel(0);
  auto alpha = [&](int x, int y) { return b->Row(y)[x * 4 + 3]; };
  TPixels all = FromBitmap(*b);
  // Frame 2: frame 1's area was cleared (disposal 2), the blue block drawn.
  EXPECT_EQ(alpha(4 + 0, 0), 0);
  EXPECT_EQ(all.At(4 + 2, 0), (TRgb{0, 0, 255}));
  // Frame 3: frame 2 kept (disposal 1), one green pixel added.
  EXPECT_EQ(all.At(8 + 2, 0), (TRgb{0, 0, 255}));
  EXPECT_EQ(all.At(8 + 3, 1), (TRgb{0, 255, 0}));
}

TEST(Gif, FramesOutsideTheScreenAndDamagedDataStaySafe) {
  TTempDir dir;
  std::string gif = Gif(dir, std::string(kHeader) +
                                 "image\nimage left 3\nimage top 1\nimage bits 3 by 3 hex\n"
                                 "010101\n010101\n010101\n"
                                 "image\nimage interlaced\nimage left 0\nimage top 0\n"
                                 "image bits 4 by 2 hex\n00010203\n03020100\n");
  TRef<TImage> atlas = Load(gif, "a.gif|framesatlas");
  ASSERT_TRUE(atlas);
  TPixels all = FromBitmap(*atlas->GetMipLevel(0));
  EXPECT_EQ(all.At(3, 1), (TRgb{0, 255, 0}));  // the visible corner of the clipped frame
  EXPECT_EQ(all.At(4 + 3, 0), (TRgb{255, 255, 255}));
  EXPECT_EQ(all.At(4 + 0, 1), (TRgb{255, 255, 255}));
  for (size_t n = 0; n < gif.size(); ++n) {
    if (TRef<TImage> img = Load(gif.substr(0, n), "t.gif|framesatlas")) img->GetMipLevel(0);
  }
  std::string damaged = gif;
  for (size_t i = 40; i < damaged.size(); i += 5) damaged[i] = char(0xFF);
  if (TRef<TImage> img = Load(damaged, "d.gif")) img->GetMipLevel(0);
  // A logical screen of 60000 x 60000 in a tiny file is refused.
  std::string huge = gif;
  huge[6] = huge[8] = char(0x60);
  huge[7] = huge[9] = char(0xEA);
  EXPECT_FALSE(Load(huge, "h.gif"));
}

}  // namespace
}  // namespace lum
