// The show project over small documents: timeline, repetitions, screen-saver
// forcing, end actions, programs, options and bad slide tables.
#include <gtest/gtest.h>

#include "foundation/errors.h"
#include "project/lum_source.h"
#include "project/show_options.h"

namespace lum {
namespace {

constexpr const char* kCatalogue =
    "object TheEffect:AnEffect\n time=1000\n object dissolve:dissolve\n  key=checked\n"
    "  checked=1\n  stdidx=2\n end\nend\n";

struct TShow {
  TIniFile doc;
  std::unique_ptr<TLumSource> src;
  explicit TShow(const std::string& text, const std::string& host = "/usr/bin/lumviewer") {
    doc.LoadText(text);
    src = std::make_unique<TLumSource>(nullptr, doc, TLumSourceSettings{host, 7});
  }
  TLumSource* operator->() { return src.get(); }
};

std::string Slide(int n, const std::string& ref, int time, const std::string& more = "") {
  return "[Slide" + std::to_string(n) + "]\n" + more + "object TheEffect:AnEffect\n ref=" + ref +
         "\n time=" + std::to_string(time) + "\nend\n";
}

TEST(LumSource, TimelineBoundariesBelongToTheEarlierSlide) {
  TShow show("[Main]\n" + std::string(kCatalogue) +
             "[Times]\nopt_slidescount=2\nopt_synchpos1=2000\nopt_synchpos2=6415\n" +
             Slide(1, "dissolve", 500) + Slide(2, "dissolve", 9000));
  ASSERT_EQ(show->SlideCount(), 2);
  EXPECT_EQ(show->Duration(), 6415);
  TLumSlideRecord s0 = show->Slide(0), s1 = show->Slide(1);
  EXPECT_EQ(s0.start, 0);
  EXPECT_EQ(s0.end, 2000);
  EXPECT_EQ(s1.start, 2000);
  EXPECT_EQ(s1.end, 6415);
  // A transition longer than its slide is cut to the slide.
  EXPECT_EQ(s1.transitionIn, 4415);
  EXPECT_EQ(s0.nextTransition, 4415);
  EXPECT_EQ(s0.endWithNext, 2000 + 4415);
  // Repeating: the last slide runs into slide 0's transition.
  EXPECT_EQ(s1.nextTransition, 500);
  EXPECT_EQ(show->SlideAt(2000), 0);
  EXPECT_EQ(show->SlideAt(2000.5), 1);
  EXPECT_EQ(show->SlideAt(6415), 1);
  EXPECT_EQ(show->SlideAt(0), -1);
  EXPECT_EQ(show->SlideAt(-5), -1);
  EXPECT_EQ(show->SlideAt(-2e9), -2);
}

TEST(LumSource, RepetitionsShiftTheTimeline) {
  TShow show(
      "[Main]\n[Times]\nopt_slidescount=3\nopt_synchpos1=1000\nopt_synchpos2=3000\n"
      "opt_synchpos3=4000\n");
  EXPECT_EQ(show->SlideAt(4001), 3);
  EXPECT_EQ(show->SlideAt(8000), 5);  // the boundary stays with the first repetition
  EXPECT_EQ(show->SlideAt(8000.5), 6);
  int64_t rep = -1;
  TLumSlideRecord r = show->Slide(7, &rep);
  EXPECT_EQ(rep, 2);
  EXPECT_EQ(r.start, 8000 + 1000);
  EXPECT_EQ(r.end, 8000 + 3000);
  EXPECT_EQ(r.endWithNext, 8000 + 3000);

  TLumSlideRecord before = show->Slide(-1);
  EXPECT_EQ(before.start, TLumSource::kBeforeFirst);
  EXPECT_EQ(before.end, 0);
  TLumSlideRecord longBefore = show->Slide(-7);
  EXPECT_EQ(longBefore.start, TLumSource::kLongBefore);
  EXPECT_EQ(longBefore.end, TLumSource::kBeforeFirst);
  EXPECT_EQ(longBefore.endWithNext, TLumSource::kBeforeFirst);
}

TEST(LumSource, EndBehaviourDecidesTheLastTransition) {
  std::string body = std::string(kCatalogue) +
                     "[Times]\nopt_slidescount=2\nopt_synchpos1=3000\n"
                     "opt_synchpos2=6000\n" +
                     Slide(1, "dissolve", 700) + Slide(2, "quick", 3000);
  TShow stop("[Main]\nopt_repeat=STOP\n" + body);
  EXPECT_EQ(stop->EndBehaviour(), TEndBehaviour::Stop);
  EXPECT_EQ(stop->Slide(1).nextTransition, 0);
  EXPECT_EQ(stop->Slide(0).nextTransition, 0);  // "quick" has no duration
  TShow close("[Main]\nopt_repeat=close\n" + body);
  EXPECT_EQ(close->EndBehaviour(), TEndBehaviour::Close);
  TShow odd("[Main]\nopt_repeat=sometimes\n" + body);
  EXPECT_EQ(odd->EndBehaviour(), TEndBehaviour::Repeat);
  EXPECT_EQ(odd->Slide(1).nextTransition, 700);
  EXPECT_EQ(odd->Slide(-1).nextTransition, 700);
}

TEST(LumSource, ScreenSaverExecutableForcesItsOptions) {
  std::string text = "[Main]\nopt_repeat=close\nopt_scr_full=0\nopt_fcp=1\n[Times]\n";
  TShow saver(text, "/opt/shows/Holiday.SCR");
  EXPECT_TRUE(saver->ScreenSaver());
  EXPECT_EQ(saver->EndBehaviour(), TEndBehaviour::Repeat);
  EXPECT_EQ(saver.doc.ReadInteger("Main", "opt_scr_full", 0), 1);
  EXPECT_EQ(saver.doc.ReadInteger("Main", "opt_hidecursor", 0), 1);
  EXPECT_EQ(saver.doc.ReadInteger("Main", "opt_fcp", 1), 0);
  EXPECT_EQ(saver.doc.ReadInteger("Main", "opt_ssaver", 0), 1);
  TShow plain(text, "/opt/shows/Holiday.scrap");
  EXPECT_FALSE(plain->ScreenSaver());
  EXPECT_EQ(plain.doc.ReadInteger("Main", "opt_ssaver", 1), 0);
  EXPECT_EQ(plain->EndBehaviour(), TEndBehaviour::Close);
  // A document without [Main] gets one.
  TShow bare("[Times]\n", "x.scr");
  EXPECT_EQ(bare.doc.ReadString("Main", "opt_repeat", ""), "repeat");
}

TEST(LumSource, SlideNamesEndActionsAndPrograms) {
  TShow show(
      "[Main]\nopt_manualshow=1\n[Times]\nopt_slidescount=5\nopt_synchpos1=1000\n"
      "opt_synchpos2=2000\nopt_synchpos3=5000\nopt_synchpos4=6000\nopt_synchpos5=7000\n" +
      std::string(kCatalogue) + "[Slide1]\nslideid=Intro\nPers_EndAction=Pause\n" +
      "[Slide2]\nPicture=C:\\Photos\\2019\\Beach.Day.JPG\nPers_EndAction=\n"
      "Pers_RunApp=1\nRunAppFN=tool.exe\n" +
      Slide(3, "dissolve", 1000, "Pers_EndAction=LOOP\nPers_RunApp=1\nRunAppFN=\n") +
      "[Slide4]\nPers_EndAction=other\nPers_RunApp=0\nRunAppFN=x.exe\n[Slide5]\n");
  EXPECT_EQ(show->Slide(0).name, "Intro");
  EXPECT_EQ(show->Slide(1).name, "Beach.Day");
  EXPECT_EQ(show->Slide(4).name, "");
  EXPECT_EQ(show->EndAction(0).action, TSlideEndAction::Pause);
  EXPECT_EQ(show->EndAction(1).action, TSlideEndAction::Pause);  // empty + manual show
  TSlideEnd loop = show->EndAction(2);
  EXPECT_EQ(loop.action, TSlideEndAction::Loop);
  EXPECT_EQ(loop.loopLength, 3000 - 1000);
  EXPECT_EQ(show->EndAction(3).action, TSlideEndAction::None);
  EXPECT_EQ(show->EndAction(4).action, TSlideEndAction::None);
  EXPECT_EQ(show->EndAction(7).action, TSlideEndAction::Loop);  // a repetition of slide 2
  EXPECT_EQ(show->Program(1).value_or(""), "tool.exe");
  EXPECT_FALSE(show->Program(2));
  EXPECT_FALSE(show->Program(3));
}

TEST(LumSource, DecreasingEndTimesAreRefused) {
  TIniFile doc;
  doc.LoadText(
      "[Times]\nopt_slidescount=3\nopt_synchpos1=1000\nopt_synchpos2=900\n"
      "opt_synchpos3=2000\n");
  try {
    TLumSource src(nullptr, doc, {"a", 1});
    FAIL() << "accepted";
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find("Incorrect time"), std::string::npos);
  }
}

TEST(LumSource, EmptyShowOpensWithoutSlides) {
  TShow show("[Main]\n" + std::string(kCatalogue) + "[Times]\n[Slide1]\n");
  EXPECT_EQ(show->SlideCount(), 0);
  EXPECT_EQ(show->Duration(), 0);
  EXPECT_EQ(show->SlideAt(100), -1);
  EXPECT_EQ(show->Slide(5).end, 0);
  EXPECT_FALSE(show->Transition(0).effect);
  EXPECT_EQ(show->EndAction(0).action, TSlideEndAction::None);
  EXPECT_FALSE(show->Program(0));
  EXPECT_EQ(show->Slide(-1).nextTransition, 0);
}

TEST(LumSource, AbsurdSlideCountIsRefusedBeforeAnyTable) {
  TIniFile doc;
  doc.LoadText(
      "[Times]\nopt_slidescount=2000000000\nopt_synchpos1=1\n[Slide1]\n[Slide2]\n"
      "[Slide3]\n");
  try {
    TLumSource src(nullptr, doc, {"a", 1});
    FAIL() << "accepted";
  } catch (const ELumError& e) {
    EXPECT_NE(std::string(e.what()).find("2000000000 slides"), std::string::npos) << e.what();
  }
  doc.LoadText("[Times]\nopt_slidescount=-4\n");
  EXPECT_EQ(TLumSource(nullptr, doc, {"a", 1}).SlideCount(), 0);
}

TEST(LumSource, SlidesAndKeyFramesAreCountedAgainstTheirBounds) {
  auto slides = [](int n) {
    std::string text = "[Times]\nopt_slidescount=" + std::to_string(n) + "\n";
    for (int i = 1; i <= n; ++i)
      text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    return text;
  };
  // n children of class cls in an object of class Box.
  auto object = [](int n, const std::string& cls, const std::string& inner = "") {
    std::string text = "object B:Box\n";
    for (int i = 0; i < n; ++i) text += "object K:" + cls + "\n" + inner + "end\n";
    return text + "end\n";
  };
  const std::string main = "[Main]\n" + std::string(kCatalogue);
  struct TCase {
    std::string text, error;  // error empty: accepted
  } cases[] = {
      {slides(TLumSource::kMaxSlides), ""},
      {slides(TLumSource::kMaxSlides + 1),
       "The project declares 100001 slides, more than the 100000 allowed"},
      // Children of a key frame are its modifiers and filters, whatever their class.
      {main + slides(1) + "[Slide1]\n" + object(10000, "keypoint", "object M:KeyPoint\nend\n"), ""},
      // Every section counts, not only the slides.
      {main + slides(1) + "[Anything]\n" + object(10001, "KeyPoint"),
       "An object of the show has 10001 key frames, more than the 10000 allowed"},
      {main + slides(1) + "[Slide1]\n" +
           [&] {
             std::string many;
             for (int i = 0; i < 20; ++i) many += object(10000, "KeyPoint");
             return many + object(1, "KeyPoint");
           }(),
       "The show has 200001 key frames, more than the 200000 allowed"},
  };
  for (const TCase& c : cases) {
    TIniFile doc;
    ASSERT_TRUE(doc.LoadText(c.text));
    try {
      TLumSource src(nullptr, doc, {"a", 1});
      EXPECT_EQ(c.error, "");
    } catch (const ELumError& e) {
      EXPECT_EQ(e.what(), c.error);
    }
  }
}

TEST(LumSource, SlideOrderTablesAreSharedPerProject) {
  auto a = TSlideOrder::ForProject("C:\\Shows\\Trip.lum", 3);
  auto b = TSlideOrder::ForProject("C:\\Shows\\Trip.lum", 2);
  ASSERT_EQ(a, b);
  EXPECT_EQ(a->Size(), 3);
  EXPECT_EQ(b->SectionNumber(5), 6);  // extended with identity entries
  EXPECT_EQ(a->Size(), 6);
  EXPECT_EQ(TSlideOrder::ForProject("", 3), nullptr);
  EXPECT_EQ(SlideSectionNumber(nullptr, 4), 5);

  TShow show(
      "[Main]\nProjectFilePath=order-test\n[Times]\nopt_slidescount=1\n"
      "opt_synchpos1=10\n[slide1]\nslideid=lower case section\n");
  EXPECT_EQ(show->Slide(0).name, "lower case section");
}

TEST(ShowOptions, EffectiveValuesFallBackToDefaults) {
  TIniFile doc;
  doc.LoadText(
      "[Main]\nopt_repeat=Close\nopt_scr_full=abc\nopt_lockwheel=1\n"
      "opt_scr_width=800\nopt_scr_height=600\nopt_nav_viewscale=12.5\n");
  TIniList* main = doc.Section("Main");
  auto value = [&](const char* key) { return EffectiveOption(main, *FindShowOption(key)); };
  EXPECT_EQ(value("opt_repeat"), "close");
  EXPECT_EQ(value("opt_scr_full"), "1");
  EXPECT_EQ(value("opt_lockwheel"), "1");
  EXPECT_EQ(value("opt_pausewheninactive"), "1");
  EXPECT_EQ(value("opt_scr_caption"), "LumViewer v5.6");
  EXPECT_EQ(value("opt_lng_print_button7"), "Only Main Image");
  EXPECT_EQ(value("opt_nav_fadein"), "500");
  EXPECT_EQ(value("opt_nav_viewscale"), "12.5");
  EXPECT_NEAR(ValueToFloat(value("opt_scr_ratio"), 0), 800.0 / 600.0, 1e-12);
  EXPECT_EQ(FindShowOption("OPT_LOGO_SIZE")->key, std::string("opt_logo_size"));
  EXPECT_EQ(FindShowOption("opt_unknown"), nullptr);
}

}  // namespace
}  // namespace lum
