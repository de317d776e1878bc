// Bitmap stores: levels on demand, format conversions, rotation, budget and
// the contract messages.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "imaging/bitmap_store.h"
#include "imaging/image.h"
#include "imaging/image_fixtures.h"
#include "imaging/jpeg_bitmap_store.h"
#include "imaging/picture_budget.h"
#include "support/stream_helpers.h"

namespace lum {
namespace {

using test::ErrorOf;

TRef<TBitmap> Solid(int w, int h, TPixelFormat f, uint8_t r, uint8_t g, uint8_t b) {
  auto bmp = MakeRef<TBitmap>(w, h, f);
  bmp->Fill(r, g, b);
  return bmp;
}

TEST(ChooseMipLevel, DeepestLevelStillLarger) {
  EXPECT_EQ(ChooseMipLevel(1000, 1000, 300, 300), 1);
  EXPECT_EQ(ChooseMipLevel(200, 200, 300, 300), 0);
  EXPECT_EQ(ChooseMipLevel(1000, 1000, 999, 999), 0);
  EXPECT_EQ(ChooseMipLevel(1000, 1000, 1, 1), 9);      // ... 8, 4, 2 (level 9), then 1
  EXPECT_EQ(ChooseMipLevel(4000, 100, 300, 300), 0);   // height not larger
  EXPECT_EQ(ChooseMipLevel(1001, 1001, 250, 250), 2);  // 1001, 501, 251 (> 250), 126
  EXPECT_NE(ErrorOf([] { ChooseMipLevel(10, 10, 0, 5); }), "(no error)");
}

TEST(BitmapStore, LevelsHalveWithBoxFilterAndRoundUp) {
  auto bmp = MakeRef<TBitmap>(5, 3, TPixelFormat::Bgra32);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      uint8_t* p = bmp->Row(y) + x * 4;
      p[0] = p[1] = p[2] = uint8_t(x * 40 + y * 10);
      p[3] = 255;
    }
  auto store = MakeRef<TSysBitmapStore>(bmp);
  TRef<TBitmap> l1 = store->GetMipLevel(1);
  ASSERT_EQ(l1->Width(), 3);
  ASSERT_EQ(l1->Height(), 2);
  EXPECT_EQ(l1->Level(), 1);
  // (0 + 40 + 10 + 50) / 4 = 25
  EXPECT_EQ(l1->Row(0)[0], 25);
  // last column: x = 4 alone, rows 0 and 1: (160 + 170) / 2 = 165
  EXPECT_EQ(l1->Row(0)[2 * 4], 165);
  // last row: y = 2 alone: (20 + 60) / 2 = 40
  EXPECT_EQ(l1->Row(1)[0], 40);
  TRef<TBitmap> last = store->GetMipLevel(3);
  EXPECT_EQ(last->Width(), 1);
  EXPECT_EQ(last->Height(), 1);
  // Cached: the same bitmap the second time, and per format.
  EXPECT_EQ(store->GetMipLevel(1).Get(), l1.Get());
  TRef<TBitmap> l1bgr = store->GetMipLevel(1, TPixelFormat::Bgr24);
  EXPECT_EQ(l1bgr->Format(), TPixelFormat::Bgr24);
  EXPECT_EQ(l1bgr->Row(0)[0], 25);
  EXPECT_EQ(store->GetMipLevel(1, TPixelFormat::Bgr24).Get(), l1bgr.Get());
  EXPECT_EQ(store->GetMipLevel(1, TPixelFormat::Bgra32).Get(), l1.Get());
}

TEST(BitmapStore, HalvingMatchesTheBoxAverageAtEveryWidth) {
  uint32_t seed = 7;
  for (TPixelFormat f : {TPixelFormat::Bgra32, TPixelFormat::Bgr24}) {
    for (int w : {1, 2, 3, 4, 5, 8, 17, 64, 101}) {
      auto b = MakeRef<TBitmap>(w, 5, f);
      int bpp = BytesPerPixel(f);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < w * bpp; ++x)
          b->Row(y)[x] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
      TRef<TBitmap> h = HalveBitmap(*b);
      ASSERT_EQ(h->Width(), (w + 1) / 2);
      ASSERT_EQ(h->Height(), 3);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < h->Width(); ++x)
          for (int c = 0; c < bpp; ++c) {
            std::vector<int> xs = {2 * x}, ys = {2 * y};
            if (2 * x + 1 < w) xs.push_back(2 * x + 1);
            if (2 * y + 1 < 5) ys.push_back(2 * y + 1);
            unsigned sum = 0, n = 0;
            for (int yy : ys)
              for (int xx : xs) {
                sum += b->Row(yy)[xx * bpp + c];
                ++n;
              }
            EXPECT_EQ(h->Row(y)[x * bpp + c], (sum + n / 2) / n) << w << " " << x << "," << y;
          }
    }
  }
}

