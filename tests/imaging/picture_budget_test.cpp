// The picture budget: what decoded pictures and decoders' buffers charge,
// mip levels made while decoding, and pictures decoded coarser or refused
// when the budget is short.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/memory_stream.h"
#include "imaging/bmp_reader.h"
#include "imaging/gfx_bitmap_store.h"
#include "imaging/gif_loader.h"
#include "imaging/image_fixtures.h"
#include "imaging/jpeg_bitmap_store.h"
#include "imaging/mip_reducer.h"
#include "imaging/picture_budget.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::FromBitmap;
using test::Load;
using test::TPixels;

TPictureBudget& Budget() {
  return TPictureBudget::Process();
}

// The process's limit set to what is in use now plus `spare` while it lives.
class TSpareBudget {
 public:
  explicit TSpareBudget(int64_t spare) : saved_(Budget().Limit()) {
    Budget().SetLimit(Budget().Used() + spare);
  }
  ~TSpareBudget() { Budget().SetLimit(saved_); }

 private:
  int64_t saved_;
};

// Every byte of each row's pixels equal (padding aside).
bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format()) return false;
  const size_t bytes = size_t(a.Width()) * BytesPerPixel(a.Format());
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), bytes) != 0) return false;
  return true;
}

TRef<TBitmap> Halved(TRef<TBitmap> b, int times) {
  for (int i = 0; i < times; ++i) b = HalveBitmap(*b);
  return b;
}

TRef<TBitmap> TestBitmap(int w, int h, TPixelFormat format) {
  TPixels p = test::MakeTestPicture(w, h, 3);
  auto b = MakeRef<TBitmap>(w, h, format);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = b->Row(y) + size_t(x) * BytesPerPixel(format);
      px[0] = p.At(x, y).b, px[1] = p.At(x, y).g, px[2] = p.At(x, y).r;
      if (format == TPixelFormat::Bgra32) px[3] = uint8_t(x * 7 + y * 3);
    }
  return b;
}

TEST(PictureBudget, BitmapsAndWorkingBuffersAreChargedWhileTheyLive) {
  const int64_t before = Budget().Used();
  {
    auto small = MakeRef<TBitmap>(101, 7, TPixelFormat::Bgr24);  // rows of 303 padded to 304
    EXPECT_EQ(Budget().Used() - before, 304 * 7);
    EXPECT_EQ(BitmapBytes(101, 7, TPixelFormat::Bgr24), 304 * 7);
    auto mapped = MakeRef<TBitmap>(2048, 2048, TPixelFormat::Bgra32);  // from mapped pages
    {
      TPictureCharge working(1000);
      EXPECT_EQ(Budget().Used() - before, 304 * 7 + (16 << 20) + 1000);
    }
    EXPECT_EQ(Budget().Used() - before, 304 * 7 + (16 << 20));
  }
  EXPECT_EQ(Budget().Used(), before);
  TSpareBudget spare(100);
  EXPECT_TRUE(Budget().Fits(100));
  EXPECT_FALSE(Budget().Fits(101));
  EXPECT_FALSE(Budget().Fits(-1));
  EXPECT_EQ(LevelBytes(5, 3, TPixelFormat::Bgr24, 1), 12 * 2);
}

TEST(MipReducer, MakesWhatHalvingLevelByLevelMakes) {
  struct {
    int w, h;
    TPixelFormat format;
    int level;
  } cases[] = {{37, 23, TPixelFormat::Bgr24, 3}, {64, 1, TPixelFormat::Bgra32, 4},
               {1, 9, TPixelFormat::Bgr24, 5},   {16, 16, TPixelFormat::Bgra32, 0},
               {5, 3, TPixelFormat::Bgra32, 7},  {301, 77, TPixelFormat::Bgra32, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " level " +
                 std::to_string(c.level));
    TRef<TBitmap> source = TestBitmap(c.w, c.h, c.format);
    TMipReducer all(c.w, c.h, c.format, c.level);
    for (int y = 0; y < c.h; ++y) all.Add(source->Row(y));
    TRef<TBitmap> made = all.Finish();
    EXPECT_EQ(made->Level(), c.level);
    EXPECT_TRUE(SamePixels(*made, *Halved(source, c.level)));
    // Rows never handed over are mid grey at full size.
    TMipReducer half(c.w, c.h, c.format, c.level);
    for (int y = 0; y < c.h / 2; ++y) {
      std::memcpy(half.Row(), source->Row(y), size_t(c.w) * BytesPerPixel(c.format));
      half.Next();
    }
    for (int y = c.h / 2; y < c.h; ++y) std::memset(source->Row(y), 128, source->Pitch());
    EXPECT_TRUE(SamePixels(*half.Finish(), *Halved(source, c.level)));
  }
}

