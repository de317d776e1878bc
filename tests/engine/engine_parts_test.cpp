// The engine's pieces without a window: the clock smoothing, the slide cache
// around a show time, the slide rectangle and the window the show asks for.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "container/file_accessor.h"
#include "document/ini_file.h"
#include "engine/frame_interpolator.h"
#include "engine/slide_loader.h"
#include "model/lum_slide.h"
#include "project/lum_source.h"
#include "support/player_shows.h"

namespace lum {
namespace {

TEST(FrameInterpolator, PassesTheFirstValuesAndSteadyStepsUnchanged) {
  TFrameInterpolator f;
  // Irregular inputs: the warm-up and the history filling pass them as they are.
  for (int i = 0; i < 48; ++i) {
    const double x = i * 16.0 + (i % 3) * 5;
    EXPECT_EQ(f.Next(x), x) << i;
  }
  TFrameInterpolator steady;
  for (int i = 0; i < 200; ++i) EXPECT_NEAR(steady.Next(i * 16.0), i * 16.0, 1e-9) << i;
}

TEST(FrameInterpolator, SmoothsJitterAndPassesStraightWhileDirect) {
  TFrameInterpolator f;
  double worst = 0;
  for (int i = 0; i < 400; ++i) {
    // An audio clock that moves in 10 ms blocks under 16 ms frames.
    const double truth = i * 16.0, raw = std::floor(truth / 10) * 10;
    const double out = f.Next(raw);
    if (i > 100) worst = std::max(worst, std::fabs(out - truth));
  }
  EXPECT_LT(worst, 8.0);
  // Uneven frames (a long one now and then) never leave the sound behind.
  TFrameInterpolator uneven;
  double x = 0, furthest = 0;
  for (int i = 0; i < 400; ++i) {
    x += i % 50 == 49 ? 600 : (i % 2 ? 2 : 40);
    furthest = std::max(furthest, std::fabs(uneven.Next(x) - x));
  }
  EXPECT_LE(furthest, TFrameInterpolator::kMaxDeviation);
  EXPECT_GE(furthest, TFrameInterpolator::kMaxDeviation - 1e-9);  // it had to hold it back
  f.SetDirect();
  EXPECT_EQ(f.Next(123456), 123456);
  EXPECT_EQ(f.Next(5), 5);
  // One more value passes after the release, then smoothing resumes.
  f.Release();
  EXPECT_EQ(f.Next(100000), 100000);
  EXPECT_FALSE(f.Direct());
  EXPECT_NE(f.Next(100030), 100030);
}

TEST(SlideCache, WindowAndRangeDuringATransition) {
  test::TShowFiles show(test::SlideShowText(10, 1000, 500, false));
  TLumSource& source = show.Source();
  // Slide 5 (0-based) started at 5000; slide 4 stays visible until 5500.
  EXPECT_EQ(SlidesOfTheMoment(source, 5200), (std::vector<int64_t>{4, 5}));
  EXPECT_EQ(SlidesOfTheMoment(source, 5600), (std::vector<int64_t>{5}));
  EXPECT_EQ(SlidesOfTheMoment(source, 0), (std::vector<int64_t>{-1, 0}));
  TSlideCache cache(MakeRef<TSlideProducer>(source), source, 3);
  EXPECT_EQ(cache.Range(5200), (std::pair<int64_t, int64_t>{4, 6}));
  // The nearest missing slide first, one per update; at most three held.
  std::vector<size_t> sizes;
  cache.onSetChanged = [&](const TSlideSet& s) { sizes.push_back(s.size()); };
  EXPECT_TRUE(cache.Update(5200));
  ASSERT_EQ(cache.Slides().size(), 1u);
  EXPECT_EQ(cache.Slides()[0]->index, 4);
  while (cache.Update(5200)) {
  }
  ASSERT_EQ(cache.Slides().size(), 3u);
  EXPECT_EQ(cache.Slides()[2]->index, 6);
  EXPECT_EQ(sizes, (std::vector<size_t>{1, 2, 3}));
  // Moving on drops what fell behind before preparing what comes.
  cache.Update(7200);
  EXPECT_EQ(cache.Slides().front()->index, 6);
  while (cache.Update(7200)) {
  }
  EXPECT_EQ(cache.Slides().back()->index, 8);
  EXPECT_THROW(TSlideCache(MakeRef<TSlideProducer>(source), source, 4), EAssertion);
  // A show that does not repeat rests on its last slide and wants nothing past it.
  EXPECT_EQ(SlidesOfTheMoment(source, 10000), (std::vector<int64_t>{9}));
  EXPECT_EQ(SlidesOfTheMoment(source, 25000), (std::vector<int64_t>{9}));
  EXPECT_EQ(cache.Range(8600), (std::pair<int64_t, int64_t>{8, 9}));
  EXPECT_EQ(cache.Wanted(9500), 1);
}

TEST(SlideCache, RepetitionsShiftEveryTime) {
  test::TShowFiles show(test::SlideShowText(10, 1000, 0, true));
  TLumSource& source = show.Source();
  TSlideCache cache(MakeRef<TSlideProducer>(source), source, 3);
  cache.Fill(12000);
  TRef<TDrawContainer> c;
  for (auto& s : cache.Slides())
    if (s->index == 12) c = s;
  ASSERT_TRUE(c);
  EXPECT_EQ(c->slide->Index(), 2);
  EXPECT_EQ(c->offset, 10000);
  EXPECT_EQ(c->record.start, 12000);
  EXPECT_EQ(c->record.end, 13000);
  // Before the show: the blank slide −1 and everything earlier.
  EXPECT_EQ(source.Slide(-1).start, -1073741823.0);
  EXPECT_EQ(source.Slide(-2).end, -1073741823.0);
}

TEST(SlideCache, ASlideThatCannotBeMadeKeepsItsTimeAsABlankSlide) {
  test::TShowFiles show(test::SlideShowText(3, 1000, 0, false, 1, "object NoGuid:Box\nend\n"));
  TLumSource& source = show.Source();
  TSlideCache cache(MakeRef<TSlideProducer>(source), source, 3);
  cache.Fill(1500);
  TDrawContainer* broken = nullptr;
  for (auto& s : cache.Slides())
    if (s->index == 1) broken = s.Get();
  ASSERT_NE(broken, nullptr);
  EXPECT_TRUE(broken->slide);
  EXPECT_NE(broken->failure.find("slide 1 could not be prepared"), std::string::npos)
      << broken->failure;
  EXPECT_EQ(broken->record.start, 1000);
  EXPECT_EQ(broken->record.end, 2000);
}

TEST(SlideRectangle, FitsCentresAndKeepsFixedSizes) {
  auto area = [](const std::string& main, int w, int h) {
    test::TShowFiles show(test::SlideShowText(1, 1000, 0, false, -1, "", main));
    TSlideProducer p(show.Source());
    p.SetFrame(w, h);
    const TPresentationArea a = p.Area();
    return std::vector<int>{a.left, a.top, a.right, a.bottom};
  };
  const std::string fourByThree = "opt_scr_width=800\nopt_scr_height=600\n";
  EXPECT_EQ(area(fourByThree, 1920, 1080), (std::vector<int>{240, 0, 1680, 1080}));
  // Odd widths that fit get one more pixel.
  EXPECT_EQ(area(fourByThree, 1001, 500), (std::vector<int>{166, 0, 834, 500}));
  const std::string fixed = fourByThree + "opt_scr_fullfixedsize=1\n";
  EXPECT_EQ(area(fixed, 1920, 1080), (std::vector<int>{560, 240, 1360, 840}));
  // Too small a window for the design size: fitted instead of cut.
  EXPECT_EQ(area(fixed, 640, 400), (std::vector<int>{53, 0, 587, 400}));
}

TEST(WindowRequest, ModesSizesAndCaptions) {
  auto request = [](const std::string& main) {
    TIniFile doc;
    doc.LoadText("[Main]\n" + main);
    return ReadWindowRequest(doc, 1280, 1024);
  };
  TWindowRequest full = request("");
  EXPECT_EQ(full.ViewerMode(), 0);
  EXPECT_EQ(full.width, 1280);
  EXPECT_EQ(full.height, 1024);
  TWindowRequest framed =
      request("projectname=Trip\nopt_scr_full=0\nopt_withoutborder=0\nopt_scr_width=800\n");
  EXPECT_EQ(framed.ViewerMode(), 1);
  EXPECT_EQ(framed.width, 800);
  EXPECT_EQ(framed.height, 480);
  EXPECT_EQ(framed.caption, "Trip");
  TWindowRequest borderless = request("opt_scr_full=0\n");
  EXPECT_EQ(borderless.ViewerMode(), 2);
  EXPECT_TRUE(borderless.caption.empty());
}

}  // namespace
}  // namespace lum
