// The property tree: loading key frames and child nodes, segment tracking,
// interpolation, modifiers, time scaling and reloading.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "document/ini_file.h"
#include "foundation/errors.h"
#include "model/lum_object_props.h"

namespace lum {
namespace {

enum : int { kOpacity = 0, kPosX = 1, kPosY = 2, kScaleX = 4, kZoom = 12, kPanX = 13 };

std::string KeyPoint(const std::string& time, const std::string& keys = "",
                     const std::string& children = "") {
  return "object K:KeyPoint\nTime=" + time + "\n" + keys + children + "end\n";
}

std::string Mod(const std::string& dst, const std::string& fn, const std::string& extra = "") {
  return "object M:Mod\ndst=" + dst + "\nfn=" + fn + "\n" + extra + "end\n";
}

std::string Object(const std::string& cls, const std::string& guid, const std::string& body) {
  return "object O:" + cls + "\nGUID=" + guid + "\n" + body + "end\n";
}

struct TTree {
  TIniFile doc;
  TRef<TLumObjectProps> root = MakeRef<TLumObjectProps>();
  TLumSlideTiming timing{3000, 0, 0};

  TLumObjectProps& Load(const std::string& body) {
    doc.LoadText("[Slide]\nScaleMode=0\nobject Container:Root\n" + body + "end\n");
    root->Load(doc.Section("Slide")->FindObject("Container"), timing);
    return *root;
  }
  float At(double t, int field, TLumObjectProps* node = nullptr) {
    node = node ? node : root.Get();
    node->Evaluate(t, false);
    return node->Value(field);
  }
};

TEST(LumObjectKind, NamesMasksAndTable) {
  EXPECT_EQ(LumKindFromName("viewport"), kKindViewport);
  EXPECT_EQ(LumKindFromName("ViewPort"), kKindViewport);
  EXPECT_EQ(LumKindFromName("BUTTON"), kKindButton);
  EXPECT_EQ(LumKindFromName("MaskContent"), kKindMaskContent);
  EXPECT_EQ(LumKindFromName("Root"), kKindNone);
  EXPECT_EQ(LumKindFromName("Boxes"), kKindNone);
  EXPECT_EQ(LumKindFromName(""), kKindNone);
  EXPECT_NO_THROW(CheckLumKindTable());
  EXPECT_NO_THROW(LumModelSelfCheck());
  EXPECT_EQ(GroupMaskForKind(kKindSplitter), 0);
  EXPECT_EQ(GroupMaskForKind(kKindVideo), 0xFF);
  EXPECT_EQ(GroupMaskForKind(kKindText), 0x7F);
  EXPECT_EQ(GroupMaskForKind(kKindBox), 0x3F);
  EXPECT_EQ(GroupMaskForKind(kKindNone), 0x3F);

  TIniFile doc;
  doc.LoadText("[S]\nobject A:Image\nAnimEnable=1\nend\nobject B:image\nAnimEnable=2\nend\n");
  EXPECT_EQ(LumKindOfSection(doc.Section("S")->FindObject("A")), kKindAniImage);
  EXPECT_EQ(LumKindOfSection(doc.Section("S")->FindObject("B")), kKindImage);
  EXPECT_EQ(LumKindOfSection(doc.Section("S")), kKindNone);
}

TEST(LumObjectProps, InterpolatesBetweenKeyFrames) {
  TTree tree;
  tree.Load(KeyPoint("0", "ScaleX=100\n") + KeyPoint("1000", "ScaleX=200\n"));
  EXPECT_FLOAT_EQ(tree.At(250, kScaleX), 125);
  EXPECT_FLOAT_EQ(tree.At(2000, kScaleX), 200);
  EXPECT_FLOAT_EQ(tree.At(-50, kScaleX), 100);
  EXPECT_FLOAT_EQ(tree.At(3500, kScaleX), 200);
  // After the last key frame the fraction runs over the rest of the slide.
  tree.root->Evaluate(2000, false);
  EXPECT_DOUBLE_EQ(tree.root->GroupFraction(2), 0.5);
  // Fields the key frames do not name keep their defaults.
  EXPECT_FLOAT_EQ(tree.root->Value(kOpacity), 100);
  EXPECT_FLOAT_EQ(tree.root->Value(kPosX), 0);
}

TEST(LumObjectProps, LoadedNodeStartsAtTimeZero) {
  TTree tree;
  TLumObjectProps& root =
      tree.Load(KeyPoint("-1000", "Opacity=0\n") + KeyPoint("1000", "Opacity=100\n"));
  EXPECT_EQ(root.CurrentTime(), 0);
  EXPECT_FLOAT_EQ(root.Value(kOpacity), 50);
  EXPECT_EQ(root.KeyFrameCount(), 2);
  // No key frames: the table's defaults.
  TTree empty;
  empty.Load("");
  EXPECT_FLOAT_EQ(empty.root->Value(kScaleX), 100);
  EXPECT_FLOAT_EQ(empty.At(1000, kZoom), 100);
}

TEST(LumObjectProps, GroupSplittingOnlyCutsItsOwnGroup) {
  TTree tree;
  tree.Load(KeyPoint("0", "Opacity=0\nScaleX=100\nPosition=0,0\n") +
            KeyPoint("500", "grps=2\nOpacity=999\nPosition=50,10\n") +
            KeyPoint("1000", "Opacity=100\nScaleX=200\nPosition=100,20\n"));
  EXPECT_FLOAT_EQ(tree.At(250, kOpacity), 25);
  EXPECT_FLOAT_EQ(tree.root->Value(kScaleX), 125);
  EXPECT_FLOAT_EQ(tree.root->Value(kPosX), 25);
  EXPECT_FLOAT_EQ(tree.root->Value(kPosY), 5);
  EXPECT_FLOAT_EQ(tree.At(500, kPosX), 50);
  EXPECT_FLOAT_EQ(tree.root->Value(kOpacity), 50);
  EXPECT_FLOAT_EQ(tree.At(750, kPosX), 75);
  EXPECT_FLOAT_EQ(tree.root->Value(kOpacity), 75);
  EXPECT_EQ(tree.root->Tracker(0).from, 0);
  EXPECT_EQ(tree.root->Tracker(0).to, 2);
  EXPECT_EQ(tree.root->Tracker(1).from, 1);
}

TEST(LumObjectProps, EqualTimesKeepDocumentOrder) {
  TTree tree;
  // Written out of order: sorting keeps the two 1000 ms frames as written.
  tree.Load(KeyPoint("1000", "Opacity=50\n") + KeyPoint("0", "Opacity=0\n") +
            KeyPoint("1000", "Opacity=80\n") + KeyPoint("2000", "Opacity=100\n"));
  ASSERT_EQ(tree.root->KeyFrameCount(), 4);
  EXPECT_FLOAT_EQ(tree.root->KeyFrames()[1]->Value(kOpacity), 50);
  EXPECT_FLOAT_EQ(tree.root->KeyFrames()[2]->Value(kOpacity), 80);
  EXPECT_EQ(tree.root->KeyFrames()[2]->Index(), 2);
  EXPECT_NEAR(tree.At(999, kOpacity), 49.95, 1e-3);
  EXPECT_FLOAT_EQ(tree.At(1000, kOpacity), 80);
  EXPECT_EQ(tree.root->Tracker(0).from, 2);
  EXPECT_DOUBLE_EQ(tree.root->GroupFraction(0), 0);
  EXPECT_FLOAT_EQ(tree.At(1500, kOpacity), 90);
  // Coming back to 1000 from later lands on the same segment.
  EXPECT_FLOAT_EQ(tree.At(1000, kOpacity), 80);
}

TEST(LumObjectProps, NegativeKeyFrameTimeStartsPartWay) {
  TTree tree;
  tree.Load(KeyPoint("-585", "Opacity=0\n") + KeyPoint("1000", "Opacity=100\n"));
  EXPECT_DOUBLE_EQ(tree.root->KeyFrames()[0]->Time(), -585);
  EXPECT_NEAR(tree.At(0, kOpacity), 100.0 * 585 / 1585, 1e-4);
  EXPECT_NEAR(tree.At(-300, kOpacity), 100.0 * 585 / 1585, 1e-4);
}

TEST(LumObjectProps, AnchorsAndTimeText) {
  TTree tree;
  tree.timing = {5000, 1000, 800};
  tree.Load(KeyPoint("500", "Origin=NextEffectBegin\n") + KeyPoint("0", "Origin=prevEFFECTend\n") +
            KeyPoint("-100", "Origin=SlideEnd\n") + KeyPoint("1500.9", "Origin=Elsewhere\n") +
            KeyPoint("abc") + KeyPoint(" -12.7"));
  std::vector<double> times;
  for (const auto& frame : tree.root->KeyFrames()) times.push_back(frame->Time());
  EXPECT_EQ(times, (std::vector<double>{-12, 0, 1000, 1500, 4700, 4900}));
  EXPECT_EQ(tree.root->KeyFrames()[4]->Origin(), TKeyFrameOrigin::NextEffectBegin);
  EXPECT_EQ(KeyFrameOriginFromName("slideend"), TKeyFrameOrigin::SlideEnd);
  EXPECT_STREQ(KeyFrameOriginName(TKeyFrameOrigin::PrevEffectEnd), "PrevEffectEnd");
  EXPECT_EQ(KeyFrameTimeValue("99999999999"), 0);
  EXPECT_EQ(KeyFrameTimeValue("+7"), 7);
}

TEST(LumObjectProps, MalformedNumbersTakeDefaults) {
  TTree tree;
  tree.Load(KeyPoint("0", "grps=lots\nScaleX=1x0\nOpacity=\nPosition=12,zz\nScaleY=1e999\n"));
  const TLumKeyFrame& frame = *tree.root->KeyFrames()[0];
  EXPECT_EQ(frame.GroupMask(), 0x3F);  // 255 reduced by the root's kind
  EXPECT_FLOAT_EQ(frame.Value(kScaleX), 100);
  EXPECT_FLOAT_EQ(frame.Value(kOpacity), 100);
  EXPECT_FLOAT_EQ(frame.Value(kPosX), 12);
  EXPECT_FLOAT_EQ(frame.Value(kPosY), 0);
  EXPECT_FLOAT_EQ(frame.Value(5), 100);
  EXPECT_FLOAT_EQ(frame.Value(kZoom), 100);  // the root carries no "Frame" group
}

TEST(LumObjectProps, GroupMasksFollowTheKind) {
  TTree tree;
  const std::string keys = "Opacity=10\nZoom=300\n";
  tree.Load(Object("Splitter", "{s}", KeyPoint("0", keys)) +
            Object("Text", "{t}", KeyPoint("0", keys)) +
            Object("Video", "{v}", KeyPoint("0", keys + "grps=129\n")));
  const auto& kids = tree.root->Children();
  ASSERT_EQ(kids.size(), 3u);
  EXPECT_EQ(kids[0]->KeyFrames()[0]->GroupMask(), 0);
  EXPECT_FLOAT_EQ(kids[0]->Value(kOpacity), 100);
  EXPECT_FLOAT_EQ(kids[1]->Value(kOpacity), 10);
  EXPECT_FLOAT_EQ(kids[1]->Value(kZoom), 100);
  EXPECT_EQ(kids[2]->KeyFrames()[0]->GroupMask(), 129);
  EXPECT_FLOAT_EQ(kids[2]->Value(kOpacity), 10);
  EXPECT_FLOAT_EQ(kids[2]->Value(kZoom), 300);
  EXPECT_EQ(kids[1]->Kind(), kKindText);
  EXPECT_EQ(kids[1]->Guid(), "{t}");
  EXPECT_EQ(kids[1]->Parent(), tree.root.Get());
  EXPECT_EQ(tree.root->FindChild("{v}"), kids[2].Get());
  EXPECT_EQ(tree.root->FindChild("{x}"), nullptr);
}

TEST(LumObjectProps, PanFollowsDisplacementBetweenZooms) {
  TTree tree;
  tree.Load(
      Object("Image", "{i}",
             KeyPoint("0", "Zoom=200\nOffsX=0\nOffsY=10\n") +
                 KeyPoint("1000", "Zoom=400\nOffsX=50\nOffsY=10\n")) +
      Object("Image", "{j}",
             KeyPoint("0", "Zoom=200\nOffsX=0\n") + KeyPoint("1000", "Zoom=200\nOffsX=50\n")));
  TLumObjectProps* zooming = tree.root->Children()[0].Get();
  TLumObjectProps* flat = tree.root->Children()[1].Get();
  // Zoom 300 at half time: ((1*0) + (3*50 - 0) * 0.5) / 2.
  EXPECT_FLOAT_EQ(tree.At(500, kPanX, zooming), 37.5);
  EXPECT_FLOAT_EQ(zooming->Value(kZoom), 300);
  EXPECT_FLOAT_EQ(zooming->Value(14), 10);  // equal offsets stay linear
  EXPECT_FLOAT_EQ(tree.At(500, kPanX, flat), 25);
  EXPECT_FLOAT_EQ(tree.At(1000, kPanX, zooming), 50);
}

TEST(LumObjectProps, FrameAspect) {
  TTree tree;
  tree.Load(Object("Image", "{a}", "EnableAspect=1\nAspect=1\n") +
            Object("Image", "{b}", "EnableAspect=1\nAspect=4\n") +
            Object("Image", "{c}", "EnableAspect=0\nAspect=1\n"));
  const auto& kids = tree.root->Children();
  kids[0]->SetAspect(200, 100);
  EXPECT_FLOAT_EQ(kids[0]->AspectX(), 0.02f);
  EXPECT_FLOAT_EQ(kids[0]->AspectY(), 0.01f);
  kids[1]->SetAspect(200, 100);
  EXPECT_FLOAT_EQ(kids[1]->AspectX(), 0.01f);
  EXPECT_FLOAT_EQ(kids[1]->AspectY(), 0.02f);
  kids[2]->SetAspect(200, 100);
  EXPECT_FLOAT_EQ(kids[2]->AspectX(), 0.01f);
  kids[0]->SetAspect(0, 100);
  EXPECT_FLOAT_EQ(kids[0]->AspectX(), 0.01f);
}

TEST(LumObjectProps, TimeScaling) {
  TTree tree;
  tree.timing = {2000, 0, 0};
  tree.Load(
      Object("Box", "{b}", "DeltaTime1=333\nDeltaTime2=x\n" + KeyPoint("0") + KeyPoint("1000")));
  tree.root->ScaleTimes({3000, 0, 0}, 1.5);
  TLumObjectProps& box = *tree.root->Children()[0];
  EXPECT_DOUBLE_EQ(box.KeyFrames()[1]->Time(), 1500);
  EXPECT_DOUBLE_EQ(box.DeltaTime1(), 500);
  EXPECT_DOUBLE_EQ(box.DeltaTime2(), 0);
  EXPECT_EQ(box.Timing().duration, 3000);
  tree.root->ScaleTimes({3000, 0, 0}, 0);  // counts as 1
  EXPECT_DOUBLE_EQ(box.KeyFrames()[1]->Time(), 1500);

  // A slide section asking for scaling: authored for 2000 ms, shown for 3000.
  TIniFile doc;
  doc.LoadText("[Slide]\nScaleMode=1\nScaleTimes=1800, 100, 200\nobject Container:Root\n" +
               KeyPoint("0", "ScaleX=100\n") + KeyPoint("1000", "ScaleX=200\n") + "end\n");
  TLumTimeScale scale = SlideTimeScale(doc.Section("Slide"), {3000, 0, 300});
  EXPECT_TRUE(scale.apply);
  EXPECT_DOUBLE_EQ(scale.k, 1.5);
  EXPECT_EQ(scale.authored, (TLumSlideTiming{2000, 100, 200}));
  auto root = MakeRef<TLumObjectProps>();
  root->LoadSlideRoot(doc.Section("Slide")->FindObject("Container"), doc.Section("Slide"),
                      {3000, 0, 300});
  EXPECT_DOUBLE_EQ(root->KeyFrames()[1]->Time(), 1500);
  root->Evaluate(750, false);
  EXPECT_FLOAT_EQ(root->Value(kScaleX), 150);

  TIniFile other;
  other.LoadText(
      "[A]\nScaleMode=2\nScaleTimes=1350\n[B]\nScaleMode=1\n[C]\nScaleMode=3\nScaleTimes=5,5,5\n");
  scale = SlideTimeScale(other.Section("A"), {3000, 0, 300});
  EXPECT_TRUE(scale.apply);
  EXPECT_DOUBLE_EQ(scale.k, 2);
  EXPECT_FALSE(SlideTimeScale(other.Section("B"), {3000, 0, 300}).apply);
  EXPECT_FALSE(SlideTimeScale(other.Section("C"), {3000, 0, 300}).apply);
}

TEST(LumObjectProps, ModifiersInTheirOrder) {
  TTree tree;
  tree.Load(KeyPoint("0", "Opacity=0\nPosition=0,0\n",
                     Mod("Pos.t", "value*value") + Mod("Opacity", "value+1") +
                         Mod("opacity", "value*2") + Mod("Pos.Y", "Pos.X+Opacity") +
                         Mod("Scale.X", "1", "Disable=1\n") + Mod("Bogus.t", "0.5") +
                         Mod("Pos.Angle", "7")) +
            KeyPoint("1000", "Opacity=100\nPosition=100,0\n"));
  EXPECT_EQ(tree.root->KeyFrames()[0]->Mods().size(), 5u);
  EXPECT_EQ(tree.root->ModGroupFirst(), 1);
  EXPECT_EQ(tree.root->ModGroupLast(), 1);
  EXPECT_EQ(tree.root->ModFieldFirst(), 0);
  EXPECT_EQ(tree.root->ModFieldLast(), 4);
  tree.root->Evaluate(500, false);
  // Eased position, linear opacity.
  EXPECT_DOUBLE_EQ(tree.root->GroupFraction(1), 0.25);
  EXPECT_FLOAT_EQ(tree.root->Value(kPosX), 25);
  // Value chain in document order: (50 + 1) * 2.
  EXPECT_FLOAT_EQ(tree.root->Value(kOpacity), 102);
  // A later field sees the final values of earlier ones.
  EXPECT_FLOAT_EQ(tree.root->Value(kPosY), 127);
  EXPECT_FLOAT_EQ(tree.root->Value(kScaleX), 100);
  // The key frame at `to` does not apply its own (none here) and past the
  // last one the first frame's chain no longer applies.
  EXPECT_FLOAT_EQ(tree.At(2000, kOpacity), 100);
  tree.root->SetModifiersEnabled(false);
  EXPECT_FLOAT_EQ(tree.At(500, kOpacity), 50);
  EXPECT_FLOAT_EQ(tree.root->Value(kPosX), 50);
}

TEST(LumObjectProps, ModifierFaultsYieldZero) {
  TTree tree;
  tree.Load(KeyPoint("0", "Opacity=0\n", Mod("Opacity", "1/(value-value)") + Mod("Pos.t", "(")) +
            KeyPoint("1000", "Opacity=100\nPosition=100,0\n"));
  EXPECT_FLOAT_EQ(tree.At(500, kOpacity), 0);
  EXPECT_FLOAT_EQ(tree.root->Value(kPosX), 0);
}

TEST(LumObjectProps, SingleKeyFrame) {
  TTree tree;
  tree.Load(KeyPoint("1000", "Opacity=80\nScaleX=150\n"));
  for (double t : {0.0, 999.0, 1500.0, 3000.0}) {
    EXPECT_FLOAT_EQ(tree.At(t, kOpacity), 80);
    EXPECT_FLOAT_EQ(tree.root->Value(kScaleX), 150);
  }
  // With a modifier the rest of the slide is its time line.
  tree.Load(KeyPoint("1000", "Opacity=80\nScaleX=150\n", Mod("Opacity", "value*(1-t)")));
  EXPECT_FLOAT_EQ(tree.At(500, kOpacity), 80);
  EXPECT_FLOAT_EQ(tree.At(2000, kOpacity), 40);
  EXPECT_DOUBLE_EQ(tree.root->GroupFraction(0), 0.5);
  EXPECT_FLOAT_EQ(tree.At(3000, kOpacity), 0);
  EXPECT_FLOAT_EQ(tree.At(9000, kOpacity), 0);
  EXPECT_FLOAT_EQ(tree.root->Value(kScaleX), 150);
  tree.root->SetModifiersEnabled(false);
  EXPECT_FLOAT_EQ(tree.At(2000, kOpacity), 80);
}

// Trackers carried from frame to frame, in any direction, agree with a node
// evaluated from scratch.
TEST(LumObjectProps, TrackersAgreeWithFreshEvaluation) {
  std::mt19937 random(7);
  std::string body;
  for (int i = 0; i < 60; ++i) {
    int grps = i % 7 == 0 ? 255 : int(random() % 256);
    int time = int(random() % 4000) - 500;
    if (i % 9 == 0) time = 1000;  // ties
    body +=
        KeyPoint(std::to_string(time), "grps=" + std::to_string(grps) +
                                           "\nOpacity=" + std::to_string(random() % 100) +
                                           "\nPosition=" + std::to_string(random() % 100) +
                                           ",5\nAngle=" + std::to_string(random() % 360) + "\n");
  }
  TTree moving, fresh;
  moving.Load(body);
  fresh.Load(body);
  std::vector<double> times;
  for (double t = -100; t < 3200; t += 16.7) times.push_back(t);
  for (double t = 3200; t > -100; t -= 23.3) times.push_back(t);
  for (int i = 0; i < 300; ++i) times.push_back(double(random() % 3400) - 200);
  times.push_back(1000);
  for (double t : times) {
    moving.root->Evaluate(t, false);
    fresh.root->ResetTrackers(false);
    fresh.root->Evaluate(t, false);
    for (int g = 0; g < kAnimatedGroupCount; ++g) {
      ASSERT_EQ(moving.root->Tracker(g).from, fresh.root->Tracker(g).from) << t << " g" << g;
      ASSERT_EQ(moving.root->Tracker(g).to, fresh.root->Tracker(g).to) << t << " g" << g;
      ASSERT_DOUBLE_EQ(moving.root->GroupFraction(g), fresh.root->GroupFraction(g));
    }
    ASSERT_EQ(moving.root->Values(), fresh.root->Values()) << t;
  }
}

TEST(LumObjectProps, ReloadKeepsNodesObjectsAndModifiers) {
  struct TProbe : TRefObject {
    explicit TProbe(int* freed) : freed_(freed) {}
    ~TProbe() override { ++*freed_; }
    int* freed_;
  };
  auto doc = [](const std::string& fnA, const std::string& revA, const std::string& order) {
    std::string a = Object("Box", "{a}",
                           KeyPoint("0", "Opacity=0\n",
                                    Mod("Opacity", fnA, "id={ma}\n$rev=" + revA + "\n") +
                                        "object F:Filter\nid={fa}\n$rev=1\nend\n") +
                               KeyPoint("1000", "Opacity=100\n"));
    std::string b = Object("Box", "{b}", "");
    std::string c = Object("Box", "{c}", "");
    std::string out;
    for (char ch : order) out += ch == 'a' ? a : ch == 'b' ? b : c;
    return out;
  };
  TTree tree;
  tree.Load(doc("value+1", "1", "abc"));
  TRef<TLumObjectProps> a = tree.root->Children()[0], b = tree.root->Children()[1],
                        c = tree.root->Children()[2];
  int freed = 0;
  auto* token = reinterpret_cast<TLumObject*>(&freed);  // identity only, never used
  c->BindObject(token, MakeRef<TProbe>(&freed));
  const TLumObjectMod* mod = a->KeyFrames()[0]->Mods()[0].get();
  EXPECT_FLOAT_EQ(tree.At(500, kOpacity, a.Get()), 51);

  // Same id and revision: the compiled modifier stays even though "fn" changed.
  tree.Load(doc("value+2", "1", "cab"));
  ASSERT_EQ(tree.root->Children().size(), 3u);
  EXPECT_EQ(tree.root->Children()[0], c);
  EXPECT_EQ(tree.root->Children()[1], a);
  EXPECT_EQ(tree.root->Children()[2], b);
  EXPECT_EQ(c->Object(), token);
  EXPECT_EQ(freed, 0);
  EXPECT_EQ(a->KeyFrames()[0]->Mods()[0].get(), mod);
  EXPECT_EQ(a->KeyFrames()[0]->Filters().size(), 1u);
  EXPECT_EQ(a->KeyFrames()[0]->Filters()[0].id, "{fa}");
  EXPECT_FLOAT_EQ(tree.At(500, kOpacity, a.Get()), 51);

  // A new revision compiles again.
  tree.Load(doc("value+2", "2", "cab"));
  EXPECT_FLOAT_EQ(tree.At(500, kOpacity, a.Get()), 52);

  // A dropped node lets its object go; a new GUID gets a new node.
  tree.Load(doc("value+2", "2", "ab"));
  EXPECT_EQ(tree.root->Children().size(), 2u);
  EXPECT_EQ(c->Parent(), nullptr);
  c = nullptr;  // the last holder of the dropped node
  EXPECT_EQ(freed, 1);
  b->BindObject(token, MakeRef<TProbe>(&freed));
  b->UnbindObject(token);
  EXPECT_EQ(freed, 2);
  EXPECT_EQ(b->Object(), nullptr);
  TLumObjectProps* was = tree.root->Children()[1].Get();
  tree.Load(doc("value+2", "2", "ac"));
  EXPECT_NE(tree.root->Children()[1].Get(), was);
}

TEST(LumObjectProps, ReloadMatchesManyChildrenByGuid) {
  std::string forward, backward;
  for (int i = 0; i < 50; ++i) {
    forward += Object("Box", "{" + std::to_string(i) + "}", "");
    backward = Object("Box", "{" + std::to_string(i) + "}", "") + backward;
  }
  TTree tree;
  tree.Load(forward);
  std::vector<TLumObjectProps*> before;
  for (const auto& child : tree.root->Children()) before.push_back(child.Get());
  TRef<TLumObjectProps> keep = tree.root->Children()[0];
  tree.Load(backward);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(tree.root->Children()[49 - i].Get(), before[i]);
}

TEST(LumObjectProps, BadInput) {
  TTree tree;
  try {
    tree.Load(Object("Box", "{a}", "") + "object X:Box\nend\n");
    FAIL() << "no error";
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find("LumObject GUID not Assigned"), std::string::npos);
  }
  // A failed load leaves nothing half-built behind.
  EXPECT_TRUE(tree.root->Children().empty());
  EXPECT_EQ(tree.root->KeyFrameCount(), 0);
  EXPECT_FLOAT_EQ(tree.At(500, kOpacity), 100);
  // The node can be loaded again afterwards.
  tree.Load(Object("Box", "{a}", ""));
  EXPECT_EQ(tree.root->Children().size(), 1u);

