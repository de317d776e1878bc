// Modifiers: section keys, name binding, evaluation and reload; the table of
// animated fields they name.
#include <gtest/gtest.h>

#include <array>

#include "foundation/errors.h"
#include "model/animated_field_desk.h"
#include "model/lum_object_mod.h"

namespace lum {
namespace {

struct TFakeAnimation : IModifierContext {
  std::array<double, kAnimatedGroupCount> times{};
  std::array<double, kAnimatedFieldCount> fields{};
  double GroupTime(int group) override { return times[group]; }
  double FieldValue(int field) override { return fields[field]; }
};

struct TModFixture {
  TIniFile doc;
  TLumObjectMod mod;
  TFakeAnimation anim;
  bool Load(const std::string& keys) {
    doc.LoadText("[Mod]\r\n" + keys);
    return mod.Load(doc.Section("Mod"));
  }
  double Eval() { return mod.Evaluate(anim); }
};

TEST(AnimatedFieldDesk, TableAndNames) {
  const TAnimatedFieldDesk& desk = TAnimatedFieldDesk::Instance();
  ASSERT_EQ(desk.Count(), 15);
  EXPECT_EQ(desk.FieldByName("pos.x"), 1);
  EXPECT_EQ(desk.FieldByName("Frame.Y"), 14);
  EXPECT_EQ(desk.FieldByName("Pos"), -1);
  EXPECT_EQ(desk.GroupByName("COLOR"), 6);
  EXPECT_EQ(desk.GroupByName("Pos.X"), -1);
  EXPECT_STREQ(desk.GroupName(7), "Frame");
  EXPECT_DOUBLE_EQ(desk.Row(6).unitScale, 1.0 / 360);
  EXPECT_STREQ(desk.Row(10).key, "CenterPos");
  EXPECT_EQ(desk.Row(10).component, 1);
  ASSERT_EQ(desk.PairKeys().size(), 2u);
  EXPECT_STREQ(desk.PairKeys()[0], "Position");
  EXPECT_STREQ(desk.PairKeys()[1], "CenterPos");
}

TEST(AnimatedFieldDesk, SelfCheckMessages) {
  auto message = [](std::vector<TAnimatedFieldRow> rows) -> std::string {
    try {
      TAnimatedFieldDesk::Check(rows);
    } catch (const EAssertion& e) {
      return e.what();
    }
    return "";
  };
  std::span<const TAnimatedFieldRow> good = TAnimatedFieldDesk::Instance().Rows();
  std::vector<TAnimatedFieldRow> rows(good.begin(), good.end());
  EXPECT_EQ(message(rows), "");
  auto bad = rows;
  bad[3].index = 4;
  EXPECT_NE(message(bad).find("Invalid lum keyframe param index"), std::string::npos);
  bad = rows;
  bad[5].unitScale = 0;
  EXPECT_NE(message(bad).find("Invalid keyframe Value multiplier"), std::string::npos);
  bad = rows;
  bad[0].group = 8;
  EXPECT_NE(message(bad).find("Invalid Group Range"), std::string::npos);
  bad = rows;
  bad[3].component = 0;  // "ZPos" becomes a third pair key
  EXPECT_NE(message(bad).find("pair key"), std::string::npos);
}

TEST(ModParamInfo, FieldsAndDefaults) {
  TModParamInfo p = ParseModParamInfo("name:Ease in;id:x1;type:float;range:-5,5,1");
  EXPECT_EQ(p.name, "Ease in");
  EXPECT_EQ(p.id, "x1");
  EXPECT_EQ(p.type, TModParamType::Float);
  EXPECT_EQ(p.min, -5);
  EXPECT_EQ(p.max, 5);
  EXPECT_EQ(p.def, 1);
  p = ParseModParamInfo("id:n;type:Int;range:10");
  EXPECT_EQ(p.type, TModParamType::Int);
  EXPECT_EQ(p.min, 10);
  EXPECT_EQ(p.max, 100);
  EXPECT_EQ(p.def, 0);
  p = ParseModParamInfo("type:COMBO;junk;range:1,2,3");
  EXPECT_EQ(p.type, TModParamType::Combo);
  EXPECT_EQ(p.max, 100);  // range only for numbers
  EXPECT_EQ(ParseModParamInfo("type:Whatever").type, TModParamType::String);
}

TEST(LumObjectMod, SectionKeys) {
  TModFixture f;
  ASSERT_TRUE(
      f.Load("fn=QSplineGraph(value,x1/100,y1/100,1-x2/100,1-y2/100)\r\ndst=Pos.t\r\npcount=2\r\n"
             "pinfo0=name:X1;id:x1;type:Int;range:0,100,25\r\npinfo1=name:Y1;id:y1;type:Int\r\n"
             "x1=25\r\ny1=0\r\nx2=25\r\ny2=0\r\nPreset=Ease#3\r\nid={1B4E28BA-2FA1-11D2-883F-"
             "B9A761BDE3FB}\r\n"
             "$rev=12345678901\r\nDisable=1\r\n"));
  const TLumObjectMod& m = f.mod;
  EXPECT_TRUE(m.Compiled()) << m.ErrorMessage();
  EXPECT_EQ(m.Dst(), "Pos.t");
  EXPECT_TRUE(m.DstIsTime());
  EXPECT_EQ(m.DstGroup(), kGroupPos);
  EXPECT_EQ(m.DstField(), -1);
  ASSERT_EQ(m.Params().size(), 2u);
  EXPECT_EQ(m.Params()[0].def, 25);
  EXPECT_EQ(m.Params()[1].name, "Y1");
  EXPECT_EQ(m.Preset(), "Ease#3");
  EXPECT_EQ(m.Id(), "{1B4E28BA-2FA1-11D2-883F-B9A761BDE3FB}");
  EXPECT_EQ(m.Revision(), 12345678901);
  EXPECT_TRUE(m.Disabled());
  // The keys fold into the curve's table; only the time fraction stays a call.
  ASSERT_EQ(m.Program().Count(), 2);
  EXPECT_EQ(CalcCmdText(m.Program()[0]), "call Pos.t");
  EXPECT_EQ(CalcCmdText(m.Program()[1]), "call(1) QSplineGraph-opt(0.25:0;0.75:1)");
  f.anim.times[kGroupPos] = 0;
  EXPECT_NEAR(f.Eval(), 0, 1e-12);
  f.anim.times[kGroupPos] = 1;
  EXPECT_NEAR(f.Eval(), 1, 1e-12);
  f.anim.times[kGroupPos] = 0.5;
  EXPECT_NEAR(f.Eval(), 0.5, 1e-9);
}

TEST(LumObjectMod, HostileParameterCountIsBounded) {
  TModFixture f;
  f.Load("dst=Pos.X\r\nfn=1\r\npcount=2000000000\r\npinfo3=id:k;type:Int");
  ASSERT_EQ(f.mod.Params().size(), size_t(TLumObjectMod::kMaxParams));
  EXPECT_EQ(f.mod.Params()[3].id, "k");
  EXPECT_EQ(f.mod.Params()[4].id, "");
  f.Load("dst=Pos.X\r\nfn=1\r\npcount=-5");
  EXPECT_TRUE(f.mod.Params().empty());
}

TEST(LumObjectMod, NameResolutionOrder) {
  TModFixture f;
  f.anim.times = {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
  for (int i = 0; i < kAnimatedFieldCount; ++i) f.anim.fields[i] = 100 + i;
  struct TCase {
    const char* keys;
    double value;
  } cases[] = {
      {"dst=Scale.t\r\nfn=t", 0.2},
      {"dst=Scale.t\r\nfn=T + angle.T", 0.5},
      {"dst=Scale.t\r\nfn=value*10", 2},
      {"dst=Pos.Y\r\nfn=value", 102},
      {"dst=Pos.Y\r\nfn=t", 0.1},  // the group of the field
      {"dst=Pos.Y\r\nfn=Frame.S + Opacity", 212},
      {"dst=Pos.Y\r\nfn=k*2 + missing\r\nk=1.5\r\nmissing=abc", 3},
      {"dst=Pos.Y\r\nfn=pi\r\npi=5", 3.141592653589793},  // built-ins first
      {"dst=Pos.Y\r\nfn=Pos.X\r\nPos.X=7", 7},            // own keys before fields
      {"dst=Color.t\r\nfn=value", 0.6},
      {"dst=Pos.t\r\nfn=value+Sqr(2)\r\nvalue=9", 4.1},  // "value" is the target, not a key
  };
  for (const TCase& c : cases) {
    f.Load(c.keys);
    ASSERT_TRUE(f.mod.Compiled()) << c.keys << ": " << f.mod.ErrorMessage();
    EXPECT_NEAR(f.Eval(), c.value, 1e-12) << c.keys;
  }
  for (const char* keys :
       {"dst=Pos.t\r\nfn=Foo.t", "dst=Pos.t\r\nfn=Pos.W", "dst=Pos.t\r\nfn=unknown",
        "dst=nothing\r\nfn=t", "dst=nothing\r\nfn=value"}) {
    f.Load(keys);
    EXPECT_FALSE(f.mod.Compiled()) << keys;
    EXPECT_EQ(f.mod.ErrorCode(), 4) << keys;
    EXPECT_EQ(f.Eval(), 0);
  }
}

TEST(LumObjectMod, EvaluationYieldsZeroOnFailure) {
  TModFixture f;
  f.Load("dst=Pos.X\r\nfn=1/(t-t)");  // compiles; divides by zero at run time
  EXPECT_TRUE(f.mod.Compiled());
  EXPECT_EQ(f.Eval(), 0);
  f.Load("dst=Pos.X\r\nfn=t\r\n");
  f.anim.times[kGroupPos] = 0.25;
  EXPECT_EQ(f.Eval(), 0.25);
  // Nothing to compile: empty fn or dst, or an expression over 256 characters.
  for (std::string keys : {std::string("dst=Pos.X\r\nfn="), std::string("dst=\r\nfn=1"),
                           "dst=Pos.X\r\nfn=1" + std::string(250, ' ') + "+1+1+1",
                           "dst=Pos.X\r\nfn=1" + std::string(256, '+') + "1"}) {
    f.Load(keys);
    EXPECT_FALSE(f.mod.Compiled()) << keys.size();
    EXPECT_EQ(f.Eval(), 0);
  }
  f.Load("dst=Pos.X\r\nfn=t" + std::string(253, ' ') + "+1");
  EXPECT_TRUE(f.mod.Compiled()) << f.mod.ErrorMessage();  // exactly 256 characters
  f.Load("dst=Pos.X\r\nfn=(1");
  EXPECT_FALSE(f.mod.Compiled());
  EXPECT_EQ(f.mod.ErrorMessage(), "Expected Operator or \")\"");
  EXPECT_TRUE(f.mod.Program().Empty());
}

TEST(LumObjectMod, ModifierWithTwoValuesYieldsZero) {
  // No expression of the language leaves two values; a resolver-bound
  // function that pushes an extra one does.
  struct TTwoContext : IModifierContext {
    double GroupTime(int) override { return 1; }
    double FieldValue(int) override { return 2; }
  } context;
  TModFixture f;
  f.Load("dst=Pos.X\r\nfn=Pos.Y");
  ASSERT_TRUE(f.mod.Compiled());
  EXPECT_EQ(f.mod.Evaluate(context), 2);
  const_cast<TCalcCmdList&>(f.mod.Program()).AddLoad(7);
  EXPECT_EQ(f.mod.Evaluate(context), 0);
}

TEST(LumObjectMod, ReloadKeepsProgramOfSameRevision) {
  TModFixture f;
  EXPECT_TRUE(f.Load("id={A}\r\n$rev=1\r\ndst=Pos.X\r\nfn=2"));
  EXPECT_EQ(f.Eval(), 2);
  EXPECT_FALSE(f.Load("id={A}\r\n$rev=1\r\ndst=Pos.X\r\nfn=3\r\nDisable=1"));
  EXPECT_EQ(f.Eval(), 2);
  EXPECT_TRUE(f.mod.Disabled());
  EXPECT_TRUE(f.Load("id={A}\r\n$rev=2\r\ndst=Pos.X\r\nfn=3"));
  EXPECT_EQ(f.Eval(), 3);
  EXPECT_TRUE(f.Load("id={B}\r\n$rev=2\r\ndst=Pos.X\r\nfn=4"));
  EXPECT_EQ(f.Eval(), 4);
  // Without an id one is made, different each time, so a reload compiles.
  EXPECT_TRUE(f.Load("dst=Pos.X\r\nfn=5"));
  std::string made = f.mod.Id();
  EXPECT_EQ(made.size(), 38u);
  EXPECT_EQ(made.front(), '{');
  EXPECT_EQ(made[15], '4');
  EXPECT_TRUE(f.Load("dst=Pos.X\r\nfn=6"));
  EXPECT_NE(f.mod.Id(), made);
  EXPECT_EQ(f.Eval(), 6);
}

TEST(LumObjectMod, VariablesNeedAnAnimation) {
  TModFixture f;
  f.Load("dst=Pos.X\r\nfn=t+1");
  TCalcStack stack;
  std::string error;
  EXPECT_FALSE(lum::Run(f.mod.Program(), stack, &error));  // outside Evaluate
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace lum
