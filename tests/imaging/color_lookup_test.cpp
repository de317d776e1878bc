// Look-up bases of colour grading and their conversion to the display
// profile. Kept apart from the drawing tests: the colour transform headers
// and the renderer's cannot share a translation unit.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "imaging/color_management.h"
#include "imaging/icc_profiles.h"
#include "imaging/color_lookup.h"

namespace lum {
namespace {

const uint8_t* Cell(const TBitmap& b, int i, int j, int k) {
  return b.Row(i * 32 + j) + k * 4;
}

int MaxDifference(const TBitmap& a, const TBitmap& b) {
  int d = 0;
  for (int y = 0; y < 1024; ++y)
    for (int x = 0; x < 32 * 4; ++x) d = std::max(d, std::abs(a.Row(y)[x] - b.Row(y)[x]));
  return d;
}

TEST(ColorLookup, IdentityBaseSpreadsFiveBitIndices) {
  EXPECT_EQ(LookupLevel(0), 0);
  EXPECT_EQ(LookupLevel(4), 33);
  EXPECT_EQ(LookupLevel(31), 255);
  TRef<TBitmap> b = MakeLookupBase(TLookupBase::Identity);
  ASSERT_EQ(b->Width(), 32);
  ASSERT_EQ(b->Height(), 1024);
  ASSERT_EQ(b->Format(), TPixelFormat::Bgra32);
  for (int i : {0, 3, 31})
    for (int j : {0, 17, 31})
      for (int k : {0, 4, 31}) {
        const uint8_t* c = Cell(*b, i, j, k);
        EXPECT_EQ(c[0], LookupLevel(i));
        EXPECT_EQ(c[1], LookupLevel(j));
        EXPECT_EQ(c[2], LookupLevel(k));
        EXPECT_EQ(c[3], 255);
      }
}

TEST(ColorLookup, VideoBaseIsIndexedByLumaBlueAndRedDifference) {
  TRef<TBitmap> b = MakeLookupBase(TLookupBase::Video);
  // i = 20 (Y 165), j = 10 (U 82), k = 25 (V 206).
  const uint8_t* c = Cell(*b, 20, 10, 25);
  EXPECT_EQ(c[2], 255);  // 173.5 + 124.5, clamped
  EXPECT_EQ(c[1], 128);  // 173.5 - 63.4 + 18.0
  EXPECT_EQ(c[0], 81);   // 173.5 - 92.8
  // Below black luma with neutral-ish chroma clamps to 0; peak white to 255.
  const uint8_t* black = Cell(*b, 0, 15, 15);
  EXPECT_EQ(black[0] + black[1] + black[2], 0);
  const uint8_t* white = Cell(*b, 31, 16, 16);
  EXPECT_EQ(white[0], 255);
  EXPECT_EQ(white[3], 255);
}

class ManagedLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    // Whether the colour library is installed is asked of the loader directly.
    void* lcms = dlopen("liblcms2.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!lcms) GTEST_SKIP() << "liblcms2.so.2 is not installed";
    dlclose(lcms);
    ASSERT_TRUE(ColorEngineAvailable());
    ClearLookupBaseCache();
  }
  void TearDown() override {
    ColorManagement().Apply("");
    ClearLookupBaseCache();
  }
};

TEST_F(ManagedLookup, BasesAreConvertedForTheDisplayAndCachedPerProfileName) {
  TColorManagement& cm = ColorManagement();
  TRef<TBitmap> identity = MakeLookupBase(TLookupBase::Identity);
  cm.Apply("");
  ASSERT_FALSE(cm.Active());
  EXPECT_EQ(MaxDifference(*DisplayLookupBase(TLookupBase::Identity), *identity), 0);

  // Through the display whose channels are rotated, sRGB red must come out
  // of the channel that shows red there: its blue.
  cm.Apply("FunkyRGB");
  ASSERT_TRUE(cm.Active());
  TRef<const TBitmap> funky = DisplayLookupBase(TLookupBase::Identity);
  const uint8_t* red = Cell(*funky, 0, 0, 31);
  EXPECT_GT(red[0], 240);
  EXPECT_LT(red[1], 15);
  EXPECT_LT(red[2], 15);
  EXPECT_EQ(red[3], 255);
  EXPECT_EQ(DisplayLookupBase(TLookupBase::Identity).Get(), funky.Get());
  EXPECT_GT(
      MaxDifference(*DisplayLookupBase(TLookupBase::Video), *MakeLookupBase(TLookupBase::Video)),
      100);

  cm.Apply("sRGB");
  TRef<const TBitmap> srgb = DisplayLookupBase(TLookupBase::Identity);
  EXPECT_NE(srgb.Get(), funky.Get());
  EXPECT_LE(MaxDifference(*srgb, *identity), 2);
  cm.Apply("FunkyRGB");
  EXPECT_EQ(DisplayLookupBase(TLookupBase::Identity).Get(), funky.Get());
}

TEST_F(ManagedLookup, PicturesWithProfilesGetALookUpToTheDisplay) {
  TColorManagement& cm = ColorManagement();
  const std::string adobe = BuiltinProfile("AdobeRGB");
  cm.Apply("");
  EXPECT_FALSE(BuildProfileLookup(adobe, "C:\\a.jpg"));
  cm.Apply("sRGB");
  EXPECT_FALSE(BuildProfileLookup("", "C:\\a.jpg"));
  TRef<TBitmap> same = BuildProfileLookup(BuiltinProfile("sRGB"), "C:\\b.jpg");
  ASSERT_TRUE(same);
  EXPECT_LE(MaxDifference(*same, *MakeLookupBase(TLookupBase::Identity)), 2);
  TRef<TBitmap> wide = BuildProfileLookup(adobe, "C:\\a.jpg");
  ASSERT_TRUE(wide);
  ASSERT_EQ(wide->Height(), 1024);
  // A wide-gamut green is more saturated than sRGB can show: red and blue go down.
  const uint8_t* green = Cell(*wide, 12, 24, 12);  // blue 99, green 198, red 99
  EXPECT_LT(green[2], 99 - 10);
  EXPECT_GT(green[1], 190);
  // Not a picture profile: no look-up.
  EXPECT_FALSE(BuildProfileLookup("not a profile", "C:\\c.jpg"));
}

}  // namespace
}  // namespace lum