  auto nested = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
      open += "object N:Box\nGUID={" + std::to_string(i) + "}\n";
      close += "end\n";
    }
    return open + close;
  };
  // The root and 255 levels below it: the deepest a document may nest.
  EXPECT_NO_THROW(tree.Load(nested(TLumObjectProps::kMaxDepth - 1)));
  // Deeper trees can only be built in memory; they are refused, not recursed into.
  for (int depth : {TLumObjectProps::kMaxDepth, 5000}) {
    tree.Load("");
    TIniList* list = tree.doc.Section("Slide")->FindObject("Container");
    for (int i = 0; i < depth; ++i) {
      list = list->AddObject("N", "Box");
      list->AddItem("GUID", "{" + std::to_string(i) + "}");
    }
    try {
      tree.root->Load(tree.doc.Section("Slide")->FindObject("Container"), tree.timing);
      FAIL() << "no error at depth " << depth;
    } catch (const ELumError& e) {
      EXPECT_STREQ(e.what(), "Objects nested deeper than 256 levels");
    }
  }
}

TEST(LumObjectProps, TenThousandKeyFrames) {
  std::string body;
  // Written last to first, so loading sorts them.
  for (int i = 9999; i >= 0; --i)
    body += KeyPoint(std::to_string(i * 10), "Opacity=" + std::to_string(i % 2 * 100) +
                                                 "\ngrps=" + (i % 3 ? "255" : "1") + "\n");
  TTree tree;
  tree.timing = {100000, 0, 0};
  tree.Load(body);
  ASSERT_EQ(tree.root->KeyFrameCount(), 10000);
  EXPECT_DOUBLE_EQ(tree.root->KeyFrames()[9999]->Time(), 99990);
  for (double t = 0; t < 99990; t += 16.7) {
    tree.root->Evaluate(t, false);
    const double local = std::fmod(t, 20) / 10;  // frames alternate 0 and 100
    const double expected = local <= 1 ? local * 100 : (2 - local) * 100;
    ASSERT_NEAR(tree.root->Value(kOpacity), expected, 1e-3) << t;
  }
  tree.root->Evaluate(5, false);
  EXPECT_NEAR(tree.root->Value(kOpacity), 50, 1e-3);
}

}  // namespace
}  // namespace lum
