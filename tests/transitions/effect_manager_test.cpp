// Transition descriptions, durations, variants and the chooser, over small
// project documents.
#include <gtest/gtest.h>

#include "foundation/errors.h"
#include "transitions/effect_builder.h"
#include "transitions/effect_rotation.h"
#include "transitions/lum_effect_manager.h"

namespace lum {
namespace {

std::string Catalogue(const std::string& entries, const std::string& time = "time=1500\n") {
  return "[Main]\nobject TheEffect:AnEffect\n" + time + entries + "end\n";
}

std::string Entry(const std::string& name, const std::string& cls, int stdidx,
                  const std::string& keys) {
  return "object " + name + ":" + cls + "\ncaption=The " + name +
         "\nstdidx=" + std::to_string(stdidx) + "\n" + keys + "end\n";
}

std::string SlideEffect(int n, const std::string& body) {
  return "[Slide" + std::to_string(n) + "]\nobject TheEffect:AnEffect\n" + body + "end\n";
}

const std::string kDissolve = Entry("dissolve", "dissolve", 2, "key=checked\nchecked=1\n");

struct TFixture {
  TIniFile doc;
  std::unique_ptr<TLUMEffectManager> manager;
  TEffectRotation rotation{12345};
  explicit TFixture(const std::string& text) {
    doc.LoadText(text);
    manager = std::make_unique<TLUMEffectManager>(&doc);
    rotation.Build(*manager);
  }
  TTransitionChoice Choose(int slide, int count = 8) {
    return rotation.TransitionForSlide(*manager, slide, count);
  }
};

TEST(EffectManager, SpecialNamesAndDurations) {
  TFixture f(Catalogue(kDissolve) + SlideEffect(1, "ref=quick\ntime=3000\n") +
             SlideEffect(2, "ref=Default\ntime=99\n") + SlideEffect(3, "ref=dissolve\n") +
             SlideEffect(4, "ref=dissolve\ntime=800\nsmoothline=0.5\n") + "[Slide5]\n");
  EXPECT_EQ(f.manager->Duration(0), 0);
  EXPECT_FALSE(f.Choose(0).effect);
  EXPECT_EQ(f.manager->Duration(1), 1500);  // "default" takes the catalogue's time
  EXPECT_EQ(f.Choose(1).duration, 1500);
  EXPECT_EQ(f.manager->Duration(2), 0);   // timeline: the slide's own time only
  EXPECT_EQ(f.Choose(2).duration, 1500);  // lookup chain: the catalogue's time
  TTransitionChoice c = f.Choose(3);
  ASSERT_TRUE(c.effect);
  EXPECT_EQ(c.effect->type, kEffectDissolve);
  EXPECT_EQ(c.duration, 800);
  EXPECT_DOUBLE_EQ(c.smoothness, 0.5);
  // A slide without a description gets a "default" one.
  EXPECT_EQ(f.manager->SlideProp(4)->Name(), "default");
  EXPECT_NE(FindObject(f.doc.Section("Slide5"), "TheEffect"), nullptr);
}

TEST(EffectManager, DefaultWithoutCheckedEntriesHasNoTransition) {
  TFixture f(Catalogue(Entry("dissolve", "dissolve", 2, "key=checked\nchecked=0\n")) +
             SlideEffect(1, "ref=default\n") + SlideEffect(2, "ref=defowntime\n"));
  EXPECT_FALSE(f.manager->AnyChecked());
  EXPECT_EQ(f.manager->Duration(0), 0);
  EXPECT_EQ(f.manager->Duration(1), 0);
  EXPECT_TRUE(f.rotation.Effects().empty());
  EXPECT_FALSE(f.Choose(0).effect);
}

TEST(EffectManager, DefOwnTimeTakesTheDefaultOnce) {
  TFixture f(Catalogue(kDissolve) + SlideEffect(1, "ref=defowntime\n") +
             SlideEffect(2, "ref=defowntime\ntime=2500\n"));
  EXPECT_EQ(f.manager->Duration(0), 0);     // created now ...
  EXPECT_EQ(f.manager->Duration(0), 1500);  // ... and used from then on
  EXPECT_EQ(f.manager->Duration(1), 2500);
  TTransitionChoice c = f.Choose(1);
  ASSERT_TRUE(c.effect);
  EXPECT_EQ(c.duration, 2500);
}

TEST(EffectManager, MissingCatalogueGivesNoDefaults) {
  TFixture f("[Main]\n" + SlideEffect(1, "ref=default\n"));
  EXPECT_EQ(f.manager->DefaultDuration(), 0);
  EXPECT_EQ(f.manager->CatalogueSize(), 3);
  EXPECT_EQ(f.manager->Entry(0)->Name(), "default");
  EXPECT_EQ(f.manager->Entry(2)->Name(), "quick");
  EXPECT_EQ(f.manager->Duration(0), 0);
  TFixture noTime(Catalogue(kDissolve, ""));
  EXPECT_EQ(noTime.manager->DefaultDuration(), 2000);
  EXPECT_THROW(TLUMEffectManager(nullptr), EAssertion);
}

TEST(EffectManager, ParameterLookupChain) {
  TFixture f(Catalogue(Entry("gates", "gates", 6,
                             "key=direction\ndirection=11111111\n"
                             "smoothline=0.3\n") +
                       "quick=catalogue-own\n") +
             SlideEffect(1, "ref=gates\ndirection=00000001\n") + SlideEffect(2, "ref=mystery\n"));
  TEffectProp* slide = f.manager->SlideProp(0);
  EXPECT_EQ(slide->ParamText("direction"), "00000001");  // own value first
  EXPECT_EQ(slide->ParamText("smoothline"), "0.3");      // then the entry
  EXPECT_EQ(slide->ParamText("time"), "1500");           // entries share the catalogue's time
  EXPECT_EQ(slide->ParamText("caption"), "The gates");
  EXPECT_EQ(slide->ParamText("quick"), "");  // the entry exists, so the catalogue is not asked
  TEffectProp* unknown = f.manager->SlideProp(1);
  EXPECT_EQ(unknown->ParamText("quick"), "catalogue-own");
  EXPECT_FALSE(unknown->Param("caption"));
  EXPECT_EQ(f.manager->EntryByName("defowntime")->ParamText("time"), "1500");
  EXPECT_EQ(f.manager->EntryByName("quick")->ParamText("group"), "GroupBasic");
  EXPECT_EQ(f.manager->EntryByName("DEFAULT")->Kind(), kKindDefault);
  EXPECT_EQ(unknown->Kind(), kKindDissolve);
}

TEST(EffectManager, VariantFlagsOfTheKinds) {
  TFixture f(Catalogue(kDissolve) + SlideEffect(1, "ref=gates\ntime=900\ndirection=00000000\n") +
             SlideEffect(2, "ref=hourhand\ntime=900\naction=11\ndirection=000000001\n") +
             SlideEffect(3, "ref=push\ntime=900\ndirection=1000\n") +
             SlideEffect(4,
                         "ref=curling\ntime=900\naction=01\ndirection=10000000\n"
                         "usecolor=1\nusevolume=0\nradius=abc\n") +
             SlideEffect(5, "ref=swap\ntime=900\ndirection=0011\ndepth=deep\nangle=45\n"));
  f.rotation.SetDeterministic(true);
  // No enabled variant: no transition, while the timeline keeps its time.
  EXPECT_FALSE(f.Choose(0).effect);
  EXPECT_EQ(f.manager->Duration(0), 900);

  TTransitionChoice hour = f.Choose(1);
  ASSERT_TRUE(hour.effect);
  EXPECT_EQ(hour.effect->variantCount, 2);
  std::vector<bool> flags = hour.effect->flags;
  ASSERT_EQ(flags.size(), 11u);
  EXPECT_EQ(int(flags[0]) + int(flags[1]), 2);  // built from the description: both actions
  EXPECT_TRUE(flags[10]);
  TLumEffect one = KeepVariant(*hour.effect, 1);
  EXPECT_EQ(one.flags, (std::vector<bool>{false, true, 0, 0, 0, 0, 0, 0, 0, 0, true}));
  EXPECT_DOUBLE_EQ(hour.smoothness, 0.35);

  TTransitionChoice push = f.Choose(2);
  ASSERT_TRUE(push.effect);
  EXPECT_EQ(push.effect->flags, (std::vector<bool>{false, true, false, false}));

  TTransitionChoice curl = f.Choose(3);
  ASSERT_TRUE(curl.effect);
  EXPECT_EQ(curl.effect->type, kEffectCurling);
  // Directions run from the eighth character back to the first; options follow.
  EXPECT_TRUE(curl.effect->flags[9]);
  EXPECT_TRUE(curl.effect->flags[10]);
  EXPECT_FALSE(curl.effect->flags[11]);
  EXPECT_EQ(curl.effect->floats, (std::vector<float>{0.f, 0.125f}));

  TTransitionChoice swap = f.Choose(4);
  ASSERT_TRUE(swap.effect);
  EXPECT_EQ(swap.effect->variantCount, 2);
  EXPECT_EQ(swap.effect->floats, (std::vector<float>{4.f, 1.f, 45.f}));
}

TEST(EffectManager, AbsurdFlagStringsStayBounded) {
  std::string huge(1'000'000, '1');
  TFixture f(Catalogue(Entry("fx", "custom", 14, "key=a,b\na=" + huge + "\nb=" + huge + "\n")) +
             SlideEffect(1, "ref=gates\ntime=500\ndirection=" + huge + "\n"));
  EXPECT_EQ(f.manager->EntryByName("fx")->CustomVariantCount(), kMaxCustomVariants);
  EXPECT_EQ(f.rotation.Effects().size(), size_t(kMaxCustomVariants));
  TTransitionChoice c = f.Choose(0);
  ASSERT_TRUE(c.effect);
  EXPECT_EQ(c.effect->variantCount, 8);
}

TEST(EffectRotation, NormalChoicesAlternateOddAndEven) {
  TFixture f(Catalogue(Entry("gates", "gates", 6, "key=direction\ndirection=11110000\n")));
  ASSERT_EQ(f.rotation.Effects().size(), 1u);
  EXPECT_EQ(f.rotation.Effects()[0].variantCount, 4);
  for (int i = 0; i < 12; ++i) {
    auto e = f.rotation.Choose(i);
    ASSERT_TRUE(e);
    int v = 0;
    while (!e->flags[size_t(v)]) ++v;
    EXPECT_EQ(v % 2, i % 2 == 0 ? 1 : 0) << "choice " << i;
  }
}

TEST(EffectRotation, DeterministicChoicesDependOnTheSlideOnly) {
  std::string text =
      Catalogue(kDissolve +
                Entry("page", "page", 7,
                      "key=direction\n"
                      "direction=11111111\n") +
                Entry("mosaic", "mosaic", 8, "key=checked\nchecked=1\ncols=4\nrows=x\n"));
  TFixture a(text), b(text);
  a.rotation.SetDeterministic(true);
  b.rotation.SetDeterministic(true);
  ASSERT_EQ(a.rotation.Effects().size(), 3u);
  for (int slide : {0, 1, 2, 3, 4, 5, 17, 18, 3}) {
    auto x = a.rotation.Choose(slide), y = b.rotation.Choose(slide);
    ASSERT_TRUE(x && y);
    EXPECT_EQ(x->type, y->type);
    EXPECT_EQ(x->flags, y->flags);
    if (x->type == kEffectPage) {
      int v = 0;
      while (!x->flags[size_t(v)]) ++v;
      EXPECT_EQ(v % 2, slide % 2) << slide;
    }
    if (x->type == kEffectMosaic) {
      EXPECT_EQ(x->ints, (std::vector<int32_t>{4, 1, 0, 0}));
    }
  }
}

TEST(EffectRotation, MosaicSeedFollowsTheMode) {
  TFixture f(Catalogue(kDissolve) + SlideEffect(1, "ref=mosaic\ntime=500\n"));
  f.rotation.SetDeterministic(true);
  EXPECT_EQ(f.Choose(9, 1).effect->ints.back(), 9);
  f.rotation.SetDeterministic(false);
  int32_t seed = f.Choose(9, 1).effect->ints.back();
  EXPECT_GE(seed, 0);
  EXPECT_LT(seed, 4096 * 4096);
}

TEST(CustomTransitions, VariantsDecomposeOverTheKeys) {
  TFixture f(Catalogue(Entry("wave", "custom", 14,
                             "key=a,b\na=10\nb=011\nvariant1=waveB\nvariant2=waveC\n")) +
             "[effect_waveB]\nlabel=B\n[effect_waveC]\nlabel=C\n" +
             SlideEffect(1, "ref=wave\ntime=700\n"));
  TEffectProp* wave = f.manager->EntryByName("wave");
  ASSERT_TRUE(wave->IsCustom());
  EXPECT_EQ(wave->CustomVariantCount(), 6);
  std::vector<int> enabled;
  for (int k = 0; k < 6; ++k)
    if (wave->CustomVariantEnabled(k)) enabled.push_back(k);
  EXPECT_EQ(enabled, (std::vector<int>{1, 2}));
  EXPECT_FALSE(wave->CustomSection(0));  // no "effect_wave" section
  ASSERT_EQ(f.rotation.Effects().size(), 2u);
  TTransitionChoice c = f.Choose(0);
  ASSERT_TRUE(c.effect && c.effect->section);
  EXPECT_EQ(c.effect->type, kEffectCustom);
  EXPECT_EQ(ReadString(c.effect->section->Section(), "label", ""), "B");
}

TEST(CustomTransitions, SectionCopyCarriesUserValuesAndBackground) {
  TFixture f(Catalogue(Entry("glow", "custom", 14,
                             "key=checked\nchecked=1\nspeed=7\nlabel=entry\nbstyle=3\n"
                             "bcolor2=255\n")) +
             "[effect_glow]\nuserprops=3\nprop0=name:Speed;id:speed;type:Int\n"
             "prop1=name:Label;id:label\nprop2=id:missing\nsectionfield=label\nlabel=own\n"
             "object Container:Root\nx=1\nobject Img:Image\nsrc=a.png\nend\nend\n");
  TRef<TEffectSection> copy = f.manager->EntryByName("glow")->CustomSection(0);
  ASSERT_TRUE(copy);
  TIniList* s = copy->Section();
  TIniObject* root = FindObject(s, "Container", "Root");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(ReadString(root, "speed", ""), "7");
  EXPECT_EQ(FindItem(root, "label"), nullptr);  // listed in "sectionfield"
  EXPECT_EQ(ReadString(FindObject(root, "Img"), "src", ""), "a.png");
  EXPECT_EQ(ReadString(s, "bstyle", ""), "3");
  EXPECT_EQ(ReadString(s, "bcolor1", ""), "16711680");
  EXPECT_EQ(ReadString(s, "bcolor2", ""), "255");
  EXPECT_EQ(ReadString(s, "bcolorStyle", ""), "1");
  EXPECT_EQ(ReadString(s, "CustomEffBg", ""), "0");
  EXPECT_EQ(ReadString(s, "CoverMode", ""), "1");
  EXPECT_EQ(ReadString(s, "opt_scr_width", ""), "1920");
  // The document's own section is untouched.
  EXPECT_EQ(FindItem(f.doc.Section("effect_glow"), "CoverMode"), nullptr);
  // Variants without a name of their own use the entry's section.
  EXPECT_TRUE(f.manager->EntryByName("glow")->CustomSection(1));
}

TEST(CustomTransitions, UnknownNamesHaveNoSection) {
  TFixture f(Catalogue(kDissolve) + SlideEffect(1, "ref=Sparkle\ntime=600\nsmoothline=0.05\n"));
  TTransitionChoice c = f.Choose(0);
  ASSERT_TRUE(c.effect);
  EXPECT_EQ(c.effect->type, kEffectCustom);
  EXPECT_FALSE(c.effect->section);
  EXPECT_DOUBLE_EQ(c.smoothness, 0.001);
}

}  // namespace
}  // namespace lum
