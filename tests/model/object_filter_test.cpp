// Colour filters: every formula over all channel values against a separate
// computation, parameter clamping, the registry, chains and reuse.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "document/ini_file.h"
#include "model/lum_key_frame.h"
#include "model/lum_object_props.h"
#include "model/object_filter.h"

namespace lum {
namespace {

struct TLoaded {
  TIniFile doc;
  TRef<TObjectFilter> filter;
};

// A filter made and loaded from "object <name>:Filter" with the given keys.
std::unique_ptr<TLoaded> Load(const std::string& name, const std::string& keys) {
  auto l = std::make_unique<TLoaded>();
  l->doc.LoadText("[S]\nobject " + name + ":Filter\n" + keys + "end\n");
  l->filter = CreateFilter(name);
  if (l->filter) l->filter->Load(l->doc.Section("S")->FindObject(name));
  return l;
}

struct TPx {
  int b, g, r;
};

// 256 pixels whose channels run through every value in different orders, so
// a channel mix-up shows.
std::vector<TPx> Ramp() {
  std::vector<TPx> px;
  for (int n = 0; n < 256; ++n) px.push_back({n, 255 - n, (n * 97 + 13) & 255});
  return px;
}

std::vector<TPx> Filtered(const TObjectFilter& f, const std::vector<TPx>& in) {
  std::vector<uint8_t> buf;
  for (const TPx& p : in) buf.insert(buf.end(), {uint8_t(p.b), uint8_t(p.g), uint8_t(p.r), 7});
  f.Apply(buf.data(), int(in.size()), 1, buf.size());
  std::vector<TPx> out;
  for (size_t i = 0; i < in.size(); ++i) {
    EXPECT_EQ(buf[4 * i + 3], 255);
    out.push_back({buf[4 * i], buf[4 * i + 1], buf[4 * i + 2]});
  }
  return out;
}

int Clamp255(double v) {
  return v < 0 ? 0 : v > 255 ? 255 : int(v);
}
int Round(double v) {
  return int(std::floor(std::abs(v) + 0.5)) * (v < 0 ? -1 : 1);
}

// Checks a per-channel filter against a curve over all 256 values of each channel.
void ExpectCurve(const TObjectFilter& f, const std::function<int(int)>& curve,
                 const std::string& what) {
  const std::vector<TPx> in = Ramp(), out = Filtered(f, in);
  for (size_t i = 0; i < in.size(); ++i) {
    ASSERT_EQ(out[i].b, curve(in[i].b)) << what << " blue " << in[i].b;
    ASSERT_EQ(out[i].g, curve(in[i].g)) << what << " green " << in[i].g;
    ASSERT_EQ(out[i].r, curve(in[i].r)) << what << " red " << in[i].r;
  }
}

TEST(ObjectFilter, BrightContrastFollowsItsLine) {
  const int cases[][2] = {{0, 0}, {40, 0}, {-100, 0}, {0, 50}, {30, -60}, {-20, 99}, {100, 100},
                          {0, -100}};
  for (const auto& c : cases) {
    auto l = Load("BrightContrast", "bright=" + std::to_string(c[0]) +
                                        "\ncontrast=" + std::to_string(c[1]) + "\n");
    const double angle = (100 - c[1]) / 400.0 * 3.14159265358979;
    const double k = c[1] == 100    ? 10000
                     : c[1] == -100 ? 0
                                    : std::max(0.0, std::cos(angle) / std::sin(angle));
    const double d = ((1 - k) * 0.5 + k * c[0] / 255.0) * 255;
    ExpectCurve(*l->filter, [&](int v) { return Clamp255(Round(v * k + d)); },
                "bright " + std::to_string(c[0]) + " contrast " + std::to_string(c[1]));
  }
  // The edge cases named: identity, and a hard threshold at mid grey.
  ExpectCurve(*Load("BrightContrast", "")->filter, [](int v) { return v; }, "identity");
  ExpectCurve(*Load("BrightContrast", "contrast=100\n")->filter,
              [](int v) { return v < 128 ? 0 : 255; }, "threshold");
}

TEST(ObjectFilter, InvertAndLevels) {
  ExpectCurve(*Load("Invert", "")->filter, [](int v) { return 255 - v; }, "invert");
  ExpectCurve(*Load("Levels", "Min=0\nMed=0\nMax=255\n")->filter, [](int v) { return v; },
              "levels identity");
  const int cases[][3] = {{0, -100, 255}, {10, -100, 200}, {30, 40, 220}, {0, 100, 255},
                          {60, -30, 61}, {100, 0, 100}};
  for (const auto& c : cases) {
    auto l = Load("Levels", "Min=" + std::to_string(c[0]) + "\nMed=" + std::to_string(c[1]) +
                                "\nMax=" + std::to_string(c[2]) + "\n");
    double gamma = c[1] == -100 ? 10 : (100.0 - c[1]) / (100.0 + c[1]);
    gamma = std::min(10.0, std::max(0.1, gamma));
    const double span = c[2] == c[0] ? 1 : c[2] - c[0];
    ExpectCurve(*l->filter,
                [&](int v) {
                  const double x = v > c[0] ? (v - c[0]) / span : 0;
                  return Clamp255(Round(255 * std::pow(x, gamma)));
                },
                "levels " + std::to_string(c[0]) + "/" + std::to_string(c[1]));
  }
  auto ten = Load("Levels", "Med=-100\n");
  EXPECT_DOUBLE_EQ(static_cast<TLevelsGenerator&>(*ten->filter).Gamma(), 10);
  // Black point above the white point: no NaN, everything goes black.
  ExpectCurve(*Load("Levels", "Min=200\nMax=100\n")->filter, [](int) { return 0; }, "inverted");
}

// Worked out by hand from the documented formulas (pixels as B, G, R):
// A = [Amount / 100 x 256]; Y = (R x 13933 + G x 46871 + B x 7471) >> 16;
// targets t = (Y x k) >> 7 ("Colorization"), k x c / 256 ("Colorisation2"),
// min(255, (k x c) >> 7) ("Colorisation3"); c + ((A x (t - c)) >> 8), a
// negative product taking 255 before the shift, capped at 255. For example
// Colorization of (10, 200, 90) at Amount 37 with 155,130,99: A = 95,
// Y = 163; green t = 165, 200 + ((95 x -35 + 255) >> 8) = 200 - 12 = 188.
TEST(ObjectFilter, ColorisationsByHand) {
  const std::vector<TPx> in = {{10, 200, 90}, {255, 255, 255}, {0, 0, 255}, {77, 128, 31}};
  struct TCase {
    const char* name;
    const char* keys;
    std::vector<TPx> want;
  } cases[] = {
      {"Colorization",
       "Color=155,130,99\nAmount=37\n",
       {{53, 188, 129}, {237, 255, 255}, {15, 20, 185}, {78, 121, 66}}},
      {"Colorization",
       "Color=155,130,99\nAmount=100\n",
       {{126, 165, 197}, {204, 255, 255}, {41, 54, 65}, {81, 107, 128}}},
      {"Colorisation2",
       "Color=#9B8263\nAmount=37\n",
       {{8, 164, 77}, {197, 209, 218}, {0, 0, 218}, {60, 105, 27}}},
      {"Colorisation2",
       "Color=#9B8263\nAmount=100\n",
       {{3, 101, 54}, {98, 129, 154}, {0, 0, 154}, {29, 65, 18}}},
      {"Colorisation3",
       "Color=#6B7EF2\nAmount=37\n",
       {{12, 199, 85}, {255, 254, 240}, {0, 0, 240}, {102, 128, 29}}},
      {"Colorisation3",
       "Color=107,126,242\nAmount=100\n",
       {{18, 196, 75}, {255, 251, 213}, {0, 0, 213}, {145, 126, 25}}},
  };
  for (const TCase& c : cases) {
    const std::vector<TPx> out = Filtered(*Load(c.name, c.keys)->filter, in);
    for (size_t i = 0; i < in.size(); ++i) {
      EXPECT_EQ(out[i].b, c.want[i].b) << c.name << " " << c.keys << " pixel " << i;
      EXPECT_EQ(out[i].g, c.want[i].g) << c.name << " " << c.keys << " pixel " << i;
      EXPECT_EQ(out[i].r, c.want[i].r) << c.name << " " << c.keys << " pixel " << i;
    }
  }
}

// Per-channel filters at a few values, by hand: "BrightContrast" bright 40,
// contrast 50: a = 50 x pi x 0.0025, k = 1 / tan(a) = 2.41421,
// d = ((1 - k) x 0.5 + k x 40 / 255) x 255 = -83.744, [c x k + d]; bright
// -20, contrast -60: k = 0.32492, d = 79.574. "Levels" 30 / 40 / 220:
// gamma 60 / 140, [((c - 30) / 190)^gamma x 255]; 10 / -50 / 200: gamma 3.
TEST(ObjectFilter, LinesAndLevelsByHand) {
  struct TCase {
    const char* name;
    const char* keys;
    std::vector<std::pair<int, int>> points;  // value in, value out
  } cases[] = {
      {"BrightContrast",
       "bright=40\ncontrast=50\n",
       {{0, 0}, {64, 71}, {100, 158}, {200, 255}, {255, 255}}},
      {"BrightContrast",
       "bright=-20\ncontrast=-60\n",
       {{0, 80}, {64, 100}, {100, 112}, {200, 145}, {255, 162}}},
      {"Levels",
       "Min=30\nMed=40\nMax=220\n",
       {{0, 0}, {30, 0}, {100, 166}, {125, 189}, {220, 255}, {255, 255}}},
      {"Levels",
       "Min=10\nMed=-50\nMax=200\n",
       {{0, 0}, {30, 0}, {100, 27}, {125, 57}, {220, 255}, {255, 255}}},
  };
  for (const TCase& c : cases) {
    std::vector<TPx> in;
    for (const auto& p : c.points) in.push_back({p.first, p.first, p.first});
    const std::vector<TPx> out = Filtered(*Load(c.name, c.keys)->filter, in);
    for (size_t i = 0; i < in.size(); ++i) {
      EXPECT_EQ(out[i].b, c.points[i].second) << c.name << " " << c.keys << " at " << in[i].b;
      EXPECT_EQ(out[i].r, c.points[i].second) << c.name << " " << c.keys << " at " << in[i].b;
    }
  }
}

TEST(ObjectFilter, ColorisationEdgeCases) {
  // Grey 128 at full amount is the luminance; amount 0 changes nothing.
  auto grey = Load("Colorization", "Color=128,128,128\nAmount=100\n");
  for (const TPx& p : Filtered(*grey->filter, {{10, 200, 90}, {255, 255, 255}, {0, 0, 255}})) {
    EXPECT_EQ(p.b, p.g);
    EXPECT_EQ(p.g, p.r);
  }
  EXPECT_EQ(Filtered(*grey->filter, {{0, 0, 255}})[0].r, (255 * 13933) >> 16);
  const std::vector<TPx> in = Ramp();
  const std::vector<TPx> same = Filtered(*Load("Colorization", "Amount=0\n")->filter, in);
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(same[i].r, in[i].r);
}

// A floating-point HSL to compare the integer one with.
void FloatHslShift(double& r, double& g, double& b, double dh, double ds, double dl) {
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  double h = 0, s = 0, l = (mx + mn) / 2;
  if (mx > mn) {
    const double d = mx - mn;
    s = l < 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
    h = mx == r ? (g - b) / d : mx == g ? 2 + (b - r) / d : 4 + (r - g) / d;
    h = std::fmod(h / 6 + 1, 1);
  }
  h = std::fmod(h + dh + 1, 1);
  s = std::clamp(s + ds, 0.0, 1.0), l = std::clamp(l + dl, 0.0, 1.0);
  const double q = l < 0.5 ? l * (1 + s) : l + s - l * s, p = 2 * l - q;
  auto ch = [&](double t) {
    t = std::fmod(t + 1, 1);
    return t < 1.0 / 6 ? p + (q - p) * 6 * t : t < 0.5 ? q : t < 2.0 / 3 ? p + (q - p) * (4 - 6 * t) : p;
  };
  r = ch(h + 1.0 / 3), g = ch(h), b = ch(h - 1.0 / 3);
}

TEST(ObjectFilter, HslAgainstFloatingPoint) {
  const int cases[][3] = {{0, 0, 0}, {120, 0, 0}, {-90, 30, 0}, {45, -100, 10}, {180, 20, -40},
                          {0, 0, 100}, {0, 0, -100}};
  for (const auto& c : cases) {
    auto l = Load("HSL", "Hue=" + std::to_string(c[0]) + "\nSaturation=" + std::to_string(c[1]) +
                             "\nLightness=" + std::to_string(c[2]) + "\n");
    std::vector<TPx> in;
    for (int n = 0; n < 256; ++n)
      for (int other : {0, 64, 200}) in.push_back({n, other, 255 - n}), in.push_back({other, n, 40});
    const std::vector<TPx> out = Filtered(*l->filter, in);
    int worst = 0;
    for (size_t i = 0; i < in.size(); ++i) {
      double r = in[i].r / 255.0, g = in[i].g / 255.0, b = in[i].b / 255.0;
      FloatHslShift(r, g, b, c[0] / 360.0, c[1] / 100.0, c[2] / 100.0);
      worst = std::max({worst, std::abs(out[i].r - int(r * 255 + 0.5)),
                        std::abs(out[i].g - int(g * 255 + 0.5)),
                        std::abs(out[i].b - int(b * 255 + 0.5))});
    }
    // A shift of whole hue steps (1.4 degrees) moves a channel by up to two levels.
    EXPECT_LE(worst, c[0] == 0 && c[1] == 0 && c[2] == 0 ? 0 : 2)
        << "hue " << c[0] << " sat " << c[1] << " light " << c[2];
  }
  auto white = Load("HSL", "Lightness=100\n");
  for (const TPx& p : Filtered(*white->filter, Ramp())) EXPECT_EQ(p.r + p.g + p.b, 765);
  // Greys carry no hue.
  auto hue = Load("HSL", "Hue=77\n");
  for (const TPx& p : Filtered(*hue->filter, {{90, 90, 90}, {0, 0, 0}})) EXPECT_EQ(p.r, p.b);
  // Unshifted, every colour comes back as it was.
  int r, g, b, worst = 0;
  for (int c = 0; c < (1 << 24); c += 7) {
    HslToRgb(RgbToHsl(c & 255, (c >> 8) & 255, c >> 16), r, g, b);
    worst = std::max({worst, std::abs(r - (c & 255)), std::abs(g - ((c >> 8) & 255)),
                      std::abs(b - (c >> 16))});
  }
  EXPECT_EQ(worst, 0);
}

TEST(ObjectFilter, HostileParametersClamp) {
  auto levels = Load("Levels", "Min=-50\nMed=1e9\nMax=9999\n");
  EXPECT_EQ(levels->filter->GetParam(0), "0");
  EXPECT_EQ(levels->filter->GetParam(1), "100");
  EXPECT_EQ(levels->filter->GetParam(2), "255");
  EXPECT_FALSE(levels->filter->ParamsFailed());
  EXPECT_DOUBLE_EQ(static_cast<TLevelsGenerator&>(*levels->filter).Gamma(), 0.1);

  auto words = Load("BrightContrast", "bright=lots\ncontrast=12.6\n");
  EXPECT_TRUE(words->filter->ParamsFailed());
  EXPECT_EQ(words->filter->GetParam(0), "0");
  EXPECT_EQ(words->filter->GetParam(1), "13");

  auto colour = Load("Colorization", "Color=#12G456\nAmount=-4\n");
  EXPECT_TRUE(colour->filter->ParamsFailed());
  EXPECT_EQ(colour->filter->GetParam(0), "128,128,128");
  EXPECT_EQ(colour->filter->GetParam(1), "0");
  auto parts = Load("Colorisation3", "Color= 300 , -5, 7\n");
  EXPECT_EQ(parts->filter->GetParam(0), "255,0,7");
  EXPECT_FALSE(parts->filter->SetParam(0, "1,2"));
  EXPECT_TRUE(parts->filter->SetParam(0, "#0a0B0c"));
  EXPECT_EQ(parts->filter->GetParam(0), "10,11,12");
  EXPECT_FALSE(parts->filter->SetParam(5, "1"));

  auto hsl = Load("HSL", "Hue=-720\nSaturation=nan\nLightness=inf\n");
  EXPECT_EQ(hsl->filter->GetParam(0), "-180");
  EXPECT_EQ(hsl->filter->GetParam(1), "0");
  EXPECT_EQ(hsl->filter->GetParam(2), "0");
  EXPECT_TRUE(hsl->filter->ParamsFailed());
}

TEST(ObjectFilter, Registry) {
  for (const std::string& name : FilterNames()) EXPECT_TRUE(CreateFilter(name)) << name;
  EXPECT_TRUE(CreateFilter(" levels"));
  EXPECT_FALSE(CreateFilter("Mod"));
  EXPECT_FALSE(CreateFilter(""));
}

// A value modifier as far as chains are concerned.
class TValueProbe : public TObjectFilter {
 public:
  TValueProbe() : TObjectFilter("probe") {}
  void Apply(uint8_t*, int, int, size_t) const override {}
  bool LoadParams(const TIniList*) override { return true; }
  TFilterKind Kind() const override { return TFilterKind::Value; }
  const TFilterParamInfoArray& ParamInfo() const override {
    static const TFilterParamInfoArray none;
    return none;
  }
  std::string GetParam(int) const override { return {}; }
  bool SetParam(int, std::string_view) override { return false; }
};

TEST(ObjectFilter, ChainKindsAndTheMixedChainRule) {
  TFilterChain chain;
  EXPECT_EQ(chain.Kind(), TFilterKind::None);
  auto hsl = CreateFilter("HSL");
  chain.Add(CreateFilter("Levels"));
  chain.Add(hsl);
  EXPECT_EQ(chain.Kind(), TFilterKind::Cross);
  hsl->SetDisabled(true);
  EXPECT_EQ(chain.Kind(), TFilterKind::PerChannel);
  EXPECT_EQ(chain.Check(), "");
  chain.Add(MakeRef<TValueProbe>());
  EXPECT_EQ(chain.Check(), "Error: Value filters can`t be combined");

  // Applied oldest first, skipping disabled ones: invert then threshold.
  TFilterChain order;
  auto skipped = CreateFilter("Invert");
  skipped->SetDisabled(true);
  order.Add(skipped);
  order.Add(CreateFilter("Invert"));
  auto threshold = Load("BrightContrast", "contrast=100\nbright=-60\n");
  order.Add(threshold->filter);
  // 100: inverted 155, under the threshold (188) -> 0; the other order gives 255.
  // 30: inverted 225 -> 255; with the disabled one applied too it would be 0.
  uint8_t px[4] = {100, 30, 0, 9};
  order.Apply(px, 1, 1, 4);
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[1], 255);
  EXPECT_EQ(px[2], 255);
  EXPECT_EQ(px[3], 255);
}

}  // namespace
}  // namespace lum
