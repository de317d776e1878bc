// Generated shows through the frame driver that lumshow render and the
// export use: every built-in family and variant between red and blue
// slides, and slide-based transitions of each "CustomEffBg" kind.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "effects/real_slide_filter.h"
#include "engine/offline_frame_driver.h"
#include "imaging/bitmap.h"
#include "imaging/image_fixtures.h"
#include "model/lum_slide_host.h"
#include "project/lum_source.h"
#include "render/3d_drawer.h"
#include "render/gl_fixture.h"
#include "render/root_item.h"
#include "render/slide_drawer.h"
#include "support/player_shows.h"
#include "support/temp_dir.h"
#include "transitions/transition_shows.h"

namespace lum {
namespace {

using test::kStepMs;
using test::kTransitionMs;

constexpr int kW = 160, kH = 120;

struct TCount {
  int red = 0, blue = 0, other = 0;
  int total() const { return red + blue + other; }
};

TCount Count(const TBitmap& b) {
  TCount c;
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) {
      const uint8_t* p = b.Row(y) + 4 * x;
      const int r = p[2], g = p[1], bl = p[0];
      if (r > 230 && bl < 25 && g < 25)
        ++c.red;
      else if (bl > 230 && r < 25 && g < 25)
        ++c.blue;
      else
        ++c.other;
    }
  }
  return c;
}

// The frame driver over a show; null, and the test failed, when it cannot be
// made: with the offscreen driver there is always a device to draw on.
std::unique_ptr<TOfflineFrameDriver> MakeDriver(TLumSource& source) {
  try {
    return std::make_unique<TOfflineFrameDriver>(source, kW, kH);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
    return nullptr;
  }
}

class TransitionShows : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("SDL_VIDEODRIVER"))
      GTEST_SKIP() << "headless drawing needs the offscreen driver";
  }
};

TEST_F(TransitionShows, EveryFamilyAndVariantRendersBetweenItsSlides) {
  const auto steps = test::EveryBuiltInTransition();
  test::TShowFiles show(test::TransitionShowText(steps));
  auto driver = MakeDriver(show.Source());
  ASSERT_TRUE(driver);
  ASSERT_TRUE(show.Source().Rotation().Deterministic());
  for (size_t i = 0; i < steps.size(); ++i) {
    const int incoming = int(i) + 1;
    const double start = incoming * kStepMs;
    const bool inRed = incoming % 2 == 0;
    auto frame = [&](double ms) { return Count(*driver->Render(ms)); };
    const TCount p0 = frame(start), mid = frame(start + 0.4 * kTransitionMs),
                 late = frame(start + 0.97 * kTransitionMs), after = frame(start + kTransitionMs);
    const int all = kW * kH;
    const std::string& name = steps[i].name;
    // The outgoing slide whole at the start, the incoming one at the end.
    EXPECT_GT(inRed ? p0.blue : p0.red, all * 95 / 100) << name;
    EXPECT_EQ(inRed ? after.red : after.blue, all) << name;
    // On the way both show, or the one that is moving does not fill the frame.
    const int outCount = inRed ? mid.blue : mid.red, inCount = inRed ? mid.red : mid.blue;
    EXPECT_LT(outCount, all * 98 / 100) << name;
    if (steps[i].family != "flip" && steps[i].family != "swap") {
      EXPECT_GT(inCount + mid.other, all * 2 / 100) << name;
    }
    // Nearly done: mostly the incoming slide (flip turns it edge-on at the
    // end, swap brings it from the depth).
    const int lateIn = inRed ? late.red : late.blue;
    EXPECT_GT(lateIn, all * 50 / 100) << name;
  }
}

