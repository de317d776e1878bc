// Colour filters: every formula over all channel values against a separate
// computation, parameter clamping, the registry, chains and reuse.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
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

// The three colourisations differ only in the target they pull towards.
void ExpectColorisation(const std::string& name, int amount, int cr, int cg, int cb,
                        const std::function<int(int c, int k, int y)>& target) {
  char keys[80];
  std::snprintf(keys, sizeof keys, "Color=#%02X%02X%02X\nAmount=%d\n", cr, cg, cb, amount);
  auto l = Load(name, keys);
  const int a = Round(amount * 2.56);
  // Every value of each channel, the others at a few levels.
  std::vector<TPx> in;
  for (int other : {0, 77, 255})
    for (int n = 0; n < 256; ++n) in.push_back({n, other, 255 - n}), in.push_back({other, n, n / 2});
  const std::vector<TPx> out = Filtered(*l->filter, in);
  for (size_t i = 0; i < in.size(); ++i) {
    const TPx p = in[i];
    const int y = (p.r * 13933 + p.g * 46871 + p.b * 7471) / 65536;
    auto pull = [&](int c, int k) {
      // Towards the target by a/256 of the way, truncated towards zero.
      return std::min(255, c + a * (target(c, k, y) - c) / 256);
    };
    ASSERT_EQ(out[i].b, pull(p.b, cb)) << name << " pixel " << i;
    ASSERT_EQ(out[i].g, pull(p.g, cg)) << name << " pixel " << i;
    ASSERT_EQ(out[i].r, pull(p.r, cr)) << name << " pixel " << i;
  }
}

TEST(ObjectFilter, Colorisations) {
  auto lum = [](int, int k, int y) { return y * k / 128; };
  auto mul = [](int c, int k, int) { return c * k / 256; };
  auto dbl = [](int c, int k, int) { return std::min(255, c * k / 128); };
  for (int amount : {0, 37, 100}) {
    ExpectColorisation("Colorization", amount, 155, 130, 99, lum);
    ExpectColorisation("Colorisation2", amount, 155, 130, 99, mul);
    ExpectColorisation("Colorisation3", amount, 0x6B, 0x7E, 0xF2, dbl);
  }
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
