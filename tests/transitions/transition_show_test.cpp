// Generated shows through the frame driver that lumshow render and the
// export use: every built-in family and variant between red and blue
// slides, and slide-based transitions of each "CustomEffBg" kind.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "engine/offline_frame_driver.h"
#include "imaging/bitmap.h"
#include "transitions/effects/real_slide_filter.h"
#include "project/lum_source.h"
#include "render/root_item.h"
#include "support/player_shows.h"
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
  std::unique_ptr<TOfflineFrameDriver> driver;
  try {
    driver = std::make_unique<TOfflineFrameDriver>(show.Source(), kW, kH);
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
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
    if (steps[i].family != "flip" && steps[i].family != "swap")
      EXPECT_GT(inCount + mid.other, all * 2 / 100) << name;
    // Nearly done: mostly the incoming slide (flip turns it edge-on at the
    // end, swap brings it from the depth).
    const int lateIn = inRed ? late.red : late.blue;
    EXPECT_GT(lateIn, all * 50 / 100) << name;
  }
}

TEST_F(TransitionShows, SlideBasedEffectsBorrowByCustomEffBg) {
  test::TShowFiles show(test::CustomTransitionShowText());
  std::unique_ptr<TOfflineFrameDriver> driver;
  try {
    driver = std::make_unique<TOfflineFrameDriver>(show.Source(), kW, kH);
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
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
  std::unique_ptr<TOfflineFrameDriver> driver;
  try {
    driver = std::make_unique<TOfflineFrameDriver>(show.Source(), kW, kH);
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
  const TCount none = Count(*driver->Render(kStepMs + 0.3 * kTransitionMs));
  EXPECT_EQ(none.blue, kW * kH);
  const TCount fade = Count(*driver->Render(2 * kStepMs + 0.5 * kTransitionMs));
  EXPECT_EQ(fade.other, kW * kH);
}

TEST_F(TransitionShows, EffectTimeMapsOntoTheTransition) {
  test::TShowFiles show(test::CustomTransitionShowText());
  std::unique_ptr<TOfflineFrameDriver> driver;
  try {
    driver = std::make_unique<TOfflineFrameDriver>(show.Source(), kW, kH);
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
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

}  // namespace
}  // namespace lum
