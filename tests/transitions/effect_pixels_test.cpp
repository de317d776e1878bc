// Every filter family drawn headless between two solid slides (red going,
// blue coming), with the expected coverage worked out here from the
// geometry: which pixels show which slide at p = 0, 1/2, 1 and in between.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>

#include "effects/draw_filter.h"
#include "effects/filters.h"
#include "imaging/bitmap.h"
#include "render/3d_drawer.h"
#include "render/gl_fixture.h"
#include "render/root_item.h"
#include "transitions/drawn_pair.h"

namespace lum {
namespace {

constexpr int kW = 128, kH = 96;
constexpr double kPi = std::numbers::pi;
constexpr TFilterRect kSlide{0, 0, kW, kH};

// What a pixel must show: the outgoing slide, the incoming one, or either
// (near an edge, where rasterisation decides).
enum TWant { kOut = 0, kIn = 1, kAny = 2 };
using TExpect = std::function<TWant(double x, double y)>;

// The pair as solid pictures: red going (or red | green split at the middle
// when split), blue coming.
class TSolidPair : public test::TDrawnPair {
 public:
  TSolidPair(T3DDrawer& d, bool split) : TDrawnPair(d), split_(split) {}
  void DrawPlain(int which) override {
    d_.Screen().SetClip({0, 0, kW, kH});
    if (which == 1) {
      d_.FillRect({0, 0, kW, kH}, 0xFF0000FF);
    } else if (split_) {
      d_.FillRect({0, 0, kW / 2, kH}, 0xFFFF0000);
      d_.FillRect({kW / 2, 0, kW, kH}, 0xFF00FF00);
    } else {
      d_.FillRect({0, 0, kW, kH}, 0xFFFF0000);
    }
  }
  TRect Area() const override { return {0, 0, kW, kH}; }

 private:
  bool split_;
};


struct TPx {
  int r, g, b;
};

class FilterPixels : public test::THeadlessGL {
 protected:
  void SetUp() override {
    THeadlessGL::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    TWindowOptions o;
    o.width = kW;
    o.height = kH;
    o.hidden = true;
    window = std::make_unique<TWindow>(o);
    device = MakeRef<TWindowDrawDevice>(window->Handle());
    device->Follow(*window);
    drawer = std::make_unique<T3DDrawer>(TRef<T3DEngine>(engine));
    drawer->Attach(device.Get());
    ASSERT_TRUE(drawer->DeviceReady());
    drawer->SetCapture(true);
  }
  void TearDown() override {
    drawer.reset();
    CloseWindow();
  }

  // The pair drawn through the filter at elapsed ms, read back.
  TRef<TBitmap> Frame(TDrawFilter& f, double ms, bool split = false) {
    f.SetTime(ms);
    TFnItem item([&](T3DDrawer& d) {
      d.Clear(0xFF000000);
      TSolidPair pair(d, split);
      f.SetOutput(kSlide);
      f.DrawPair(d, pair);
    });
    EXPECT_TRUE(drawer->DrawItem(item));
    TRef<TBitmap> b = drawer->ReadFrame();
    EXPECT_TRUE(b);
    return b;
  }
  static TPx At(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.Row(y) + 4 * x;
    return {p[2], p[1], p[0]};
  }
  // Every pixel against the expectation; a few stray pixels on a
  // rasterised edge are allowed for, none elsewhere.
  void Check(const TBitmap& b, const TExpect& want, const std::string& what) {
    int wrong = 0;
    std::string first;
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const TWant w = want(x + 0.5, y + 0.5);
        if (w == kAny) continue;
        const TPx p = At(b, x, y);
        const bool ok = w == kIn ? (p.b > 230 && p.r < 25) : (p.r > 230 && p.b < 25);
        if (!ok && wrong++ == 0)
          first = std::to_string(x) + "," + std::to_string(y) + " = " + std::to_string(p.r) + "/" +
                  std::to_string(p.g) + "/" + std::to_string(p.b);
      }
    }
    EXPECT_EQ(wrong, 0) << what << ": first wrong pixel " << first;
  }
  void CheckAll(TDrawFilter& f, const std::function<TExpect(double p)>& want,
                std::initializer_list<double> ps, const std::string& what) {
    for (double p : ps) {
      TRef<TBitmap> b = Frame(f, p * 1000);
      ASSERT_TRUE(b);
      Check(*b, want(p), what + " at p=" + std::to_string(p));
    }
  }
  // Near a boundary value (within m pixels) anything goes.
  static TWant Side(double inside, double margin = 1.5) {
    if (std::abs(inside) < margin) return kAny;
    return inside > 0 ? kIn : kOut;
  }