TEST_F(TransitionShows, SlideBasedEffectsBorrowByCustomEffBg) {
  test::TShowFiles show(test::CustomTransitionShowText());
  auto driver = MakeDriver(show.Source());
  ASSERT_TRUE(driver);
  auto at = [&](int slide, double p, int x, int y) {
    TRef<TBitmap> b = driver->Render(slide * kStepMs + p * kTransitionMs);
    const uint8_t* q = b->Row(y) + 4 * x;
    return std::array<int, 3>{q[2], q[1], q[0]};
  };
  auto near = [](std::array<int, 3> got, std::array<int, 3> want, int tol) {
    for (int i = 0; i < 3; ++i)
      if (std::abs(got[size_t(i)] - want[size_t(i)]) > tol) return false;
    return true;
  };
  const std::array<int, 3> red{255, 0, 0}, blue{0, 0, 255}, green{0, 255, 0}, white{255, 255, 255};
  // 0: the effect's own green, the incoming (blue) picture growing from the
  // centre: at half time it covers the middle half of each side.
  EXPECT_TRUE(near(at(1, 0.5, 80, 60), blue, 8));
  EXPECT_TRUE(near(at(1, 0.5, 4, 4), green, 8));
  EXPECT_TRUE(near(at(1, 0.05, 100, 60), green, 8));
  EXPECT_TRUE(near(at(1, 0.05, 80, 60), blue, 8));
  // 1: the outgoing slide's background under the effect's own box.
  EXPECT_TRUE(near(at(2, 0.5, 4, 4), blue, 4));  // slide 1 is blue
  EXPECT_TRUE(near(at(2, 0.5, 80, 60), white, 4));
  // 2: the incoming slide's background from the first frame, and the
  // outgoing slide's picture in its effect buffer.
  EXPECT_TRUE(near(at(3, 0.01, 150, 110), blue, 4));  // slide 3 is blue
  EXPECT_TRUE(near(at(3, 0.5, 80, 60), white, 4));
  EXPECT_TRUE(near(at(3, 0.5, 20, 15), red, 4));  // slide 2 is red
  EXPECT_TRUE(near(at(3, 0.5, 50, 15), blue, 4));
  // 3: the outgoing background with the incoming one over it by progress.
  EXPECT_TRUE(near(at(4, 0.5, 4, 4), {128, 0, 127}, 6));  // blue going, red coming
  EXPECT_TRUE(near(at(4, 0.0, 4, 4), blue, 4));
  EXPECT_TRUE(near(at(4, 0.5, 80, 60), white, 4));
  // No section: a cross-fade.
  EXPECT_TRUE(near(at(5, 0.5, 4, 4), {127, 0, 128}, 6));
}

TEST_F(TransitionShows, ATransitionWithoutAnEnabledVariantShowsTheIncomingSlideAtOnce) {
  // "gates" with no direction set: no transition, though its time still
  // counts on the timeline.
  test::TShowFiles show(
      test::TransitionShowText({{"gates none", "ref=gates\ndirection=00000000\n", "gates"},
                                {"dissolve", "ref=dissolve\nchecked=1\n", "dissolve"}}));
  auto driver = MakeDriver(show.Source());
  ASSERT_TRUE(driver);
  const TCount none = Count(*driver->Render(kStepMs + 0.3 * kTransitionMs));
  EXPECT_EQ(none.blue, kW * kH);
  const TCount fade = Count(*driver->Render(2 * kStepMs + 0.5 * kTransitionMs));
  EXPECT_EQ(fade.other, kW * kH);
}

TEST_F(TransitionShows, EffectTimeMapsOntoTheTransition) {
  test::TShowFiles show(test::CustomTransitionShowText());
  auto driver = MakeDriver(show.Source());
  ASSERT_TRUE(driver);
  TSlideProducer& producer = driver->Producer();
  TRef<TDrawContainer> out = producer.Produce(0), in = producer.Produce(1);
  ASSERT_TRUE(in && in->transition.effect && in->transition.effect->section);
  auto f = TRealSlideFilter::Create(*in, *in->transition.effect->section);
  ASSERT_TRUE(f);
  f->Setup(*out, *in);
  f->Initialize({0, 0, kW, kH}, 0, kTransitionMs);
  EXPECT_EQ(f->CustomEffBg(), 0);
  EXPECT_FALSE(f->TransparentBg());
  EXPECT_DOUBLE_EQ(f->EffectTime(), 2000);
  for (double p : {0.0, 0.25, 0.5, 1.0}) {
    f->SetTime(p * kTransitionMs);
    EXPECT_DOUBLE_EQ(f->SlideTime(), p * 2000);
    EXPECT_DOUBLE_EQ(f->EffectSlide().CurrentTime(), p * 2000);
  }
  EXPECT_TRUE(f->EffectSlide().ServesAsEffect());
}

// The largest step between a pixel and its eight neighbours: the ramps
// rise a level or two per pixel, so a large step is an outline.
int LocalStep(const test::TPixels& p, int x, int y) {
  int step = 0;
  const test::TRgb c = p.At(x, y);
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int nx = std::clamp(x + dx, 0, p.width - 1), ny = std::clamp(y + dy, 0, p.height - 1);
      const test::TRgb n = p.At(nx, ny);
      step = std::max({step, std::abs(c.r - n.r), std::abs(c.g - n.g), std::abs(c.b - n.b)});
    }
  return step;
}

