// Built-in display profiles, transforms through the run-time colour engine,
// pre-computed look-up members and the colour-management setting.
#include <gtest/gtest.h>

#include <cstring>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "imaging/color_management.h"
#include "imaging/color_transform.h"
#include "imaging/gfx_bitmap_store.h"
#include "imaging/icc_profiles.h"
#include "imaging/image_fixtures.h"
#include "document/ini_file.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::ReadFile;
using test::TTempDir;

const std::string kFreeSrgb = "/usr/share/color/icc/sRGB.icc";
const std::string kFreeAdobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

uint32_t Be32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
         uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

// The data of a tag, by signature.
std::string Tag(const std::string& icc, const char* sig) {
  uint32_t n = Be32(icc, 128);
  for (uint32_t i = 0; i < n; ++i) {
    size_t e = 132 + 12 * i;
    if (icc.compare(e, 4, sig) == 0) return icc.substr(Be32(icc, e + 4), Be32(icc, e + 8));
  }
  return {};
}

double Fixed(const std::string& s, size_t at) {
  return int32_t(Be32(s, at)) / 65536.0;
}

TEST(BuiltinProfiles, SizesVersionsAndContents) {
  std::string srgb = BuiltinProfile("srgb"), adobe = BuiltinProfile("AdobeRGB"),
              funky = BuiltinProfile("FUNKYRGB");
  EXPECT_EQ(srgb.size(), 3144u);
  EXPECT_EQ(adobe.size(), 560u);
  EXPECT_EQ(funky.size(), 1008u);
  EXPECT_TRUE(BuiltinProfile("P3").empty());
  for (const std::string* p : {&srgb, &adobe, &funky}) {
    EXPECT_EQ(Be32(*p, 0), p->size());
    EXPECT_EQ(p->substr(12, 12), "mntrRGB XYZ ");
    EXPECT_EQ(p->substr(36, 4), "acsp");
  }
  EXPECT_EQ(Be32(srgb, 8), 0x02100000u);
  EXPECT_EQ(Be32(funky, 8), 0x02400000u);
  EXPECT_NE(Tag(srgb, "desc").find("sRGB IEC61966-2.1"), std::string::npos);
  // Adobe RGB: a single gamma of 2.2 (u8Fixed8 0x0233).
  std::string trc = Tag(adobe, "rTRC");
  EXPECT_EQ(Be32(trc, 8), 1u);
  EXPECT_EQ(uint8_t(trc[12]), 0x02);
  EXPECT_EQ(uint8_t(trc[13]), 0x33);
  // FunkyRGB: 129-entry curves, D50 white, colorants rotated from sRGB's.
  EXPECT_EQ(Be32(Tag(funky, "gTRC"), 8), 129u);
  EXPECT_NEAR(Fixed(Tag(funky, "wtpt"), 8), 0.9642, 1e-4);
  EXPECT_NEAR(Fixed(Tag(funky, "wtpt"), 16), 0.8249, 1e-4);
  EXPECT_EQ(Tag(funky, "rXYZ").substr(8), Tag(srgb, "gXYZ").substr(8));
  EXPECT_EQ(Tag(funky, "gXYZ").substr(8), Tag(srgb, "bXYZ").substr(8));
  EXPECT_EQ(Tag(funky, "bXYZ").substr(8), Tag(srgb, "rXYZ").substr(8));
  EXPECT_EQ(Be32(Tag(srgb, "rTRC"), 8), 1024u);
}

TRef<TBitmap> Swatch(TPixelFormat f) {
  // red, green, blue, grey, white, dark
  const uint8_t c[6][3] = {{255, 0, 0},     {0, 255, 0},     {0, 0, 255},
                           {128, 128, 128}, {255, 255, 255}, {30, 60, 90}};
  auto b = MakeRef<TBitmap>(6, 2, f);
  int bpp = BytesPerPixel(f);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 6; ++x) {
      uint8_t* p = b->Row(y) + x * bpp;
      p[0] = c[x][2];
      p[1] = c[x][1];
      p[2] = c[x][0];
      if (bpp == 4) p[3] = uint8_t(10 * x);
    }
  return b;
}

TRef<TColorProfile> Profile(const std::string& bytes, const char* name) {
  return MakeRef<TColorProfile>(bytes, name);
}

int MaxChange(const TBitmap& a, const TBitmap& b) {
  int m = 0;
  int bpp = BytesPerPixel(a.Format());
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width() * bpp; ++x)
      m = std::max(m, std::abs(int(a.Row(y)[x]) - int(b.Row(y)[x])));
  return m;
}