  std::unique_ptr<T3DDrawer> drawer;
};

std::unique_ptr<TDrawFilter> Made(std::unique_ptr<TDrawFilter> f, double edge = 0.1) {
  f->Initialize(kSlide, edge, 1000);
  return f;
}

TEST_F(FilterPixels, CrossFadeMixesByProgress) {
  auto f = Made(std::make_unique<TAlphaFilter>());
  for (double p : {0.0, 0.25, 0.5, 1.0}) {
    TRef<TBitmap> b = Frame(*f, p * 1000);
    for (auto [x, y] : {std::pair{3, 3}, {64, 48}, {120, 90}}) {
      const TPx px = At(*b, x, y);
      EXPECT_NEAR(px.b, 255 * p, 3) << p;
      EXPECT_NEAR(px.r, 255 * (1 - p), 3) << p;
    }
  }
}

TEST_F(FilterPixels, CircleOpensFromItsCentreAndCoversTheFarCorner) {
  for (auto [cx, cy] : {std::pair{0.5, 0.5}, {0.25, 0.75}, {-0.5, 0.5}}) {
    auto f = Made(std::make_unique<TCircleFilter>(cx, cy, false));
    const double px = kW * cx, py = kH * cy;
    const double gap = std::max(0.0, -px);
    double far = 0;
    for (auto [x, y] : {std::pair{0, 0}, {kW, 0}, {kW, kH}, {0, kH}})
      far = std::max(far, std::hypot(x - px, y - py));
    const double reach = far - gap + 0.1;
    CheckAll(
        *f,
        [&](double p) -> TExpect {
          return [=](double x, double y) {
            return Side(p * reach - 0.1 + gap - std::hypot(x - px, y - py));
          };
        },
        {0.0, 0.2, 0.5, 0.8, 1.0}, "circle " + std::to_string(cx));
  }
}

TEST_F(FilterPixels, ReversedCircleClosesOnTheIncomingSlide) {
  auto f = Made(std::make_unique<TCircleFilter>(0.5, 0.5, true));
  const double reach = std::hypot(64, 48) + 0.1;
  CheckAll(
      *f,
      [&](double p) -> TExpect {
        return [=](double x, double y) {
          // The outgoing slide inside the shrinking circle.
          const TWant w = Side((reach - p * reach) - 0.1 - std::hypot(x - 64, y - 48));
          return w == kAny ? kAny : (w == kIn ? kOut : kIn);
        };
      },
      {0.0, 0.3, 0.5, 1.0}, "reversed circle");
}

TEST_F(FilterPixels, RhombAndSquareKeepTheirShapes) {
  auto rhomb = Made(std::make_unique<TRhombFilter>(0.5, 0.5, false));
  const double rr = 64 + 48 + 0.1;
  CheckAll(
      *rhomb,
      [&](double p) -> TExpect {
        return [=](double x, double y) {
          return Side(p * rr - 0.1 - (std::abs(x - 64) + std::abs(y - 48)));
        };
      },
      {0.0, 0.3, 0.6, 1.0}, "rhomb");
  auto square = Made(std::make_unique<TSquareFilter>(0.25, 0.5, false));
  const double aspect = double(kW) / kH;
  const double sr = std::max(96.0, 48 * aspect) + 0.1;
  CheckAll(
      *square,
      [&](double p) -> TExpect {
        return [=](double x, double y) {
          return Side(p * sr - 0.1 - std::max(std::abs(x - 32), std::abs(y - 48) * aspect));
        };
      },
      {0.0, 0.3, 0.6, 1.0}, "square");
}