// Pictures of 400 x 240 (covering a 320 x 240 slide crops their sides),
// ramps in every channel; k tells the even and odd slides' apart.
std::string RampPicture(int k, bool withAlpha = false) {
  test::TPixels p;
  p.width = 400;
  p.height = 240;
  p.px.resize(size_t(p.width) * p.height);
  std::vector<uint8_t> alpha;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      p.At(x, y) = k ? test::TRgb{uint8_t(255 - y), uint8_t(x / 2), uint8_t(40 + y / 2)}
                     : test::TRgb{uint8_t(x / 2), uint8_t(y), uint8_t(200 - y / 2)};
      alpha.push_back(x < 20 ? 128 : 255);
    }
  if (!withAlpha) return test::WriteBmp(p, {});
  test::TBmpSpec spec;
  spec.bits = 32;
  spec.masks32 = {0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
  spec.alpha = alpha;
  return test::WriteBmp(p, spec);
}

// A show over files in a folder of its own, rendered by the frame driver.
class PictureShow {
 public:
  explicit PictureShow(const std::string& text) {
    dir_.Write("even.bmp", RampPicture(0));
    dir_.Write("odd.bmp", RampPicture(1));
    dir_.Write("alpha.bmp", RampPicture(0, true));
    doc_.LoadText(text);
    auto accessor =
        MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(dir_.Path()), dir_.Path() + "/");
    source_ = std::make_unique<TLumSource>(accessor, doc_, TLumSourceSettings{"x", 1});
  }
  std::unique_ptr<TOfflineFrameDriver> Driver() { return MakeDriver(*source_); }

 private:
  test::TTempDir dir_;
  TIniFile doc_;
  std::unique_ptr<TLumSource> source_;
};

TEST_F(TransitionShows, EffectSlidesAreMadeAheadAndTakenOnce) {
  PictureShow show(test::CustomTransitionShowText());
  auto driver = show.Driver();
  ASSERT_TRUE(driver);
  TSlideProducer& producer = driver->Producer();
  // Slide 5 names a custom transition without a section.
  TRef<TDrawContainer> plain = producer.Produce(5), in = producer.Produce(1);
  PrepareSlideEffect(*plain);
  EXPECT_FALSE(plain->preparedEffect);
  PrepareSlideEffect(*in);
  ASSERT_TRUE(in->preparedEffect);
  auto f = TakePreparedSlideEffect(*in);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->EffectTime(), 2000);
  EXPECT_FALSE(TakePreparedSlideEffect(*in));
  // Made for another window: made anew on the first frame instead.
  PrepareSlideEffect(*in);
  TLumSlideHost& host = *in->slide->GetHost();
  const TRectF view = host.View(), area = host.Area();
  host.SetView({0, 0, view.right * 2, view.bottom * 2}, area);
  EXPECT_FALSE(TakePreparedSlideEffect(*in));
  host.SetView(view, area);
}

// A frame drawn both ways: pixels more than 2 levels apart inside the
// slides and on outlines.
struct TWaysApart {
  int inside = 0, outline = 0, worst = 0;
};

TWaysApart DrawnBothWays(TOfflineFrameDriver& driver, double t) {
  SetDirectSlideSources(false);
  const test::TPixels viaTargets = test::FromBitmap(*driver.Render(t));
  SetDirectSlideSources(true);
  const test::TPixels direct = test::FromBitmap(*driver.Render(t));
  TWaysApart r;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const test::TRgb a = direct.At(x, y), b = viaTargets.At(x, y);
      const int d = std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
      if (d <= 2) continue;
      const bool border = x == 0 || y == 0 || x == kW - 1 || y == kH - 1;
      if (border || LocalStep(viaTargets, x, y) > 12 || LocalStep(direct, x, y) > 12) {
        ++r.outline;
      } else {
        ++r.inside;
        r.worst = std::max(r.worst, d);
      }
    }
  return r;
}

