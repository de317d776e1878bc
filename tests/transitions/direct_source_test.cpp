// Filters sampling a slide's own picture directly must draw what they draw
// from the slide's picture in a target: every family, both ways round, at
// several times, from pictures shown through an offset (so a map that is
// ignored or inverted shows). Past its shown part each picture repeats its
// edge, as a target of the frame's (power-of-two) size clamps: geometry
// sampling across the slide's edge then reads the same in both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "effects/draw_filter.h"
#include "effects/filters.h"
#include "imaging/bitmap.h"
#include "render/3d_drawer.h"
#include "render/gl_fixture.h"
#include "render/root_item.h"
#include "transitions/drawn_pair.h"

namespace lum {
namespace {

constexpr int kW = 128, kH = 128;
// The pictures are larger than the frame; the slides show them from here.
constexpr int kOffX = 16, kOffY = 8;

// Two patterned pictures as slides, drawn plainly through their offset;
// direct, the filters get the pictures and the offset as the map.
class TPatternPair : public test::TDrawnPair {
 public:
  TPatternPair(T3DDrawer& d, TCustomTexture* a, TCustomTexture* b, bool direct)
      : TDrawnPair(d), tex_{a, b}, direct_(direct) {}
  void DrawPlain(int which) override {
    d_.Screen().SetClip({0, 0, kW, kH});
    d_.DrawPixels(*tex_[which], {0, 0, kW, kH}, {kOffX, kOffY, kOffX + kW, kOffY + kH}, 1);
  }
  TRect Area() const override { return {0, 0, kW, kH}; }
  TSlideSource Direct(int which) override {
    if (!direct_) return {};
    TSlideSource s(tex_[which]);
    s.offsetX = kOffX;
    s.offsetY = kOffY;
    s.opaque = true;
    return s;
  }

 private:
  TCustomTexture* tex_[2];
  bool direct_;
};


class DirectSources : public test::THeadlessGL {
 protected:
  void SetUp() override {
    THeadlessGL::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    OpenWindow(kW);  // kW x kW
    drawer = std::make_unique<T3DDrawer>(TRef<T3DEngine>(engine));
    drawer->Attach(device.Get());
    ASSERT_TRUE(drawer->DeviceReady());
    drawer->SetCapture(true);
    // Smooth ramps in different directions, so that both slides and any
    // shift between the paths are told apart.
    const int w = kW + 2 * kOffX, h = kH + 2 * kOffY;
    std::vector<uint8_t> px(size_t(w) * h * 4);
    for (int k = 0; k < 2; ++k) {
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          uint8_t* p = &px[(size_t(y) * w + x) * 4];
          const int sx = std::clamp(x - kOffX, 0, kW - 1), sy = std::clamp(y - kOffY, 0, kH - 1);
          p[0] = uint8_t(k ? 255 - sy : 40 + sx);
          p[1] = uint8_t(k ? 2 * sx : 255 - sy);
          p[2] = uint8_t(k ? 60 + sy : (sx + sy) / 2);
          p[3] = 255;
        }
      pictures[k] = std::make_unique<TRGBATexture>(&drawer->Screen(), w, h);
      pictures[k]->SetPixels({px.data(), w, h, w * 4, TSurfaceFormat::BGRA8});
    }
  }
  void TearDown() override {
    pictures[0].reset();
    pictures[1].reset();
    drawer.reset();
    CloseWindow();
  }

  // The pair through the filter at elapsed ms, read back; how often the
  // filter asked for a slide's target.
  TRef<TBitmap> Frame(TDrawFilter& f, double ms, bool direct, int& targets) {
    f.SetTime(ms);
    TFnItem item([&](T3DDrawer& d) {
      d.Clear(0xFF000000);
      TPatternPair pair(d, pictures[0].get(), pictures[1].get(), direct);
      f.SetOutput({0, 0, kW, kH});
      f.DrawPair(d, pair);
      targets = pair.pictures;
    });
    EXPECT_TRUE(drawer->DrawItem(item));
    return drawer->ReadFrame();
  }

  static int MaxDifference(const TBitmap& a, const TBitmap& b, std::string& where) {
    int worst = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int c = 0; c < 3; ++c) {
          const int d = std::abs(a.Row(y)[4 * x + c] - b.Row(y)[4 * x + c]);
          if (d > worst) {
            worst = d;
            where = std::to_string(x) + "," + std::to_string(y);
          }
        }
    return worst;
  }

  std::unique_ptr<T3DDrawer> drawer;
  std::unique_ptr<TRGBATexture> pictures[2];
};

struct TFamilyCase {
  const char* name;
  std::function<std::unique_ptr<TDrawFilter>()> make;
};

std::vector<TFamilyCase> EveryFamily() {
  return {
      {"cross-fade", [] { return std::make_unique<TAlphaFilter>(); }},
      {"circle", [] { return std::make_unique<TCircleFilter>(0.3, 0.6, false); }},
      {"rhomb", [] { return std::make_unique<TRhombFilter>(0.5, 0.5, false); }},
      {"square", [] { return std::make_unique<TSquareFilter>(0.5, 0.5, true); }},
      {"lines", [] { return std::make_unique<THLines>(0.5, 0.5, false); }},
      {"diagonal", [] { return std::make_unique<TDiagLines>(1, true, false); }},
      {"mosaic", [] { return std::make_unique<TRandomFilter>(8, 6, 40, 7); }},
      {"push", [] { return std::make_unique<TPushFilter>(3); }},
      {"slide", [] { return std::make_unique<TSlideFilter>(2); }},
      {"clock", [] { return std::make_unique<TClockEffect>(false); }},
      {"broom", [] { return std::make_unique<TBroomEffect>(5, 20); }},
      {"curl edge",
       [] {
         return std::make_unique<TRollEffect2>(14, 1, true, 10, false, true, 0xE0E0E0, 0.125);
       }},
      {"curl corner",
       [] {
         return std::make_unique<TRollEffect2>(15, 3, false, 10, true, false, 0xE0E0E0, 0.125);
       }},
      {"flip", [] { return std::make_unique<TOverturnEffect>(6, true, 0.5); }},
      {"swap", [] { return std::make_unique<TTwoSlidesEffect>(3, 1.0, 4, 1); }},
  };
}

TEST_F(DirectSources, EveryFamilyDrawsTheSameAsThroughTargets) {
  for (const TFamilyCase& c : EveryFamily()) {
    for (bool reverse : {false, true}) {
      std::unique_ptr<TDrawFilter> f = c.make();
      f->Initialize({0, 0, kW, kH}, 6, 1000);
      if (reverse) f->SetReverse(true);
      for (double ms : {150.0, 500.0, 850.0}) {
        const std::string what =
            std::string(c.name) + (reverse ? " reversed" : "") + " at " + std::to_string(ms);
        int viaTargets = 0, viaDirect = 0;
        TRef<TBitmap> t = Frame(*f, ms, false, viaTargets);
        TRef<TBitmap> d = Frame(*f, ms, true, viaDirect);
        ASSERT_TRUE(t && d) << what;
        std::string where;
        EXPECT_LE(MaxDifference(*t, *d, where), 2) << what << ", worst at " << where;
        // The direct path draws no slide into a target.
        EXPECT_EQ(viaDirect, 0) << what;
        EXPECT_GT(viaTargets, 0) << what;
      }
    }
  }
}

}  // namespace
}  // namespace lum