TEST_F(FilterPixels, LinesOpenFromTheirCentreOrEdge) {
  struct TCase {
    bool horizontal;
    double cx, cy;
    bool reverse;
  };
  for (const TCase& c :
       {TCase{true, 0.5, 0.5, false}, TCase{false, 0.5, 0.5, false}, TCase{true, 1, 0, false},
        TCase{false, 0, 1, false}, TCase{true, 0.5, 0.5, true}}) {
    std::unique_ptr<TDrawFilter> f;
    if (c.horizontal)
      f = Made(std::make_unique<THLines>(c.cx, c.cy, c.reverse));
    else
      f = Made(std::make_unique<TVLines>(c.cx, c.cy, c.reverse));
    const double centre = c.horizontal ? kW * c.cx : kH * c.cy;
    const double size = c.horizontal ? kW : kH;
    const double reach = std::max(centre, size - centre) + 0.1;
    CheckAll(
        *f,
        [&](double p) -> TExpect {
          return [=](double x, double y) {
            const double d = std::abs((c.horizontal ? x : y) - centre);
            const double s = c.reverse ? reach - p * reach : p * reach;
            const TWant w = Side(s - 0.1 - d);
            if (!c.reverse || w == kAny) return w;
            return w == kIn ? kOut : kIn;
          };
        },
        {0.0, 0.1, 0.25, 0.5, 0.75, 1.0},
        std::string(c.horizontal ? "hlines " : "vlines ") + std::to_string(c.cx));
  }
}

TEST_F(FilterPixels, DiagonalBandsRunAtFortyFiveDegrees) {
  for (int mode : {0, 1, 2}) {
    for (bool mirrored : {false, true}) {
      auto f = Made(std::make_unique<TDiagLines>(mode, mirrored, false));
      auto dist = [=](double x, double y) {
        if (mirrored) x = kW - x;
        if (mode == 0) return (x + y) / std::sqrt(2.0);
        if (mode == 2) return ((kW - x) + (kH - y)) / std::sqrt(2.0);
        return std::abs((x - 64) + (y - 48)) / std::sqrt(2.0);
      };
      double reach = 0;
      for (auto [x, y] : {std::pair{0, 0}, {kW, 0}, {kW, kH}, {0, kH}})
        reach = std::max(reach, dist(x, y));
      reach += 0.1;
      CheckAll(
          *f,
          [&](double p) -> TExpect {
            return [=](double x, double y) { return Side(p * reach - 0.1 - dist(x, y)); };
          },
          {0.0, 0.3, 0.5, 0.7, 1.0},
          "diagonal " + std::to_string(mode) + (mirrored ? " mirrored" : ""));
    }
  }
}

TEST_F(FilterPixels, SoftEdgeFollowsTheCurve) {
  // A 32-pixel edge on vertical lines from the left edge.
  auto f = Made(std::make_unique<THLines>(0, 0, false), 32);
  const double reach = kW + 32;
  TRef<TBitmap> b = Frame(*f, 500);
  const double s = 0.5 * reach;
  for (int x = 0; x < kW; ++x) {
    const double d = x + 0.5;
    double want;
    if (d <= s - 32)
      want = 255;
    else if (d >= s)
      want = 0;
    else
      want = 255 - EdgeCurve((d - (s - 32)) / 32 * 255);
    // Rings are linear between 15 points of the curve.
    EXPECT_NEAR(At(*b, x, 40).b, want, 12) << x;
  }
}

float Lcg(uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  uint32_t bits = (seed & 0x7FFFFFu) | 0x3F800000u;
  float f;
  std::memcpy(&f, &bits, 4);
  return f - 1;
}