// The slides of the root item sampled directly or drawn into targets first
// look the same: every family and variant between picture slides. On a
// moving slide's outline (and the frame's edge) the target path blends in
// what lies past the slide in the target, the direct one the picture's
// cropped part: only there may they differ.
TEST_F(TransitionShows, PictureSlidesLookTheSameSampledDirectly) {
  const auto steps = test::EveryBuiltInTransition();
  PictureShow show(test::PictureTransitionShowText(steps));
  auto driver = show.Driver();
  ASSERT_TRUE(driver);
  int outlines = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    for (double p : {0.3, 0.7}) {
      const TWaysApart r = DrawnBothWays(*driver, double(i + 1) * kStepMs + p * kTransitionMs);
      EXPECT_EQ(r.inside, 0) << steps[i].name << " at " << p << ": worst " << r.worst;
      EXPECT_LE(r.outline, 2 * (kW + kH)) << steps[i].name << " at " << p;
      outlines += r.outline;
    }
  }
  // Had no frame sampled a picture directly, nothing would differ at all.
  EXPECT_GT(outlines, 0);
}

// Slide-based effects show picture slides in their effect buffers, and
// beneath transparent effects, the same either way.
TEST_F(TransitionShows, EffectBuffersLookTheSameSampledDirectly) {
  PictureShow show(test::CustomTransitionShowText(true));
  auto driver = show.Driver();
  ASSERT_TRUE(driver);
  for (int slide = 1; slide <= 5; ++slide)
    for (double p : {0.3, 0.7}) {
      const TWaysApart r = DrawnBothWays(*driver, slide * kStepMs + p * kTransitionMs);
      EXPECT_EQ(r.inside, 0) << "slide " << slide << " at " << p << ": worst " << r.worst;
      EXPECT_LE(r.outline, 2 * (kW + kH)) << "slide " << slide << " at " << p;
    }
}


// Only a slide that is one opaque, unturned picture over the whole area,
// with nothing over it, is sampled directly; its map shows the cropped part.
TEST_F(TransitionShows, OnlyASoleOpaqueCoveringPictureIsSampledDirectly) {
  const std::string box = "object B:Box\nGUID={8}\nSize=40,40\nFitMode=None\nend\n";
  const std::vector<std::pair<std::string, bool>> slides = {
      {test::CoverPicture("even.bmp"), true},
      {box + test::CoverPicture("even.bmp"), true},  // hidden beneath
      {test::CoverPicture("even.bmp") + box, false},
      {test::CoverPicture("even.bmp", "", "Opacity=50\n"), false},
      {test::CoverPicture("even.bmp", "", "Angle=5\n"), false},
      {test::CoverPicture("even.bmp", "", "Blur=3\n"), false},
      {test::CoverPicture("alpha.bmp"), false},
      {test::CoverPicture("even.bmp", "", "ScaleX=50\nScaleY=50\n"), false},
  };
  std::string text =
      "[Main]\nMinorVersion=13\nopt_scr_width=320\nopt_scr_height=240\n[Times]\n"
      "opt_slidescount=" +
      std::to_string(slides.size()) + "\n";
  for (size_t i = 0; i < slides.size(); ++i)
    text += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string((i + 1) * 1000) + "\n";
  for (size_t i = 0; i < slides.size(); ++i)
    text += "[Slide" + std::to_string(i + 1) + "]\nbstyle=1\nbcolor=0\nobject Container:Root\n" +
            slides[i].first + "end\n";
  PictureShow show(text);
  auto driver = show.Driver();
  ASSERT_TRUE(driver);
  for (size_t i = 0; i < slides.size(); ++i) {
    TRef<TDrawContainer> c = driver->Producer().Produce(int64_t(i));
    ASSERT_TRUE(c && c->slide) << i;
    c->slide->SetTimeAndLayout(true, c->record.start + 10);
    TSlideSource s;
    TFnItem item([&](T3DDrawer& d) { s = SolePicture(d, *c->slide, driver->Slide()); });
    ASSERT_TRUE(driver->Drawer().DrawItem(item));
    EXPECT_EQ(bool(s), slides[i].second) << "slide " << i;
    if (!s || i > 0) continue;
    // 5 : 3 over 4 : 3: the middle 80 % of the picture's width, all its height.
    const double w = s.texture->Width(), h = s.texture->Height();
    EXPECT_NEAR(s.U(0), 0.1 * w, 0.5);
    EXPECT_NEAR(s.U(kW), 0.9 * w, 0.5);
    EXPECT_NEAR(s.V(0), 0, 0.5);
    EXPECT_NEAR(s.V(kH), h, 0.5);
    EXPECT_TRUE(s.opaque);
  }
}

}  // namespace
}  // namespace lum