TEST(ColorTransform, EngineConvertsBetweenProfiles) {
  ASSERT_TRUE(ColorEngineAvailable()) << "liblcms2.so.2 is a build dependency";
  for (TPixelFormat f : {TPixelFormat::Bgr24, TPixelFormat::Bgra32}) {
    TRef<TBitmap> src = Swatch(f);
    // The independent sRGB profile into ours: hardly any change.
    auto same = MakeRef<TEngineColorTransform>(Profile(ReadFile(kFreeSrgb), "a.jpg"),
                                               Profile(BuiltinProfile("sRGB"), "sRGB"));
    auto out = MakeRef<TBitmap>(6, 2, f);
    EXPECT_TRUE(same->TransformRect(*src, {0, 0, 6, 2}, *out, 0, 0));
    EXPECT_LE(MaxChange(*src, *out), 3);
    // Into FunkyRGB: pure red is far off.
    for (int q : {0, 1, 2, 3}) {
      auto funky =
          MakeRef<TEngineColorTransform>(Profile(ReadFile(kFreeSrgb), "a.jpg"),
                                         Profile(BuiltinProfile("FunkyRGB"), "FunkyRGB"), q);
      EXPECT_TRUE(funky->TransformRect(*src, {0, 0, 6, 2}, *out, 0, 0));
      EXPECT_GT(MaxChange(*src, *out), 100) << q;
      if (f == TPixelFormat::Bgra32) {
        EXPECT_EQ(out->Row(1)[5 * 4 + 3], 50);  // alpha kept
      }
    }
    // Adobe RGB picture shown on an sRGB display: saturated green gets more saturated-looking data.
    auto adobe = MakeRef<TEngineColorTransform>(Profile(ReadFile(kFreeAdobe), "b.jpg"),
                                                Profile(BuiltinProfile("sRGB"), "sRGB"));
    EXPECT_TRUE(adobe->TransformRect(*src, {0, 0, 6, 2}, *out, 0, 0));
    EXPECT_GT(MaxChange(*src, *out), 20);
    // Our AdobeRGB and the free one agree.
    auto ours = MakeRef<TEngineColorTransform>(Profile(BuiltinProfile("AdobeRGB"), "c"),
                                               Profile(ReadFile(kFreeAdobe), "d"));
    EXPECT_TRUE(ours->TransformRect(*src, {0, 0, 6, 2}, *out, 0, 0));
    EXPECT_LE(MaxChange(*src, *out), 4);
  }
}

TEST(ColorTransform, UnconvertedCopyWhenTheEngineIsMissingOrFails) {
  TRef<TBitmap> src = Swatch(TPixelFormat::Bgr24);
  auto t = MakeRef<TEngineColorTransform>(Profile(ReadFile(kFreeSrgb), "a"),
                                          Profile(BuiltinProfile("FunkyRGB"), "f"));
  // A broken profile: copied.
  auto broken = MakeRef<TEngineColorTransform>(Profile("not a profile", "a"),
                                               Profile(BuiltinProfile("sRGB"), "s"));
  auto out = MakeRef<TBitmap>(6, 2, TPixelFormat::Bgr24);
  EXPECT_FALSE(broken->TransformRect(*src, {0, 0, 6, 2}, *out, 0, 0));
  EXPECT_EQ(MaxChange(*src, *out), 0);
  SetColorEngineLibraries({"/nonexistent/liblcms2.so.2"});
  EXPECT_FALSE(ColorEngineAvailable());
  out->Fill(0, 0, 0);
  EXPECT_FALSE(t->TransformRect(*src, {0, 0, 6, 2}, *out, 0, 0));
  EXPECT_EQ(MaxChange(*src, *out), 0);
  EXPECT_FALSE(MakeColorTransform(*Profile("x", "a"), *Profile("y", "b")));
  SetColorEngineLibraries({"liblcms2.so.2"});
  EXPECT_TRUE(ColorEngineAvailable());
}

TEST(ColorTransform, OverlappingCopyWithinOneBitmap) {
  auto b = MakeRef<TBitmap>(3, 4, TPixelFormat::Bgr24);
  for (int y = 0; y < 4; ++y) std::memset(b->Row(y), 10 * (y + 1), 9);
  CopyRect(*b, {0, 0, 3, 3}, *b, 0, 1);  // down one row
  EXPECT_EQ(b->Row(0)[0], 10);
  EXPECT_EQ(b->Row(1)[0], 10);
  EXPECT_EQ(b->Row(2)[0], 20);
  EXPECT_EQ(b->Row(3)[8], 30);
  CopyRect(*b, {0, 1, 3, 3}, *b, 0, 0);  // and back up
  EXPECT_EQ(b->Row(0)[0], 10);
  EXPECT_EQ(b->Row(1)[0], 20);
  EXPECT_EQ(b->Row(2)[0], 30);
}