TEST_F(FilterPixels, MosaicCellsAppearByTheirThresholds) {
  const int cols = 8, rows = 6, spread = 50;
  const uint32_t seed0 = 4242;
  auto f = Made(std::make_unique<TRandomFilter>(cols, rows, spread, seed0));
  std::vector<int> t;
  uint32_t seed = seed0;
  for (int i = 0; i < cols * rows; ++i) t.push_back(int(std::trunc(Lcg(seed) * spread * 100.0)));
  for (double p : {0.0, 0.3, 0.5, 0.7, 1.0}) {
    TRef<TBitmap> b = Frame(*f, p * 1000);
    const double level = std::trunc(p * (spread * 100 + 256) - 256);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        const double d = t[size_t(r * cols + c)] - level;
        const int alpha = d < 0 ? 255 : (d < 255 ? int(255 - d) : 0);
        const TPx px = At(*b, c * kW / cols + kW / cols / 2, r * kH / rows + kH / rows / 2);
        EXPECT_NEAR(px.b, alpha, 3) << p << " cell " << c << "," << r;
      }
    }
  }
}

TEST_F(FilterPixels, SlideEntersAndPushMovesTheOutgoingSlide) {
  for (int dir = 1; dir <= 4; ++dir) {
    auto f = Made(std::make_unique<TSlideFilter>(dir));
    CheckAll(
        *f,
        [&](double p) -> TExpect {
          return [=](double x, double y) {
            switch (dir) {
              case 1:
                return Side(p * kW - x);
              case 2:
                return Side(x - (kW - p * kW));
              case 3:
                return Side(p * kH - y);
              default:
                return Side(y - (kH - p * kH));
            }
          };
        },
        {0.0, 0.25, 0.5, 1.0}, "slide " + std::to_string(dir));
  }
  // Push from the left: at p = 1/2 both slides are half visible; the
  // outgoing slide's red | green split has moved right by half the width.
  auto push = Made(std::make_unique<TPushFilter>(1));
  TRef<TBitmap> b = Frame(*push, 500, true);
  for (int x : {2, 60}) EXPECT_GT(At(*b, x, 40).b, 230) << x;
  for (int x : {66, 94, 125}) EXPECT_GT(At(*b, x, 40).r, 230) << x;
  TRef<TBitmap> q = Frame(*push, 250, true);
  EXPECT_GT(At(*q, 30, 40).b, 230);
  EXPECT_GT(At(*q, 34, 40).r, 230);
  EXPECT_GT(At(*q, 98, 40).g, 230);
}

// The angle of a point about (px, py), clockwise from up, 0..2π.
double ClockAngle(double x, double y, double px, double py) {
  double a = std::atan2(x - px, -(y - py));
  return a < 0 ? a + 2 * kPi : a;
}

TEST_F(FilterPixels, ClockHandSweepsFromUp) {
  for (bool mirrored : {false, true}) {
    auto f = Made(std::make_unique<TClockEffect>(mirrored), 0.2);
    CheckAll(
        *f,
        [&](double p) -> TExpect {
          return [=](double x, double y) {
            if (mirrored) x = kW - x;
            if (std::hypot(x - 64, y - 48) < 4) return kAny;
            const double a = ClockAngle(x, y, 64, 48);
            // Distance in pixels from the hand and from the start line.
            const double r = std::hypot(x - 64, y - 48);
            const double toHand = r * std::sin(std::min(std::abs(a - 2 * kPi * p), kPi / 2));
            const double toStart = r * std::sin(std::min(std::min(a, 2 * kPi - a), kPi / 2));
            if (toHand < 2 || toStart < 2) return kAny;
            return a < 2 * kPi * p ? kIn : kOut;
          };
        },
        {0.0, 0.125, 0.4, 0.5, 0.8, 1.0}, mirrored ? "clock mirrored" : "clock");
  }
}