TEST(BitmapStore, ChainEqualsHalvingLevelByLevel) {
  uint32_t seed = 3;
  for (TPixelFormat f : {TPixelFormat::Bgra32, TPixelFormat::Bgr24, TPixelFormat::Bgr565}) {
    for (auto [w, h] : {std::pair{37, 23}, std::pair{64, 5}, std::pair{1, 9}}) {
      auto b = MakeRef<TBitmap>(w, h, f);
      for (int y = 0; y < h; ++y)
        for (size_t x = 0; x < b->Pitch(); ++x)
          b->Row(y)[x] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
      auto store = MakeRef<TSysBitmapStore>(b);
      int last = 0;
      while (MipDimension(w, last) > 1 || MipDimension(h, last) > 1) ++last;
      TRef<TBitmap> deepest = store->GetMipLevel(last);
      EXPECT_EQ(deepest->Width(), 1);
      EXPECT_EQ(deepest->Height(), 1);
      TRef<TBitmap> expect = b;
      for (int level = 1; level <= last; ++level) {
        expect = HalveBitmap(*expect);
        TRef<TBitmap> got = store->GetMipLevel(level);
        EXPECT_EQ(got->Level(), level);
        ASSERT_EQ(got->Width(), expect->Width());
        ASSERT_EQ(got->Height(), expect->Height());
        for (int y = 0; y < got->Height(); ++y)
          ASSERT_EQ(
              std::memcmp(got->Row(y), expect->Row(y), size_t(got->Width()) * BytesPerPixel(f)), 0)
              << PixelFormatName(f) << " level " << level;
      }
    }
  }
}

TEST(BitmapStore, ThreadsShareOneBitmapPerLevelAndFormat) {
  auto b = MakeRef<TBitmap>(300, 200, TPixelFormat::Bgr24);
  b->Fill(10, 20, 30);
  auto store = MakeRef<TSysBitmapStore>(b);
  const TPixelFormat formats[] = {TPixelFormat::None, TPixelFormat::Bgra32, TPixelFormat::Bgr565};
  std::vector<std::vector<const TBitmap*>> seen(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 27; ++i) {
        int k = (i + t * 5) % 27;
        seen[size_t(t)].push_back(store->GetMipLevel(k % 9, formats[k / 9]).Get());
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 8; ++t)
    for (int i = 0; i < 27; ++i) {
      int k = (i + t * 5) % 27;
      EXPECT_EQ(seen[size_t(t)][size_t(i)], store->GetMipLevel(k % 9, formats[k / 9]).Get());
    }
}

TEST(BitmapStore, FormatConversionsRoundTrip) {
  for (TPixelFormat f : {TPixelFormat::Bgr555, TPixelFormat::Bgr565, TPixelFormat::Bgr24}) {
    TRef<TBitmap> src = Solid(7, 2, TPixelFormat::Bgra32, 200, 100, 50);
    TRef<TBitmap> there = ConvertBitmap(*src, f);
    TRef<TBitmap> back = ConvertBitmap(*there, TPixelFormat::Bgra32);
    const uint8_t* p = back->Row(1) + 6 * 4;
    EXPECT_NEAR(p[2], 200, 8) << PixelFormatName(f);
    EXPECT_NEAR(p[1], 100, 8) << PixelFormatName(f);
    EXPECT_NEAR(p[0], 50, 8) << PixelFormatName(f);
    EXPECT_EQ(p[3], 255);
  }
  // 16-bit levels halve through their channels, not their bytes.
  auto store = MakeRef<TSysBitmapStore>(Solid(4, 4, TPixelFormat::Bgr565, 255, 0, 0));
  TRef<TBitmap> half = store->GetMipLevel(1, TPixelFormat::Bgr24);
  EXPECT_EQ(half->Row(0)[2], 255);
  EXPECT_EQ(half->Row(0)[1], 0);
}

TEST(BitmapStore, RotationByExifCode) {
  // 3 x 2: top row red green blue, bottom row white black grey
  auto bmp = MakeRef<TBitmap>(3, 2, TPixelFormat::Bgr24);
  const uint8_t c[6][3] = {{0, 0, 255},     {0, 255, 0}, {255, 0, 0},
                           {255, 255, 255}, {0, 0, 0},   {128, 128, 128}};
  for (int i = 0; i < 6; ++i) std::memcpy(bmp->Row(i / 3) + (i % 3) * 3, c[i], 3);
  auto inner = MakeRef<TSysBitmapStore>(bmp);
  auto cw = MakeRef<TRotatedBitmapStore>(inner, 6);
  EXPECT_EQ(cw->Params().width, 2);
  EXPECT_EQ(cw->Params().height, 3);
  TRef<TBitmap> r = cw->GetMipLevel(0);
  // Clockwise: the old top-left (red) is now top-right; bottom-left (white) top-left.
  EXPECT_EQ(r->Row(0)[3 + 2], 255);  // red at (1, 0)
  EXPECT_EQ(r->Row(0)[0], 255);      // white at (0, 0)
  auto ccw = MakeRef<TRotatedBitmapStore>(inner, 8);
  TRef<TBitmap> l = ccw->GetMipLevel(0);
  EXPECT_EQ(l->Row(2)[2], 255);      // red at (0, 2)
  EXPECT_EQ(l->Row(2)[3 + 2], 255);  // white at (1, 2)
  EXPECT_EQ(l->Row(2)[3 + 1], 255);
  auto half = MakeRef<TRotatedBitmapStore>(inner, 3);
  TRef<TBitmap> u = half->GetMipLevel(0);
  EXPECT_EQ(u->Row(1)[2 * 3 + 2], 255);  // red at bottom-right
  EXPECT_EQ(half->GetMipLevel(1)->Width(), 2);
}