// Coarse levels asked first come straight from the file: the same pixels as
// halving level 0, without level 0 ever in memory.
TEST(PictureBudget, CoarseLevelsAreDecodedWithoutTheFullPicture) {
  const TPixels p = test::MakeTestPicture(512, 384);
  std::vector<uint16_t> rgb;
  for (const test::TRgb& c : p.px) rgb.insert(rgb.end(), {c.r, c.g, c.b});
  struct {
    std::string name, bytes;
    int level;
  } cases[] = {{"p.png", test::WritePngBytes(512, 384, 2, 8, rgb), 3},
               {"p.jpg", test::CjpegFile(p, {}), 5},  // 1/8 from the library, then halved twice
               {"i.jpg", test::CjpegFile(p, {"-progressive"}), 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRef<TImage> direct = Load(c.bytes, c.name);
    ASSERT_TRUE(direct);
    const int64_t before = Budget().Used();
    Budget().ResetPeak();
    TRef<TBitmap> coarse = direct->GetMipLevel(c.level);
    const int64_t coefficients =
        c.name == "i.jpg" ? static_cast<TJpegBitmapStore&>(direct->Store()).CoefficientBytes() : 0;
    EXPECT_LT(Budget().Peak() - before,
              LevelBytes(512, 384, TPixelFormat::Bgr24, 2) + coefficients);
    TRef<TImage> reference = Load(c.bytes, c.name);
    reference->GetMipLevel(c.name == "p.png" ? 0 : 3);
    EXPECT_TRUE(SamePixels(*coarse, *reference->GetMipLevel(c.level)));
    // Finer levels are still decoded when asked for later.
    EXPECT_EQ(direct->GetMipLevel(0)->Width(), 512);
  }
}

// A level that does not fit is made at the first coarser one that does;
// finer requests get that one from then on.
TEST(PictureBudget, PicturesBeyondItAreDecodedCoarser) {
  const TPixels p = test::MakeTestPicture(512, 384);
  std::vector<uint16_t> rgb;
  for (const test::TRgb& c : p.px) rgb.insert(rgb.end(), {c.r, c.g, c.b});
  struct {
    std::string name, bytes;
  } cases[] = {{"p.png", test::WritePngBytes(512, 384, 2, 8, rgb)},
               {"p.jpg", test::CjpegFile(p, {})}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRef<TImage> img = Load(c.bytes, c.name);
    TRef<TBitmap> got;
    {
      // At 24 and 32 bits level 0 takes 1.3 MB, level 1 336 KB, level 2 84 KB.
      TSpareBudget spare(200 << 10);
      got = img->GetMipLevel(0, TPixelFormat::Bgra32);
    }
    ASSERT_EQ(got->Level(), 2);
    EXPECT_EQ(got->Width(), 128);
    EXPECT_EQ(img->Store().FinestLevel(), 2);
    EXPECT_EQ(img->GetMipLevel(1, TPixelFormat::Bgra32).Get(), got.Get());
    EXPECT_EQ(img->GetMipLevel(3)->Level(), 3);
    TRef<TImage> reference = Load(c.bytes, c.name);
    EXPECT_TRUE(SamePixels(*got, *reference->GetMipLevel(2, TPixelFormat::Bgra32)));
  }
}

TEST(PictureBudget, ProgressiveJpegsAreRefusedWhenTheirCoefficientsExceedIt) {
  const TPixels small = test::MakeTestPicture(16, 16);
  const auto vast = [&](int side) { return test::CjpegFile(small, {"-progressive"}, side, side); };
  const int64_t saved = Budget().Limit();
  Budget().SetLimit(int64_t(1) << 30);
  // 32768 x 32768 at 4:2:0: 3 GB of coefficients whatever the scale.
  EXPECT_FALSE(Load(vast(32768), "huge.jpg"));
  EXPECT_FALSE(Load(vast(65500), "huger.jpg"));
  Budget().SetLimit(saved);
  // 2048 x 2048: 256 x 256 luma blocks and two 128 x 128 chroma, 128 bytes each.
  TRef<TImage> img = Load(vast(2048), "big.jpg");
  ASSERT_TRUE(img);
  auto& store = static_cast<TJpegBitmapStore&>(img->Store());
  EXPECT_EQ(store.CoefficientBytes(), (256 * 256 + 2 * 128 * 128) * 128);
  EXPECT_EQ(static_cast<TJpegBitmapStore&>(Load(test::CjpegFile(small, {}), "s.jpg")->Store())
                .CoefficientBytes(),
            0);
  // Coefficients that do not fit what is left: mid grey, no decode.
  TSpareBudget spare(4 << 20);
  TRef<TBitmap> grey = img->GetMipLevel(3);
  EXPECT_EQ(FromBitmap(*grey).At(0, 0), (test::TRgb{128, 128, 128}));
}

TEST(PictureBudget, GifAtlasesAreComposedInPlaceWithinIt) {
  const std::string gif = test::WriteManyFrameGif(256, 256, 8);
  const int64_t frame = 256 * 256 * 4;
  const int64_t before = Budget().Used();
  Budget().ResetPeak();
  TRef<TImage> atlas = Load(gif, "a.gif|framesatlas");
  ASSERT_TRUE(atlas);
  EXPECT_EQ(atlas->Width(), 256 * 8);
  // One copy of the frames, not two.
  EXPECT_LT(Budget().Peak() - before, 8 * frame + frame / 2);
  EXPECT_EQ(FromBitmap(*atlas->GetMipLevel(0)).At(7 * 256, 0), (test::TRgb{0, 0, 255}));
  {
    TSpareBudget spare(3 * frame + frame / 2);
    TRef<TImage> three = Load(gif, "a.gif|framesatlas");
    ASSERT_TRUE(three);
    EXPECT_EQ(static_cast<TGifBitmapStore&>(three->Store()).FrameCount(), 3);
  }
  {
    TSpareBudget spare(frame / 2);
    EXPECT_FALSE(Load(gif, "a.gif|framesatlas"));
  }
  // 64 frames of 2048 x 2048 from 1.5 KB: the atlas stays at the 4 megapixels
  // a file this small may fill.
  TRef<TImage> hostile = Load(test::WriteManyFrameGif(2048, 2048, 64), "h.gif|framesatlas");
  ASSERT_TRUE(hostile);
  EXPECT_EQ(static_cast<TGifBitmapStore&>(hostile->Store()).FrameCount(), 1);
}

TEST(PictureBudget, RunLengthBmpsAreBoundedByTheirDataAndByIt) {
  // "End of bitmap" at once: 4096 x 4096 from two bytes is refused outright.
  const auto bomb = [](int side) {
    return test::WriteRleBmp(side, side, 8, {{9, 9, 9}}, std::string("\0\1", 2));
  };
  TMemoryStream huge(bomb(4096));
  EXPECT_FALSE(ReadBmp(huge));
  EXPECT_EQ(huge.Position(), 0);
  // 4 megapixels are allowed, when their 16 MB fit.
  {
    TSpareBudget spare(8 << 20);
    TMemoryStream s(bomb(2048));
    EXPECT_FALSE(ReadBmp(s));
    EXPECT_EQ(s.Position(), 0);
  }
  TMemoryStream s(bomb(2048));
  TRef<TBitmap> b = ReadBmp(s);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Width(), 2048);
}

TEST(PictureBudget, GfxPicturesDecodeAtTheirLevelOrBlankWhenTheyCannot) {
  const TPixels p = test::MakeTestPicture(256, 256);
  const std::string bmp = test::WriteBmp(p, {});
  const std::string gfx = WriteGfx(bmp, 256, 256, "p.bmp");
  TRef<TBitmap> half = Load(gfx, "p.kvgfx")->GetMipLevel(1);
  EXPECT_TRUE(SamePixels(*half, *Load(bmp, "p.bmp")->GetMipLevel(1, TPixelFormat::Bgra32)));
  // The inflated file and its picture take about 450 KB at full size.
  TSpareBudget spare(200 << 10);
  TRef<TBitmap> blank = Load(gfx, "p.kvgfx")->GetMipLevel(1);
  EXPECT_EQ(FromBitmap(*blank).At(0, 0), (test::TRgb{kBlankGfxGrey, kBlankGfxGrey, kBlankGfxGrey}));
}

}  // namespace
}  // namespace lum