TEST_F(FilterPixels, BroomsSweepAboutTheirPivots) {
  for (int kind : {1, 2, 3, 4, 5, 6, 7, 8, 9, 14}) {
    const double dist = 10;
    auto f = Made(std::make_unique<TBroomEffect>(kind, dist), 0.2);
    const int k = (kind - 1) % 8 + 1;
    const double q = dist / std::sqrt(2.0);
    const double pivots[9][2] = {{0, 0},           {64, -dist},  {kW + dist, 48},
                                 {64, kH + dist},  {-dist, 48},  {kW + q, -q},
                                 {kW + q, kH + q}, {-q, kH + q}, {-q, -q}};
    const double px = pivots[k][0], py = pivots[k][1];
    const double toCentre = std::atan2(48 - py, 64 - px);
    auto rel = [=](double x, double y) {
      double a = std::atan2(y - py, x - px) - toCentre;
      while (a > kPi) a -= 2 * kPi;
      while (a <= -kPi) a += 2 * kPi;
      return a;
    };
    double lo = 0, hi = 0;
    for (auto [x, y] : {std::pair{0, 0}, {kW, 0}, {kW, kH}, {0, kH}}) {
      lo = std::min(lo, rel(x, y));
      hi = std::max(hi, rel(x, y));
    }
    const bool reverse = kind > 8;
    CheckAll(
        *f,
        [&](double p) -> TExpect {
          return [=](double x, double y) {
            const double a = rel(x, y);
            const double front = reverse ? hi - p * (hi - lo) : lo + p * (hi - lo);
            const double r = std::hypot(x - px, y - py);
            if (r * std::abs(std::sin(a - front)) < 2.5) return kAny;
            const bool swept = a < front;
            // Reversed, the outgoing slide is left in the part not yet swept back.
            if (reverse) return swept ? kOut : kIn;
            return swept ? kIn : kOut;
          };
        },
        {0.0, 0.3, 0.5, 0.7, 1.0}, "broom " + std::to_string(kind));
  }
}

TEST_F(FilterPixels, PageCurlRollsAcrossWithItsTube) {
  // Edge roller from the left (direction 1): the incoming page unrolls;
  // the full tube turns back down over [fold - r, fold].
  const double radius = 12;
  TRollEffect2 roll(14, 1, true, radius, false, false, 0, 0.125);
  roll.Initialize(kSlide, 0.1, 1000);
  CheckAll(
      roll,
      [&](double p) -> TExpect {
        const double fold = -(radius + 2) + p * (kW + radius + 2);
        return [=](double x, double) {
          if (x < fold - radius - 1.5) return kIn;
          if (x > fold + radius + 1.5) return kOut;
          return kAny;
        };
      },
      {0.0, 0.25, 0.5, 0.75, 1.0}, "curl");
  // Reversed (direction 5): the outgoing page rolls up towards the right.
  TRollEffect2 back(14, 5, false, radius, true, false, 0x00FF00, 0.125);
  back.Initialize(kSlide, 0.1, 1000);
  EXPECT_EQ(back.Roller(), 2);
  CheckAll(
      back,
      [&](double p) -> TExpect {
        const double fold = -(radius + 2) + (1 - p) * (kW + radius + 2);
        return [=](double x, double) {
          const double s = kW - x;
          if (s < fold - 1.5) return kOut;
          if (s > fold + radius + 1.5) return kIn;
          return kAny;
        };
      },
      {0.0, 0.5, 1.0}, "curl reversed");
  // The back of the rolled page shows its colour.
  TRef<TBitmap> g = Frame(back, 500);
  int green = 0;
  for (int x = 0; x < kW; ++x) green += At(*g, x, 48).g > 60;
  EXPECT_GT(green, 0);
  // The tube is shaded: somewhere in it the page is darker than flat.
  TRef<TBitmap> b = Frame(roll, 500);
  const double fold = -(radius + 2) + 0.5 * (kW + radius + 2);
  int darkest = 255;
  for (int x = int(fold); x < int(fold + radius) && x < kW; ++x)
    darkest = std::min(darkest, At(*b, x, 48).b + At(*b, x, 48).r);
  EXPECT_LT(darkest, 230);
}

TEST_F(FilterPixels, CornerCurlCoversTheSlideAtTheEnd) {
  TRollEffect2 roll(15, 1, false, 10, false, false, 0, 0.125);
  roll.Initialize(kSlide, 0.1, 1000);
  EXPECT_EQ(roll.Roller(), 5);
  const double k = std::sqrt(0.5);
  CheckAll(
      roll,
      [&](double p) -> TExpect {
        const double fold = -12 + p * ((kW + kH) * k + 12);
        return [=](double x, double y) {
          const double s = (x + y) * k;
          if (s < fold - 1.5) return kIn;
          if (s > fold + 10 + 1.5) return kOut;
          return kAny;
        };
      },
      {1.0, 0.0, 0.5, 1.0}, "corner curl");
}