TEST(BitmapStore, LevelsAreForgottenOnlyWhereTheStoreCanMakeThemAgain) {
  const std::string jpeg = test::CjpegFile(test::MakeTestPicture(64, 48, 3), {"-quality", "90"});
  auto bytes = [](const TRef<TBitmap>& b) {
    return std::string(reinterpret_cast<const char*>(b->Data()), b->Pitch() * b->Height());
  };
  const TPictureBudget& budget = TPictureBudget::Process();
  auto inner = MakeRef<TJpegBitmapStore>(jpeg);
  const struct {
    const char* name;
    TRef<TBitmapStore> store;
    bool forgets;
  } cases[] = {{"jpeg", MakeRef<TJpegBitmapStore>(jpeg), true},
               {"rotated jpeg", MakeRef<TRotatedBitmapStore>(inner, 6), true},
               {"in memory", MakeRef<TSysBitmapStore>(Solid(8, 8, TPixelFormat::Bgr24, 1, 2, 3)),
                false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const int64_t before = budget.Used();
    std::string first = bytes(k.store->GetMipLevel(1, TPixelFormat::Bgra32));
    EXPECT_EQ(k.store->Forgettable(), k.forgets);
    EXPECT_EQ(k.store->ForgetLevel(1), k.forgets);
    // Every format of the level goes, and what it was made from underneath.
    if (k.forgets) EXPECT_EQ(budget.Used(), before);
    TRef<TBitmap> again = k.store->GetMipLevel(1, TPixelFormat::Bgra32);
    EXPECT_EQ(bytes(again), first);
    EXPECT_EQ(again->Level(), 1);
  }
}

TEST(BitmapStore, SizesBeyondTheBudgetAreRefusedBeforeAllocation) {
  EXPECT_TRUE(PictureSizeAllowed(16384, 16384));
  EXPECT_FALSE(PictureSizeAllowed(16384, 16385));
  EXPECT_FALSE(PictureSizeAllowed(0, 5));
  EXPECT_FALSE(PictureSizeAllowed(-1, 5));
  EXPECT_NE(ErrorOf([] {
              TRef<TBitmap> b = MakeRef<TBitmap>(70000, 70000, TPixelFormat::Bgr24);
            }).find("at most 268435456 pixels"),
            std::string::npos);
}

// A store breaking its contract.
class TBrokenStore : public TBitmapStore {
 public:
  explicit TBrokenStore(int mode) : TBitmapStore({4, 4, TPixelFormat::Bgr24}), mode_(mode) {}
  const char* ClassName() const override { return "TBrokenStore"; }

 protected:
  TRef<TBitmap> DecodeLevel(int level) override {
    if (mode_ == 0) return nullptr;
    return MakeRef<TBitmap>(4, 4, TPixelFormat::Bgr24, level + 1);
  }
  TRef<TBitmap> ConvertBitmapFor(const TRef<TBitmap>& b, TPixelFormat wanted) override {
    return b->Format() == wanted ? b : nullptr;
  }

 private:
  int mode_;
};

TEST(BitmapStore, BrokenContractsAreAssertionFailures) {
  auto none = MakeRef<TBrokenStore>(0);
  EXPECT_EQ(ErrorOf([&] {
              none->GetMipLevel(0);
            }).rfind("\"TBrokenStore.GetMipLevel(0)\" Not Assigned", 0),
            0u);
  auto wrong = MakeRef<TBrokenStore>(1);
  EXPECT_EQ(ErrorOf([&] { wrong->GetMipLevel(0); }).rfind("Incorrect MipLevelIndex", 0), 0u);
  try {
    wrong->GetMipLevel(0);
  } catch (const EAssertion& e) {
    EXPECT_EQ(e.Module(), "imaging");
  }
  auto noConvert = MakeRef<TSysBitmapStore>(Solid(2, 2, TPixelFormat::Bgr24, 1, 2, 3));
  EXPECT_EQ(noConvert->GetMipLevel(0, TPixelFormat::Bgr24)->Format(), TPixelFormat::Bgr24);
}

TEST(Image, CopiesShareTheStore) {
  auto store = MakeRef<TSysBitmapStore>(Solid(8, 6, TPixelFormat::Bgr24, 1, 2, 3));
  auto img = MakeRef<TImage>(store);
  TRef<TImage> copy = img->Clone();
  EXPECT_EQ(&copy->Store(), &img->Store());
  EXPECT_EQ(copy->Width(), 8);
  EXPECT_EQ(copy->Height(), 6);
  EXPECT_EQ(copy->GetMipLevel(0).Get(), img->GetMipLevel(0).Get());
}

}  // namespace
}  // namespace lum