TEST(ColorTransform, PrecomputedLookupMemberOfTheShow) {
  TTempDir dir;
  // A look-up that swaps red and blue.
  auto lut = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgr24);
  for (int b = 0; b < 32; ++b)
    for (int g = 0; g < 32; ++g)
      for (int r = 0; r < 32; ++r) {
        uint8_t* p = lut->Row(g + 32 * b) + r * 3;
        p[0] = uint8_t(r * 8);
        p[1] = uint8_t(g * 8);
        p[2] = uint8_t(b * 8);
      }
  // Written as a 24-bit BMP inside a .kvgfx, as the authoring tool stores it.
  test::TPixels px{32, 1024, {}};
  for (int y = 0; y < 1024; ++y)
    for (int x = 0; x < 32; ++x) {
      const uint8_t* p = lut->Row(y) + x * 3;
      px.px.push_back({p[2], p[1], p[0]});
    }
  dir.Write(PrecomputedTransformMemberName("a.jpg"),
            WriteGfx(test::WriteBmp(px, {}), 32, 1024, "lut"));
  EXPECT_EQ(PrecomputedTransformMemberName("a.jpg"), "ColorSpaceExe_a.jpg].KVGFX");
  auto accessor =
      MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(dir.Path() + "/"), dir.Path() + "/");
  TColorTransformFactory factory = ContainerColorTransformFactory(accessor);
  SetColorTransformFactory(factory);
  TRef<TColorTransform> t = MakeColorTransform(*Profile("icc", "a.jpg"), *Profile("x", "sRGB"));
  ASSERT_TRUE(t);
  TRef<TBitmap> src = Swatch(TPixelFormat::Bgra32);
  auto out = MakeRef<TBitmap>(6, 2, TPixelFormat::Bgra32);
  EXPECT_TRUE(t->TransformRect(*src, {0, 0, 6, 2}, *out, 0, 0));
  EXPECT_EQ(out->Row(0)[0], 248);  // red became blue
  EXPECT_EQ(out->Row(0)[2], 0);
  std::vector<uint8_t> volume(32 * 32 * 32 * 3, 0);
  EXPECT_TRUE(t->TransformLookupVolume(volume.data()));
  EXPECT_EQ(volume[(31 + 0 + 0) * 3 + 0], 248);  // entry r = 31: blue channel set
  // No member for another profile: no transform, the volume stays.
  EXPECT_FALSE(MakeColorTransform(*Profile("icc", "other.jpg"), *Profile("x", "sRGB")));
  SetColorTransformFactory(nullptr);
}

TEST(ColorManagementSetting, SwitchesValuesAndOverrides) {
  TTempDir dir;
  TColorManagement cm;
  cm.Apply("");
  EXPECT_FALSE(cm.Active());
  cm.Apply("sRGB");
  EXPECT_TRUE(cm.Active());
  EXPECT_EQ(cm.DisplayProfile()->Icc(), BuiltinProfile("sRGB"));
  cm.Apply("?");
  EXPECT_TRUE(cm.Active());
  cm.Apply("adobergb");
  EXPECT_EQ(cm.DisplayProfile()->Icc().size(), 560u);
  cm.Apply(kFreeAdobe);
  EXPECT_EQ(cm.DisplayProfile()->Icc(), ReadFile(kFreeAdobe));
  cm.Apply(dir / "missing.icc");
  EXPECT_FALSE(cm.Active());
  // "*" without an override: FunkyRGB installed, management stays off.
  cm.Apply("*");
  EXPECT_FALSE(cm.Active());
  ASSERT_TRUE(cm.DisplayProfile());
  EXPECT_EQ(cm.DisplayProfile()->Icc().size(), 1008u);
  // The command-line profile wins over the show's value.
  cm.SetCommandLine(false, "FunkyRGB");
  cm.Apply("*");
  EXPECT_TRUE(cm.Active());
  cm.Apply("sRGB");
  EXPECT_EQ(cm.DisplayProfile()->Icc().size(), 1008u);
  // noicc turns it off whatever the show says.
  cm.SetCommandLine(true, std::nullopt);
  cm.Apply("sRGB");
  EXPECT_FALSE(cm.Active());
  // Without the engine nothing is active.
  cm.SetCommandLine(false, std::nullopt);
  cm.SetEngineLoader([] { return false; });
  cm.Apply("sRGB");
  EXPECT_FALSE(cm.Active());
  cm.SetEngineLoader(nullptr);
  cm.Apply("FunkyRGB");
  TRef<TBitmap> b = Swatch(TPixelFormat::Bgr24);
  TRef<TBitmap> before = ConvertBitmap(*b, TPixelFormat::Bgr24);
  EXPECT_FALSE(cm.ConvertToDisplay(*b, "", "no profile"));
  EXPECT_TRUE(cm.ConvertToDisplay(*b, ReadFile(kFreeSrgb), "p.jpg"));
  EXPECT_GT(MaxChange(*before, *b), 100);
}

TEST(ColorManagementSetting, ReadFromTheShowDocument) {
  TColorManagement cm;
  TIniFile doc;
  doc.LoadText("[Main]\r\nColorManagement=AdobeRGB\r\n");
  cm.Apply(doc);
  EXPECT_TRUE(cm.Active());
  EXPECT_EQ(cm.DisplayProfile()->Icc().size(), 560u);
  TIniFile none;
  none.LoadText("[Main]\r\nLumVersion=5.6\r\n");
  cm.Apply(none);
  EXPECT_FALSE(cm.Active());
  EXPECT_FALSE(cm.DisplayProfile());
}

}  // namespace
}  // namespace lum