TEST_F(FilterPixels, FlipShowsOneSlideAndChangesAtHalfTime) {
  for (int axis : {1, 2, 3, 4, 5, 7}) {
    for (bool ease : {false, true}) {
      TOverturnEffect flip(axis, ease, 0.5);
      flip.Initialize(kSlide, 0.1, 1000);
      TRef<TBitmap> b0 = Frame(flip, 0), b1 = Frame(flip, 1000);
      EXPECT_GT(At(*b0, 2, 2).r, 230);
      EXPECT_GT(At(*b1, 125, 93).b, 230);
      TRef<TBitmap> before = Frame(flip, 490), after = Frame(flip, 510);
      EXPECT_EQ(flip.Shown(), 1);
      // Near half time the slide is almost edge-on: thin, but its colour
      // changes exactly there.
      const bool vertical = (axis - 1) % 4 < 2;
      int reds = 0, blues = 0;
      for (int i = 0; i < (vertical ? kW : kH); ++i) {
        const TPx a = vertical ? At(*before, i, 48) : At(*before, 64, i);
        const TPx c = vertical ? At(*after, i, 48) : At(*after, 64, i);
        reds += a.r > 128 && a.b < 60;
        blues += c.b > 128 && c.r < 60;
        EXPECT_LT(a.b, 60);
        EXPECT_LT(c.r, 60);
      }
      EXPECT_GT(reds, 0) << axis;
      EXPECT_GT(blues, 0) << axis;
      // A quarter in, the outgoing slide is narrower than the frame.
      TRef<TBitmap> q = Frame(flip, 250);
      const double a = ease ? kPi * 2 * 0.0625 : kPi / 4;
      const double half = std::cos(a) * (vertical ? 64 : 48);
      // Spinning about the centre brings one edge towards the viewer.
      if (axis > 4) {
        EXPECT_GT(At(*q, 64, 48).r, 230);
      } else if (vertical) {
        EXPECT_GT(At(*q, 64, 48).r, 230);
        if (half < 60) {
          EXPECT_LT(At(*q, 1, 48).r, 20) << axis;
          EXPECT_LT(At(*q, 126, 48).r, 20) << axis;
        }
      } else {
        EXPECT_GT(At(*q, 64, 48).r, 230);
        if (half < 44) {
          EXPECT_LT(At(*q, 64, 1).r, 20) << axis;
          EXPECT_LT(At(*q, 64, 94).r, 20) << axis;
        }
      }
    }
  }
}

TEST_F(FilterPixels, SwapMovesTheSlidesApartAndBack) {
  for (int dir = 1; dir <= 4; ++dir) {
    TTwoSlidesEffect swap(dir, kPi / 3, 4, 1);
    swap.Initialize(kSlide, 0.1, 1000);
    TRef<TBitmap> b0 = Frame(swap, 0), b1 = Frame(swap, 1000), mid = Frame(swap, 500);
    for (auto [x, y] : {std::pair{2, 2}, {64, 48}, {125, 93}}) {
      EXPECT_GT(At(*b0, x, y).r, 230) << dir;
      EXPECT_GT(At(*b1, x, y).b, 230) << dir;
    }
    // Half way both are away from the centre on opposite sides: the
    // outgoing one along the direction, the incoming one against it.
    const bool horizontal = dir <= 2;
    const double sign = dir == 1 || dir == 3 ? 1 : -1;
    int outSide = 0, inSide = 0, wrong = 0;
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const TPx p = At(*mid, x, y);
        const double off = (horizontal ? x - 63.5 : y - 47.5) * sign;
        if (p.r > 128) (off > 0 ? outSide : wrong)++;
        if (p.b > 128) (off < 0 ? inSide : wrong)++;
      }
    }
    EXPECT_GT(outSide, 20) << dir;
    EXPECT_GT(inSide, 20) << dir;
    EXPECT_EQ(wrong, 0) << dir;
    EXPECT_EQ(swap.Front(), 1);
  }
}

}  // namespace
}  // namespace lum
