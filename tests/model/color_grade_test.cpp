// Colour grades of picture objects: the mode chosen from the chains in play,
// the "Color" segment fraction, baking (with a colour-management look-up
// folded in) and rebuilding only when a chain changes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "document/ini_file.h"
#include "imaging/color_lookup.h"
#include "model/color_grade.h"
#include "model/lum_object_props.h"
#include "model/object_filter.h"

namespace lum {
namespace {

std::string Filter(const std::string& name, const std::string& keys = "") {
  return "object " + name + ":Filter\n" + keys + "end\n";
}

std::string KeyPoint(int time, const std::string& children, const std::string& keys = "") {
  return "object K:KeyPoint\nTime=" + std::to_string(time) + "\n" + keys + children + "end\n";
}

struct TPictureNode {
  TIniFile doc;
  TRef<TLumObjectProps> root = MakeRef<TLumObjectProps>();
  TColorGrades grades;

  void Load(const std::string& keyPoints) {
    doc.LoadText("[Slide]\nobject Container:Root\nobject O:Image\nGUID={p}\n" + keyPoints +
                 "end\nend\n");
    root->Load(doc.Section("Slide")->FindObject("Container"), {4000, 0, 0});
  }
  TColorGradeDraw At(double t, const TBitmap* lookup = nullptr) {
    TLumObjectProps* node = root->Children()[0].Get();
    node->Evaluate(t, false);
    return grades.Current(node, lookup);
  }
};

// Channel values of a curve entry.
int Blue(const TBitmap& curve, int n) {
  return curve.Row(0)[4 * n];
}

TEST(ColorGrade, ModeFollowsTheChainsInPlay) {
  TPictureNode p;
  p.Load(KeyPoint(0, "") + KeyPoint(1000, ""));
  EXPECT_EQ(p.At(500).mode, 0);

  // A disabled cross-channel filter leaves a per-channel grade.
  p.Load(KeyPoint(0, Filter("HSL", "Hue=90\nDisable=1\n") + Filter("Levels", "Min=100\n")));
  TColorGradeDraw g = p.At(0);
  ASSERT_EQ(g.mode, kGradeCurves);
  ASSERT_EQ(g.from->Width(), 256);
  EXPECT_EQ(Blue(*g.from, 100), 0);
  EXPECT_EQ(Blue(*g.from, 255), 255);

  p.Load(KeyPoint(0, Filter("Levels")) + KeyPoint(1000, Filter("Colorization")));
  g = p.At(200);
  EXPECT_EQ(g.mode, kGradeVolumes);
  // Both ends are baked the same way, so the drawer can blend them.
  EXPECT_EQ(g.from->Height(), kLookupRows);
  EXPECT_EQ(g.to->Height(), kLookupRows);
  EXPECT_NEAR(g.t, 0.2, 1e-9);
}

TEST(ColorGrade, HalfInvertedMidway) {
  TPictureNode p;
  p.Load(KeyPoint(0, Filter("Invert")) + KeyPoint(2000, ""));
  const TColorGradeDraw g = p.At(1000);
  ASSERT_EQ(g.mode, kGradeCurves);
  EXPECT_DOUBLE_EQ(g.t, 0.5);
  for (int n : {0, 77, 255}) {
    EXPECT_EQ(Blue(*g.from, n), 255 - n);
    EXPECT_EQ(Blue(*g.to, n), n);
  }
  // A key frame that does not set "Color" does not split its segment.
  p.Load(KeyPoint(0, Filter("Invert")) + KeyPoint(1000, "", "grps=1\n") + KeyPoint(2000, ""));
  EXPECT_DOUBLE_EQ(p.At(1000).t, 0.5);
}

TEST(ColorGrade, LookupIsFoldedIntoVolumes) {
  TRef<TBitmap> lookup = MakeLookupBase(TLookupBase::Identity);
  lookup->Row(5)[4 * 3] = 17;  // a conversion of the profile
  TPictureNode p;
  p.Load(KeyPoint(0, Filter("Invert")));
  TColorGradeDraw g = p.At(0, lookup.Get());
  ASSERT_EQ(g.mode, kGradeVolumes);
  EXPECT_EQ(g.from->Row(5)[4 * 3], 255 - 17);
  EXPECT_EQ(g.from->Row(9)[4 * 2 + 2], 255 - lookup->Row(9)[4 * 2 + 2]);
  // Without filters the look-up alone grades the picture.
  p.Load(KeyPoint(0, ""));
  g = p.At(0, lookup.Get());
  ASSERT_EQ(g.mode, kGradeVolumes);
  EXPECT_EQ(g.from->Row(5)[4 * 3], 17);
  // A picture of the wrong size is no look-up.
  TBitmap wrong(8, 8, TPixelFormat::Bgra32);
  EXPECT_EQ(p.At(0, &wrong).mode, 0);
}

TEST(ColorGrade, BakedOnceAndAgainOnlyOnChange) {
  // 1,000 filters: baked into the table once, then only read.
  std::string many;
  for (int i = 0; i < 1000; ++i) many += Filter("Invert", "id={i" + std::to_string(i) + "}\n$rev=1\n");
  TPictureNode p;
  const std::string frame0 = KeyPoint(0, many + Filter("Levels", "id={l}\n$rev=1\nMin=10\n"));
  p.Load(frame0);
  const TColorGradeDraw first = p.At(0);
  ASSERT_EQ(first.mode, kGradeCurves);
  EXPECT_EQ(Blue(*first.from, 10), 0);
  EXPECT_EQ(Blue(*first.from, 255), 255);
  EXPECT_EQ(p.At(100).from, first.from);

  // Reloaded with the same ids and revisions: filters and table are kept.
  const TObjectFilter* levels =
      p.root->Children()[0]->KeyFrames()[0]->FilterChain().Filters().back().Get();
  p.Load(frame0);
  EXPECT_EQ(p.root->Children()[0]->KeyFrames()[0]->FilterChain().Filters().back().Get(), levels);
  EXPECT_EQ(levels->ParamLoads(), 1);
  EXPECT_EQ(p.At(0).from, first.from);

  // A new revision reads the parameters again; "Disable" is read every time.
  p.Load(KeyPoint(0, many + Filter("Levels", "id={l}\n$rev=2\nMin=20\n")));
  TColorGradeDraw g = p.At(0);
  EXPECT_NE(g.from, first.from);
  EXPECT_EQ(Blue(*g.from, 15), 0);
  p.Load(KeyPoint(0, many + Filter("Levels", "id={l}\n$rev=2\nMin=20\nDisable=1\n")));
  EXPECT_EQ(Blue(*p.At(0).from, 15), 15);
}

// Baking works on distinct colours and composes per-channel runs: it must
// give exactly what applying the chain cell by cell gives.
TEST(ColorGrade, BakingEqualsTheChainAppliedCellByCell) {
  const char* names[] = {"Levels",       "BrightContrast", "Invert",       "HSL",
                         "Colorization", "Colorisation2",  "Colorisation3"};
  uint32_t seed = 12345;
  auto next = [&](int n) {
    seed = seed * 1664525u + 1013904223u;
    return int((seed >> 8) % uint32_t(n));
  };
  for (int round = 0; round < 40; ++round) {
    TFilterChain chain;
    const int length = 1 + next(round < 30 ? 6 : 200);
    for (int i = 0; i < length; ++i) {
      TRef<TObjectFilter> f = CreateFilter(names[next(7)]);
      for (int k = 0; k < f->ParamCount(); ++k) {
        const TFilterParamInfo& info = f->ParamInfo()[size_t(k)];
        f->SetParam(k, info.type == TFilterParamType::Color
                           ? std::to_string(next(256)) + "," + std::to_string(next(256)) + "," +
                                 std::to_string(next(256))
                           : std::to_string(int(info.min) + next(int(info.max - info.min) + 1)));
      }
      f->SetDisabled(next(5) == 0);
      chain.Add(f);
    }
    for (int mode : {kGradeCurves, kGradeVolumes}) {
      TRef<TBitmap> baked = BakeColorGrade(chain, mode, nullptr);
      TRef<TBitmap> plain = BakeColorGrade(TFilterChain(), mode, nullptr);
      chain.Apply(plain->Row(0), plain->Width(), plain->Height(), plain->Pitch());
      for (int y = 0; y < plain->Height(); ++y)
        ASSERT_EQ(std::memcmp(baked->Row(y), plain->Row(y), size_t(plain->Width()) * 4), 0)
            << "round " << round << " mode " << mode << " row " << y;
    }
  }
}

}  // namespace
}  // namespace lum
