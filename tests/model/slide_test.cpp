// Slides built from documents written here, with geometry worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/errors.h"
#include "model/lum_box.h"
#include "model/lum_image.h"
#include "model/lum_view_port.h"
#include "model/object_factory.h"
#include "model/slide_producer.h"
#include "project/lum_source.h"

namespace lum {
namespace {

// A show of design size 1000 x 1000 shown in a 1000 x 1000 window: one design
// unit is one pixel and the slide's centre is (500, 500).
std::string Show(const std::string& slides, int count = 1, const std::string& main = "",
                 const std::string& times = "") {
  std::string text = "[Main]\nMinorVersion=13\nopt_scr_width=1000\nopt_scr_height=1000\n" + main;
  text += "[Times]\nopt_slidescount=" + std::to_string(count) + "\n";
  if (times.empty())
    for (int i = 1; i <= count; ++i)
      text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 3000) + "\n";
  else
    text += times;
  return text + slides;
}

std::string Box(const std::string& name, const std::string& guid, const std::string& keys,
                const std::string& inner = "", const std::string& cls = "Box") {
  return "object " + name + ":" + cls + "\nGUID={" + guid + "}\n" + keys + inner + "end\n";
}

std::string Key(int time, const std::string& keys) {
  return "object K:KeyPoint\nTime=" + std::to_string(time) + "\n" + keys + "end\n";
}

struct TFixture {
  explicit TFixture(const std::string& text, int w = 1000, int h = 1000) {
    doc.LoadText(text);
    source = std::make_unique<TLumSource>(nullptr, doc, TLumSourceSettings{"x", 1});
    producer = MakeRef<TSlideProducer>(*source);
    producer->SetFrame(w, h);
  }
  TLumSlide& Slide(int64_t n, double time) {
    container = producer->ProduceOrThrow(n);
    container->slide->SetTimeAndLayout(true, time);
    return *container->slide;
  }
  TIniFile doc;
  std::unique_ptr<TLumSource> source;
  TRef<TSlideProducer> producer;
  TRef<TDrawContainer> container;
};

TLumObject* Find(TLumSlide& slide, const std::string& name) {
  for (TLumObject* o : slide.AllObjects())
    if (o != &slide && o->Name() == name) return o;
  return nullptr;
}

void ExpectCorner(const TVec3& p, double x, double y) {
  EXPECT_NEAR(p.x, x, 1e-6);
  EXPECT_NEAR(p.y, y, 1e-6);
}

// A 100 x 100 box placed into the 1000 x 1000 slide fills it (fit factor 10);
// scale 10 % brings it back to 100 x 100 design units.
const std::string kSmall = "ScaleX=10\nScaleY=10\n";

TEST(SlideLayout, PercentPositionReachesTheParentsEdge) {
  TFixture f(
      Show("[Slide1]\nobject Container:Root\n" +
           Box("P", "1", "Size=100,100\n", Key(0, kSmall + "Position=100,0\n")) +
           Box("A", "2", "Size=100,100\nPosMode=Absolute\n", Key(0, kSmall + "Position=100,0\n")) +
           "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  auto p = Find(s, "P")->ScreenCorners();
  ExpectCorner(p[0], 950, 450);  // pivot on the right edge at mid height
  ExpectCorner(p[2], 1050, 550);
  auto a = Find(s, "A")->ScreenCorners();
  ExpectCorner(a[0], 550, 450);  // 100 design units right of the centre
  ExpectCorner(a[1], 650, 450);
  ExpectCorner(a[3], 550, 550);
}

TEST(SlideLayout, PivotScaleAndRotation) {
  // Pivot at the left-top corner (centre -100,-100), rotated 90 degrees.
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                  Box("R", "1", "Size=200,100\n",
                      Key(0, "ScaleX=10\nScaleY=10\nCenterPos=-100,-100\nAngle=90\n")) +
                  "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  TLumObject* r = Find(s, "R");
  // Fit factor min(1000/200, 1000/100) = 5; 10 % gives 100 x 50.
  EXPECT_DOUBLE_EQ(r->FitFactor(), 5);
  auto c = r->ScreenCorners();
  ExpectCorner(c[0], 500, 500);  // the pivot stays at the origin
  ExpectCorner(c[1], 500, 600);  // the x axis points down after 90 degrees
  ExpectCorner(c[3], 450, 500);
}

TEST(SlideLayout, ChildrenLiveInTheirParentsUnits) {
  // A frame of 200 x 100 at 50 % fills 500 x 250; its child at Position 100,100
  // (percent) sits on the frame's right-bottom corner.
  TFixture f(Show(
      "[Slide1]\nobject Container:Root\n" +
      Box("F", "1", "Size=200,100\n",
          Key(0, "ScaleX=50\nScaleY=50\n") +
              Box("C", "2", "Size=10,10\n", Key(0, "ScaleX=10\nScaleY=10\nPosition=100,100\n")),
          "Frame") +
      "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  auto fc = Find(s, "F")->ScreenCorners();
  ExpectCorner(fc[0], 250, 375);
  ExpectCorner(fc[2], 750, 625);
  // The child: fit min(200/10, 100/10) = 10, 10 % -> 10 x 10 frame units,
  // 25 x 25 pixels around (750, 625).
  auto cc = Find(s, "C")->ScreenCorners();
  ExpectCorner(cc[0], 737.5, 612.5);
  ExpectCorner(cc[2], 762.5, 637.5);
}

TEST(SlideLayout, MissingSizeMeansFitFactorZero) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" + Box("Z", "1", "Size=abc\n") +
                  Box("C", "2", "Size=10,10\nFitMode=Cover\n") + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  EXPECT_EQ(Find(s, "Z")->FitFactor(), 0);
  EXPECT_FALSE(Find(s, "Z")->InView());
  EXPECT_DOUBLE_EQ(Find(s, "C")->FitFactor(), 100);
}

TEST(SlideLayout, PresentationAreaFitsOrCovers) {
  // 16:9 design in a 4:3 window.
  TPresentationArea fit = ComputePresentationArea(1024, 768, 16.0 / 9, 0);
  EXPECT_EQ(fit.left, 0);
  EXPECT_EQ(fit.right, 1024);
  EXPECT_EQ(fit.Height(), 576);
  EXPECT_EQ(fit.top, 96);
  TPresentationArea cover = ComputePresentationArea(1024, 768, 16.0 / 9, 1);
  EXPECT_EQ(cover.top, 0);
  EXPECT_EQ(cover.bottom, 768);
  EXPECT_EQ(cover.left, 0);  // clipped to the window
  EXPECT_EQ(cover.right, 1024);
  // An odd width smaller than the window grows by one.
  TPresentationArea odd = ComputePresentationArea(1000, 500, 1.001, 0);
  EXPECT_EQ(odd.Width() % 2, 0);
  EXPECT_EQ(odd.Height(), 500);
}

TEST(SlideLayout, SlideScaleMapsDesignToArea) {
  TFixture f(
      Show("[Slide1]\nobject Container:Root\n" +
           Box("B", "1", "Size=100,100\nPosMode=Absolute\n", Key(0, kSmall + "Position=100,0\n")) +
           "end\n"),
      2000, 1000);
  TLumSlide& s = f.Slide(0, 0);
  EXPECT_EQ(f.producer->Area().left, 500);
  EXPECT_DOUBLE_EQ(s.ScaleX(), 100);
  auto c = Find(s, "B")->ScreenCorners();
  ExpectCorner(c[0], 1050, 450);
  f.producer->SetFrame(500, 500);
  TLumSlide& half = f.Slide(0, 0);
  EXPECT_DOUBLE_EQ(half.ScaleX(), 50);
  auto h = Find(half, "B")->ScreenCorners();
  ExpectCorner(h[0], 275, 225);
}

TEST(SlideVisibility, HideModeAndChildInvis) {
  std::string turned = "AngleY=180\n";
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                  Box("Front3", "1", "Size=10,10\nHideMode=3\n") +
                  Box("Back3", "2", "Size=10,10\nHideMode=3\n", Key(0, turned)) +
                  Box("Back1", "3", "Size=10,10\nHideMode=1\nChildInvis=1\n",
                      Key(0, turned) + Box("Kid", "4", "Size=10,10\n")) +
                  Box("Back1Own", "5", "Size=10,10\nHideMode=1\n",
                      Key(0, turned) + Box("Kid2", "6", "Size=10,10\n")) +
                  Box("Front1", "7", "Size=10,10\nHideMode=1\n") +
                  Box("Front2", "8", "Size=10,10\nHideMode=2\n") + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  EXPECT_FALSE(Find(s, "Front3")->Visible());
  EXPECT_FALSE(Find(s, "Back3")->Visible());
  EXPECT_FALSE(Find(s, "Back1")->Visible());
  EXPECT_FALSE(Find(s, "Kid")->Visible());
  EXPECT_TRUE(Find(s, "Kid")->HiddenByAncestor());
  EXPECT_FALSE(Find(s, "Back1Own")->Visible());
  EXPECT_TRUE(Find(s, "Kid2")->Visible());  // without ChildInvis the children stay
  EXPECT_TRUE(Find(s, "Front1")->Visible());
  EXPECT_FALSE(Find(s, "Front2")->Visible());
}

TEST(SlideVisibility, TimeWindowIsInclusiveAtBothEnds) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                      Box("D", "1", "Size=10,10\nDeltaTime1=500\nDeltaTime2=300\n") + "end\n" +
                      "[Slide2]\nobject Container:Root\n" +
                      Box("E", "1", "Size=10,10\nDeltaTime1=500\nDeltaTime2=300\n") + "end\n",
                  2));
  TLumSlide& s = f.Slide(0, 0);
  TLumObject* d = Find(s, "D");
  auto at = [&](double t) {
    s.SetTimeAndLayout(true, t);
    return d->VisibleInTime();
  };
  EXPECT_FALSE(at(499.9));
  EXPECT_TRUE(at(500));
  EXPECT_TRUE(at(2700));
  EXPECT_FALSE(at(2700.1));
  // The second slide begins at 3000: the window moves with it.
  TLumSlide& s2 = f.Slide(1, 3500);
  EXPECT_TRUE(Find(s2, "E")->VisibleInTime());
  s2.SetTimeAndLayout(true, 3499);
  EXPECT_FALSE(Find(s2, "E")->VisibleInTime());
  s2.SetTimeAndLayout(true, 5700);
  EXPECT_TRUE(Find(s2, "E")->VisibleInTime());
}

TEST(SlideTiming, RepetitionsAndTheBlankSlide) {
  TFixture f(
      Show("[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\nend\n"
           "[Slide2]\nobject Container:Root\nend\n[Slide3]\nobject Container:Root\nend\n",
           3));
  TRef<TDrawContainer> c = f.producer->ProduceOrThrow(5);  // N + 2
  EXPECT_EQ(c->slide->Index(), 2);
  EXPECT_EQ(c->offset, 9000);
  EXPECT_EQ(c->slide->BeginTime(), 6000 + 9000);
  EXPECT_EQ(c->slide->NextBeginTime(), 9000 + 9000);
  EXPECT_EQ(c->slide->Pass(), 1);
  TRef<TDrawContainer> first = f.producer->ProduceOrThrow(0);
  EXPECT_EQ(first->slide->BeginTime(), 0);
  EXPECT_EQ(first->slide->NextBeginTime(), 3000);
  TRef<TDrawContainer> last = f.producer->ProduceOrThrow(2);
  EXPECT_EQ(last->slide->NextBeginTime(), 9000);  // opt_synchpos3
  TRef<TDrawContainer> blank = f.producer->ProduceOrThrow(-1);
  EXPECT_EQ(blank->slide->Index(), -1);
  EXPECT_EQ(blank->slide->BeginTime(), -1073741823.0);
  EXPECT_TRUE(blank->slide->Children().empty());
  EXPECT_EQ(blank->slide->Background().style, 1);  // slide 0's background
  EXPECT_EQ(blank->slide->Background().color1, 255u);
}

const std::string kEffects =
    "object TheEffect:AnEffect\ntime=1000\ncustom_count=0\nobject dissolve:dissolve\n"
    "caption=Dissolve\nkey=checked\nchecked=1\ngroup=GroupBasic\nstdidx=2\nend\nend\n";

std::string SlideWithEffect(int n, int ms, const std::string& objects = "") {
  return "[Slide" + std::to_string(n) +
         "]\nobject TheEffect:AnEffect\nref=dissolve\ntime=" + std::to_string(ms) +
         "\nsmoothline=0\nend\nobject Container:Root\n" + objects + "end\n";
}

TEST(SlideTiming, AnchorsFollowTheTransitions) {
  std::string keys = Key(0, "Opacity=0\n") +
                     "object K:KeyPoint\nOrigin=NextEffectBegin\nTime=0\n"
                     "Opacity=100\nend\n";
  TFixture f(Show(SlideWithEffect(1, 1000) +
                      SlideWithEffect(2, 500, Box("B", "1", "Size=1,1\n", keys)) +
                      SlideWithEffect(3, 800),
                  3, "opt_repeat=stop\n" + kEffects));
  TLumSlide& s = f.Slide(1, 3000);
  EXPECT_EQ(s.GetAnchorTime(kAnchorSlideBegin), 3000);
  EXPECT_EQ(s.GetAnchorTime(kAnchorPrevEffectEnd), 3500);
  EXPECT_EQ(s.GetAnchorTime(kAnchorNextEffectBegin), 6000);
  EXPECT_EQ(s.GetAnchorTime(kAnchorSlideEnd), 6800);
  EXPECT_EQ(s.Times().duration, 3800);
  // The second key frame sits at the outgoing transition's start.
  s.SetTimeAndLayout(true, 4500);
  EXPECT_NEAR(Find(s, "B")->Opacity(), 50, 1e-4);
}

TEST(SlideTiming, ScaleTimesStretchesKeyFrames) {
  // Authored for 2000 ms (a=2000, c=0), shown in 3000 ms: factor 1.5.
  TFixture f(Show("[Slide1]\nScaleMode=1\nScaleTimes=2000,0,0\nobject Container:Root\n" +
                  Box("B", "1", "Size=1,1\nDeltaTime1=333\n",
                      Key(0, "Opacity=0\n") + Key(1000, "Opacity=100\n")) +
                  "end\n"));
  TLumSlide& s = f.Slide(0, 750);
  EXPECT_DOUBLE_EQ(s.TimeScale(), 1.5);
  EXPECT_NEAR(Find(s, "B")->Opacity(), 50, 1e-4);
  EXPECT_EQ(Find(s, "B")->Props()->DeltaTime1(), 500);
}

TEST(SlideBackground, SourcesAndFallbacks) {
  TIniFile doc;
  doc.LoadText(
      "[Main]\nopt_bstyle=3\nopt_bcolorstyle=2\nopt_bcolor1=255\nopt_bcolor2=65280\n"
      "[A]\nbstyle=0\nbcolor=123\n[B]\nbstyle=2\nbfn=\n[C]\nbstyle=3\nbcolorstyle=7\nbcolor1=5\n"
      "[D]\nbstyle=2\nbfn=a.jpg\nbsize=50\n[E]\nbstyle=1\nbcolor=x\n");
  TSlideBackground a = ReadSlideBackground(doc.Section("Main"), doc.Section("A"));
  EXPECT_TRUE(a.fromMain);
  EXPECT_EQ(a.Drawn(), TBackgroundDrawn::HGradient);
  EXPECT_EQ(a.color1, 255u);
  EXPECT_EQ(a.color2, 65280u);
  TSlideBackground b = ReadSlideBackground(doc.Section("Main"), doc.Section("B"));
  EXPECT_FALSE(b.fromMain);
  EXPECT_EQ(b.Drawn(), TBackgroundDrawn::Black);
  TSlideBackground c = ReadSlideBackground(doc.Section("Main"), doc.Section("C"));
  EXPECT_EQ(c.Drawn(), TBackgroundDrawn::Black);
  EXPECT_EQ(c.color1, 0u);  // not read for other colour styles
  TSlideBackground d = ReadSlideBackground(doc.Section("Main"), doc.Section("D"));
  EXPECT_EQ(d.Drawn(), TBackgroundDrawn::Picture);
  EXPECT_EQ(d.size, 50);
  TSlideBackground e = ReadSlideBackground(doc.Section("Main"), doc.Section("E"));
  EXPECT_EQ(e.Drawn(), TBackgroundDrawn::Solid);
  EXPECT_EQ(e.color1, 0u);  // malformed: the default
  TSlideBackground none = ReadSlideBackground(nullptr, nullptr);
  EXPECT_EQ(none.Drawn(), TBackgroundDrawn::Black);
}

TEST(SlideBackground, PictureCacheAndTiling) {
  TSlidePictureCache cache;
  cache.Add(TSlidePictureCache::NameFor(100, "a.jpg"), MakeRef<TRefObject>());
  cache.Add(TSlidePictureCache::NameFor(100, "b.jpg"), MakeRef<TRefObject>());
  cache.Add(TSlidePictureCache::NameFor(50, "a.jpg"), MakeRef<TRefObject>());
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_FALSE(cache.Find("SlideBg: 100:a.jpg"));  // the oldest left
  EXPECT_TRUE(cache.Find("SlideBg: 100:b.jpg"));
  EXPECT_TRUE(cache.Find("SlideBg: 50:a.jpg"));
  // A slide wider than the picture: width decides; 4000 px halved twice for 1000.
  TBackgroundTiling t = TileBackground(1000, 500, 4000, 4000, 100);
  EXPECT_EQ(t.drawWidth, 1000);
  EXPECT_EQ(t.drawHeight, 1000);
  EXPECT_EQ(t.halvings, 2);
  EXPECT_EQ(t.tilesX, 1);
  TBackgroundTiling small = TileBackground(1000, 500, 100, 50, 10);
  EXPECT_EQ(small.drawHeight, 50);
  EXPECT_EQ(small.tilesX, 5);
  EXPECT_EQ(small.tilesY, 5);
}

TEST(SlideHitTest, TopmostFirstWithTheClickFilter) {
  std::string full = "Size=10,10\n";
  TFixture f(Show("[Slide1]\nobject Container:Root\n" + Box("Under", "1", full + "Action=exit\n") +
                  Box("Over", "2", full + "Action=pause\n", Key(0, "ScaleX=50\nScaleY=50\n")) +
                  Box("Glass", "3", full + "TranspForClick=1\n") +
                  Box("Later", "4", full + "DeltaTime1=1000\n") + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  EXPECT_EQ(s.FindObjectAt(500, 500, ClickFilter)->Name(), "Over");
  EXPECT_EQ(s.FindObjectAt(500, 500, nullptr)->Name(), "Glass");
  EXPECT_EQ(s.FindObjectAt(100, 100, ClickFilter)->Name(), "Under");
  EXPECT_EQ(s.FindObjectAt(-5, 100, ClickFilter), nullptr);  // outside the slide
  s.SetTimeAndLayout(true, 1000);
  EXPECT_EQ(s.FindObjectAt(500, 500, ClickFilter)->Name(), "Later");
}

TEST(SlideHitTest, OutsideTheViewOnlyWhenTracked) {
  TFixture f(Show(
      "[Slide1]\nobject Container:Root\n" +
      Box("Out", "1", "Size=100,100\nPosMode=Absolute\n", Key(0, kSmall + "Position=950,0\n")) +
      "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  EXPECT_FALSE(Find(s, "Out")->InView());
  EXPECT_EQ(s.FindObjectAt(1450, 500, ClickFilter), nullptr);
  s.GetHost()->tracking = [](const TLumObject& o) { return o.Name() == "Out"; };
  ASSERT_NE(s.FindObjectAt(1450, 500, ClickFilter), nullptr);
  EXPECT_EQ(s.FindObjectAt(1450, 500, ClickFilter)->Name(), "Out");
}

TEST(SlideObjects, FactoryChainAsksInOrder) {
  TObjectFactory chain;
  std::string asked;
  chain.PushFront([&](int, TLumObject*, TLumObjectProps*) -> TLumObject* {
    asked += "base;";
    return nullptr;
  });
  chain.PushFront([&](int kind, TLumObject*, TLumObjectProps*) -> TLumObject* {
    asked += "front;";
    return kind == 8 ? nullptr : nullptr;
  });
  EXPECT_EQ(chain.Create(8, nullptr, nullptr), nullptr);
  EXPECT_EQ(asked, "front;base;");
  EXPECT_EQ(ObjectFactory().Create(kKindNone, nullptr, nullptr), nullptr);
}

TEST(SlideHitTest, RotatedAndTiltedObjects) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                  Box("Rot", "1", "Size=200,100\n", Key(0, "ScaleX=10\nScaleY=10\nAngle=90\n")) +
                  "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  // 100 x 50 turned upright: 50 wide, 100 high around the centre.
  EXPECT_TRUE(s.FindObjectAt(500, 545, ClickFilter) != &s);
  EXPECT_EQ(s.FindObjectAt(540, 500, ClickFilter), &s);
}

TEST(SlidePointer, PressAndReleaseHandOutTheAction) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                  Box("B", "1", "Size=10,10\nAction=gotoslide(2)\n") + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  std::optional<TLumActionInfo> action;
  // A release without a press is no click.
  EXPECT_EQ(s.PointerInput(500, 500, 0, kPointerRelease, &action)->Name(), "B");
  EXPECT_FALSE(action);
  s.PointerInput(500, 500, kLeftButton, kPointerPress, &action);
  EXPECT_FALSE(action);
  s.PointerInput(500, 500, 0, kPointerRelease, &action);
  ASSERT_TRUE(action);
  EXPECT_EQ(action->type, kActionGotoSlide);
  EXPECT_FALSE(Find(s, "B")->Pressed());
  // Another button held: not looked at.
  EXPECT_EQ(s.PointerInput(500, 500, 2, kPointerPress, &action), nullptr);
}

TEST(SlidePointer, ButtonsShowHoverAndPressedStates) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                  Box("Btn", "1", "Action=exit\n", Box("Cap", "2", "", "", "Text"), "Button") +
                  "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  TLumObject* btn = Find(s, "Btn");
  ASSERT_NE(btn, nullptr);
  EXPECT_STREQ(btn->ClassName(), "TLumButton");
  // Buttons have no picture yet (size 0): the press logic is checked directly.
  btn->SetPointerState(2);
  EXPECT_EQ(Find(s, "Cap")->PointerState(), 2);  // passed on to the caption
  s.PointerInput(10, 10, 0, kPointerMove, nullptr);
  EXPECT_EQ(btn->PointerState(), 0);  // every event resets the states first
}

TEST(SlideObjects, KindsAndClasses) {
  TFixture f(Show(
      "[Slide1]\nobject Container:Root\n" + Box("Ani", "1", "AnimEnable=1\n", "", "Image") +
      Box("Img", "2", "ImageName=a.jpg\nImageIndex=3\n", "", "Image") +
      Box("V1", "3", "Size=10,10\n",
          Box("S", "4", "", "", "MaskStencil") + Box("C", "5", "", "", "MaskContent"), "viewport") +
      Box("Sp", "6", "Size=10,10\n", "", "Splitter") + Box("Vid", "7", "", "", "Video") +
      Box("X", "8", "Size=10,10\n", "", "Gizmo") + Box("Bx", "9", "Size=1,1\n", "", "BOX") +
      "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  EXPECT_EQ(Find(s, "Ani")->Kind(), kKindAniImage);
  EXPECT_STREQ(Find(s, "V1")->ClassName(), "TLumViewPort");
  EXPECT_EQ(Find(s, "S")->Width(), 10);  // from the view port
  EXPECT_TRUE(Find(s, "S")->TranspForClick());
  EXPECT_STREQ(Find(s, "Vid")->ClassName(), "TLumVideo");
  EXPECT_EQ(Find(s, "X"), nullptr);  // unknown kinds are skipped
  EXPECT_EQ(Find(s, "Bx")->Kind(), kKindBox);
  EXPECT_FALSE(static_cast<TLumBox*>(Find(s, "Sp"))->Drawn());
  EXPECT_TRUE(static_cast<TLumBox*>(Find(s, "Bx"))->Drawn());
  EXPECT_EQ(Find(s, "Img")->Width(), 0);  // no picture yet
  EXPECT_TRUE(Find(s, "Ani")->Shadow().enabled == false);
  auto main = s.MainImage();
  ASSERT_TRUE(main);
  EXPECT_EQ(main->file, "a.jpg");
  EXPECT_EQ(s.Children().size(), 6u);
}

TEST(SlideObjects, ViewPortSpellingsAndTheMainVideo) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                  Box("A", "1", "Size=1,1\n", "", "ViewPort") +
                  Box("B", "2", "Size=1,1\n", "", "Viewport") +
                  Box("V", "3", "FileName=clip.mp4\nImageIndex=0\n", "", "Video") +
                  Box("I", "4", "ImageName=no-index.jpg\n", "", "Image") + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  EXPECT_STREQ(Find(s, "A")->ClassName(), "TLumViewPort");
  EXPECT_STREQ(Find(s, "B")->ClassName(), "TLumViewPort");
  // No image carries "ImageIndex": the first video with one answers.
  auto main = s.MainImage();
  ASSERT_TRUE(main);
  EXPECT_EQ(main->file, "clip.mp4");
}

TEST(SlideObjects, CommonKeysAndDefaults) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" + Box("D", "1", "") +
                  Box("K", "2",
                      "FitMode=cover\nPosMode=ABSOLUTE\nShadowEnable=1\nShadowSize=3.5\n"
                      "ShadowColor=1,2,3\nShadowOpacity=x\nTreeNode=0\n") +
                  Box("T", "3", "", "", "Text") + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  TLumObject* d = Find(s, "D");
  EXPECT_EQ(d->FitMode(), TFitMode::PlaceInto);
  EXPECT_EQ(d->PosMode(), TPosMode::Percent);
  EXPECT_FALSE(d->Shadow().enabled);
  EXPECT_EQ(d->Shadow().size, 16);
  EXPECT_EQ(d->Shadow().opacity, 59);
  EXPECT_TRUE(d->TreeNode());
  TLumObject* k = Find(s, "K");
  EXPECT_EQ(k->FitMode(), TFitMode::Cover);
  EXPECT_EQ(k->PosMode(), TPosMode::Absolute);
  EXPECT_EQ(k->Shadow().size, 3.5f);
  EXPECT_EQ(k->Shadow().color, 0x030201u);
  EXPECT_EQ(k->Shadow().opacity, 59);  // malformed: default
  EXPECT_FALSE(k->TreeNode());
  EXPECT_TRUE(Find(s, "T")->Shadow().enabled);  // texts cast shadows by default
}

TEST(SlideChanges, TrackingAndSnapshots) {
  TFixture f(Show(
      "[Slide1]\nobject Container:Root\n" +
      Box("B", "1", "Size=10,10\n", Key(0, "Opacity=0\n") + Key(1000, "Opacity=100\n")) + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  EXPECT_TRUE(s.IsChanged());
  s.TakeSnapshot(true);
  EXPECT_FALSE(s.IsChanged());
  EXPECT_FALSE(s.SetTimeAndLayout(true, 0));
  EXPECT_FALSE(s.IsChanged());
  EXPECT_TRUE(s.SetTimeAndLayout(true, 500));
  EXPECT_TRUE(s.IsChanged());
  s.SetTimeAndLayout(true, 1000);
  s.TakeSnapshot(true);
  EXPECT_FALSE(s.SetTimeAndLayout(true, 1500));  // past the last key frame: nothing moves
  TSlideBackground b = s.Background();
  b.style = 1;
  s.SetBackground(b);
  EXPECT_TRUE(s.IsChanged());
}

TEST(SlideObjects, ReloadKeepsObjectsMatchedByGuid) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" + Box("A", "1", "Size=1,1\n") +
                  Box("B", "2", "Size=1,1\n") + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  TLumObject* a = Find(s, "A");
  TIniFile edited;
  edited.LoadText(Show("[Slide1]\nobject Container:Root\n" + Box("C", "3", "Size=2,2\n") +
                       Box("A", "1", "Size=5,5\n") + "end\n"));
  s.LoadSlide(edited.Section("Main"), edited.Section("Times"), edited.Section("Slide1"), 0, 1, 0,
              0);
  s.SetTimeAndLayout(true, 0);
  ASSERT_EQ(s.Children().size(), 2u);
  EXPECT_EQ(s.Children()[0]->Name(), "C");
  EXPECT_EQ(s.Children()[1], a);  // the same object, reloaded
  EXPECT_EQ(a->Width(), 5);
  EXPECT_EQ(Find(s, "B"), nullptr);
}

class TRecordingDrawer : public TObjectDrawer {
 public:
  void DrawBackground(TLumSlide&, const TSlideBackground& b) override {
    log += "bg" + std::to_string(b.style) + ";";
  }
  void DrawBox(TLumBox& b) override { log += b.Name() + ";"; }
  void DrawContent(TLumObject& o) override { log += "content " + o.Name() + ";"; }
  void BeginOffscreen(TLumSlide&) override { log += "off{;"; }
  void EndOffscreen(TLumSlide&) override { log += "};"; }
  void BlendOffscreen(TLumSlide&, int alpha, bool bgOnly) override {
    log += "blend " + std::to_string(alpha) + (bgOnly ? " bg" : "") + ";";
  }
  std::string log;
};

TEST(SlideDrawing, OrderAndVisibility) {
  TFixture f(Show(
      "[Slide1]\nobject Container:Root\n" +
      Box("A", "1", "Size=1,1\n", Box("A1", "2", "Size=1,1\n")) +
      Box("Hidden", "3", "Size=1,1\nDeltaTime1=100\n", Box("H1", "4", "Size=1,1\n")) +
      Box("Sp", "5", "Size=1,1\n", "", "Splitter") + Box("Clear", "6", "Size=1,1\nAlpha1=0\n") +
      Box("V", "7", "Size=1,1\n", Box("S", "8", "", "", "MaskStencil"), "ViewPort") + "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  TRecordingDrawer drawer;
  s.Draw(drawer);
  // A hidden parent still hands its children over.
  EXPECT_EQ(drawer.log, "bg0;A;A1;H1;");
  EXPECT_FALSE(s.IsChanged());

  // As a transition effect: the other slide's objects beneath, off screen.
  TSlideBackground second;
  second.style = 1;
  s.SetEffectLayers({Find(s, "A")}, {Find(s, "Clear")}, second, 0.25);
  drawer.log.clear();
  s.Draw(drawer);
  EXPECT_EQ(drawer.log, "off{;bg1;A;A1;};bg0;blend 64;");
  s.SetEffectLayers({}, {Find(s, "A1")}, second, 1);
  drawer.log.clear();
  s.Draw(drawer);
  EXPECT_EQ(drawer.log, "off{;bg1;};bg0;A1;blend 255 bg;");
}

TEST(SlideDisplayScale, LargestSizeOverTheKeyFrames) {
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                  Box("B", "1", "Size=100,100\n",
                      Key(0, "ScaleX=10\nScaleY=10\n") + Key(1000, "ScaleX=30\nScaleY=20\n") +
                          Key(2000, "ScaleX=10\nScaleY=10\n")) +
                  "end\n"));
  TLumSlide& s = f.Slide(0, 2000);
  EXPECT_TRUE(s.PrepassDone());
  EXPECT_NEAR(Find(s, "B")->Maxima().scaleX, 300, 1e-6);
  EXPECT_NEAR(Find(s, "B")->Maxima().scaleY, 200, 1e-6);
  EXPECT_NEAR(s.Maxima().scaleX, 1000, 1e-6);
  // Back at its own time afterwards.
  EXPECT_NEAR(Find(s, "B")->ScaleX(), 10, 1e-6);
}

TEST(SlideBadInput, MissingGuidFailsOnlyThatSlide) {
  TFixture f(
      Show("[Slide1]\nobject Container:Root\nobject B:Box\nSize=1,1\nend\nend\n"
           "[Slide2]\nobject Container:Root\n" +
               Box("Ok", "1", "Size=1,1\n") + "end\n",
           2));
  EXPECT_EQ(f.producer->Produce(0), nullptr);
  EXPECT_NE(f.producer->LastError().find("LumObject GUID not Assigned"), std::string::npos);
  EXPECT_THROW(f.producer->ProduceOrThrow(0), ELumError);
  TRef<TDrawContainer> ok = f.producer->Produce(1);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->slide->Children().size(), 1u);
}

TEST(SlideBadInput, DeepNestingIsRefusedWithoutOverflow) {
  // A document cannot nest this deep; a tree built in memory can.
  TFixture f(Show("[Slide1]\nobject Container:Root\nend\n"));
  TIniList* list = f.doc.Section("Slide1")->FirstObject();
  for (int i = 0; i < 5000; ++i) {
    list = list->AddObject("N", "Frame");
    list->AddItem("GUID", "{" + std::to_string(i) + "}");
  }
  EXPECT_EQ(f.producer->Produce(0), nullptr);
  EXPECT_NE(f.producer->LastError().find("nested deeper than 256"), std::string::npos);
  // The deepest a document may nest (the root and 255 below it) lays out.
  std::string open2, close2;
  for (int i = 0; i < kMaxObjectNesting - 1; ++i) {
    open2 += "object N:Frame\nGUID={" + std::to_string(i) + "}\nSize=10,10\n";
    close2 += "end\n";
  }
  TFixture g(Show("[Slide1]\nobject Container:Root\n" + open2 + close2 + "end\n"));
  TLumSlide& s = g.Slide(0, 0);
  EXPECT_EQ(s.AllObjects().size(), size_t(kMaxObjectNesting));
}

TEST(SlideBadInput, ZeroDesignHeightAndNoSlides) {
  TIniFile doc;
  doc.LoadText(
      "[Main]\nopt_scr_width=100\nopt_scr_height=0\n[Times]\nopt_slidescount=1\n"
      "opt_synchpos1=1000\n[Slide1]\n");
  TLumSource src(nullptr, doc, {"x", 1});
  TSlideProducer p(src);
  try {
    p.SetFrame(800, 600);
    FAIL();
  } catch (const ELumError& e) {
    EXPECT_STREQ(e.what(), "ZeroSize of Presentation!");
  }
  TIniFile empty;
  empty.LoadText("[Main]\nopt_scr_width=100\nopt_scr_height=100\n");
  TLumSource none(nullptr, empty, {"x", 1});
  TSlideProducer q(none);
  EXPECT_EQ(q.Produce(0), nullptr);
  EXPECT_NE(q.LastError().find("No Slides in Presentation"), std::string::npos);
}

TEST(SlideBadInput, PerspectiveSeesTiltedObjectsSmaller) {
  // Tilted away about the x axis, the far edge comes out shorter.
  TFixture f(Show("[Slide1]\nobject Container:Root\n" +
                  Box("T", "1", "Size=100,100\n", Key(0, "ScaleX=20\nScaleY=20\nAngleX=60\n")) +
                  "end\n"));
  TLumSlide& s = f.Slide(0, 0);
  auto c = Find(s, "T")->ScreenCorners();
  double top = c[1].x - c[0].x, bottom = c[2].x - c[3].x;
  EXPECT_NE(top, bottom);
  EXPECT_NEAR(std::min(top, bottom) < 200 ? 1 : 0, 1, 0);
  EXPECT_TRUE(std::isfinite(c[0].x) && std::isfinite(c[2].y));
}

}  // namespace
}  // namespace lum
