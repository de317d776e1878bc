// The expression compiler's folding and peephole rules, its errors and trace,
// the built-in functions, the machine and the registry.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <latch>
#include <map>
#include <thread>

#include "model/calc_cmd_list.h"
#include "model/calc_func.h"
#include "model/calc_machine.h"
#include "model/expression_parser.h"

namespace lum {
namespace {

// Variables x, y and z (never folded) for the expressions under test.
struct TVars {
  std::map<std::string, TRef<TCalcVariable>> vars = {
      {"x", MakeRef<TCalcVariable>("x", 3)},
      {"y", MakeRef<TCalcVariable>("y", 0.5)},
      {"z", MakeRef<TCalcVariable>("z", 0)},
  };
  static TRef<TCalcFunc> Resolve(void* self, std::string_view text, size_t start, size_t length,
                                 bool) {
    auto& vars = static_cast<TVars*>(self)->vars;
    auto it = vars.find(std::string(text.substr(start, length)));
    return it == vars.end() ? TRef<TCalcFunc>() : TRef<TCalcFunc>(it->second);
  }
};

struct TCompiled {
  bool ok = false;
  int code = 0;
  std::string message;
  std::vector<std::string> program;
  std::vector<std::string> trace;
  TCalcCmdList cmds;
};

TCompiled Compile(std::string_view text) {
  static TVars vars;
  TExpressionParser parser;
  TCalcTraceLines trace;
  parser.SetTraceSink(&trace);
  TCompiled c;
  c.ok = parser.Compile(text, c.cmds, TVars::Resolve, &vars);
  c.code = parser.ErrorCode();
  c.message = parser.ErrorMessage();
  c.program = CalcProgramText(c.cmds);
  c.trace = trace.lines;
  return c;
}

using TLines = std::vector<std::string>;

TLines Program(std::string_view text) {
  TCompiled c = Compile(text);
  EXPECT_TRUE(c.ok) << text << ": " << c.message;
  return c.program;
}

double Value(std::string_view text) {
  TCompiled c = Compile(text);
  EXPECT_TRUE(c.ok) << text << ": " << c.message;
  TCalcStack stack;
  std::string error;
  EXPECT_TRUE(lum::Run(c.cmds, stack, &error)) << text << ": " << error;
  EXPECT_EQ(stack.Count(), 1) << text;
  return stack.Top();
}

TEST(ExpressionFolding, ConstantOperandsFuseIntoSingleCommands) {
  EXPECT_EQ(Program("2*3+x"), (TLines{"call x", "addc 6"}));
  EXPECT_EQ(Program("x*1"), (TLines{"call x"}));
  EXPECT_EQ(Program("x-0"), (TLines{"call x"}));
  EXPECT_EQ(Program("5-x-5"), (TLines{"call x", "neg"}));
  EXPECT_EQ(Program("0-x"), (TLines{"call x", "csub 0"}));
  EXPECT_EQ(Program("x/2"), (TLines{"call x", "mulc 0.5"}));
  EXPECT_EQ(Program("2/x"), (TLines{"call x", "cdiv 2"}));
  EXPECT_EQ(Program("x+1+2"), (TLines{"call x", "addc 3"}));
  EXPECT_EQ(Program("x*2*3"), (TLines{"call x", "mulc 6"}));
  EXPECT_EQ(Program("-x+4"), (TLines{"call x", "csub 4"}));
  EXPECT_EQ(Program("-x*3"), (TLines{"call x", "mulc -3"}));
  EXPECT_EQ(Program("x*-1"), (TLines{"call x", "neg"}));
  EXPECT_EQ(Program("(2/x)*3"), (TLines{"call x", "cdiv 6"}));
  EXPECT_EQ(Program("x+y"), (TLines{"call x", "call y", "add"}));
  EXPECT_EQ(Program("x-y*y/x"),
            (TLines{"call x", "call y", "call y", "mul", "call x", "div", "sub"}));
  EXPECT_EQ(Program("-(x)"), (TLines{"call x", "neg"}));
  EXPECT_EQ(Program("--x"), (TLines{"call x"}));
  EXPECT_EQ(Program("-(2*3)"), (TLines{"load -6"}));
  EXPECT_EQ(Program("1/4-1"), (TLines{"load -0.75"}));
}

TEST(ExpressionFolding, FoldedProgramsKeepTheirValues) {
  // x = 3, y = 0.5: each folded program evaluates like the plain arithmetic.
  EXPECT_DOUBLE_EQ(Value("2*3+x"), 9);
  EXPECT_DOUBLE_EQ(Value("5-x-5"), -3);
  EXPECT_DOUBLE_EQ(Value("-x+4"), 1);
  EXPECT_DOUBLE_EQ(Value("(2/x)*3"), 2);
  EXPECT_DOUBLE_EQ(Value("10-(x-1)*2/y+-y"), 10 - (3 - 1) * 2 / 0.5 - 0.5);
  EXPECT_DOUBLE_EQ(Value("1 - 2 - 3"), -4);  // left to right
  EXPECT_DOUBLE_EQ(Value("12/ 3/2"), 2);
  EXPECT_DOUBLE_EQ(Value("+-+-x"), 3);
  EXPECT_DOUBLE_EQ(Value("2.5e1 + 1E-1 + 3.e+0"), 28.1);
}

TEST(ExpressionFolding, CallsFoldOrTakeCheaperForms) {
  EXPECT_EQ(Program("Lerp(10,20,0.25)"), (TLines{"load 12.5"}));
  EXPECT_EQ(Program("Pi"), (TLines{"load 3.141592653589793"}));
  EXPECT_EQ(Program("Power(x,2)"), (TLines{"call x", "call(1) Sqr"}));
  EXPECT_EQ(Program("pow(x, 2.0000001)"), (TLines{"call x", "call(1) Sqr"}));
  EXPECT_EQ(Program("Power(x,3)"), (TLines{"call x", "load 3", "call(2) Power"}));
  EXPECT_EQ(Program("Power(2,x)"), (TLines{"load 2", "call x", "call(2) Power"}));
  EXPECT_EQ(Program("Rnd"), (TLines{"call Rnd"}));
  EXPECT_EQ(Program("sin(0)+COS(0)"), (TLines{"load 1"}));
  EXPECT_EQ(Program("QSplineGraph(x, 0.25, 0, 0.75, 1)"),
            (TLines{"call x", "call(1) QSplineGraph-opt(0.25:0;0.75:1)"}));
  EXPECT_EQ(Program("QSplineGraph(x, 1/3, 0.123456789, 0.5, 1)"),
            (TLines{"call x", "call(1) QSplineGraph-opt(0.33333:0.12346;0.5:1)"}));
  EXPECT_EQ(Program("QSplineGraph(0.5, 0, 0, 1, 1)"), (TLines{"load 0.5"}));
  // A variable control point keeps the full call.
  EXPECT_EQ(Program("QSplineGraph(x, y, 0, 1, 1)")[5], "call(5) QSplineGraph");
}

TEST(ExpressionErrors, CodesAndTexts) {
  struct TCase {
    const char* text;
    int code;
    const char* message;
  } cases[] = {
      {"x/0", 3, "Division by Zerro"},
      {"1/(2-2)", 3, "Division by Zerro"},
      {"Pi()", 1, "Expected Operator"},
      {"1e", 2, "Invalid Number Format: 1e"},
      {"2E+", 2, "Invalid Number Format: 2E+"},
      {"1e999", 2, "Invalid Number Format: 1e999"},
      {".5", 1, "Expected Expression"},
      {"", 0, "No Error"},
      {"x+", 1, "Expected Expression"},
      {"x y", 1, "Expected Operator"},
      {"(x", 1, "Expected Operator or \")\""},
      {"Sin x", 1, "Expected ("},
      {"ArcTan2(1)", 1, "Expected ,"},
      {"Sin(1,2)", 1, "Expected )"},
      {"foo+1", 4, "Unknown Function or Variable: foo"},
      {"x % 2", 4, "Unknown Function or Variable: %"},
      {"x ^ 2", 4, "Unknown Function or Variable: ^"},
      {"Sqrt(-1)", 5, "Function Call Error: Sqrt(-1)"},
      {"1 + ArcSin( 2 )", 5, "Function Call Error: ArcSin( 2 )"},
      {"Cotan(0)", 5, "Function Call Error: Cotan(0)"},
  };
  for (const TCase& c : cases) {
    TCompiled r = Compile(c.text);
    EXPECT_EQ(r.ok, c.code == 0) << c.text;
    EXPECT_EQ(r.code, c.code) << c.text;
    EXPECT_EQ(r.message, c.message) << c.text;
    EXPECT_TRUE(r.cmds.Empty() || c.code == 0) << c.text;  // a failed compile keeps nothing
  }
}

TEST(ExpressionErrors, CompileAfterFailureStartsAfresh) {
  TExpressionParser parser;
  TCalcCmdList program;
  ASSERT_FALSE(parser.Compile("1+", program));
  ASSERT_TRUE(parser.Compile("2*4", program));
  EXPECT_EQ(parser.ErrorCode(), 0);
  EXPECT_EQ(CalcProgramText(program), (TLines{"load 8"}));
  // A sub-range of a larger text.
  ASSERT_TRUE(parser.Compile("junk(1+2)junk", 5, 3, program));
  EXPECT_EQ(CalcProgramText(program), (TLines{"load 3"}));
}

TEST(ExpressionErrors, DeepNestingFailsCleanly) {
  std::string ok =
      std::string(kMaxExpressionDepth, '(') + "x" + std::string(kMaxExpressionDepth, ')');
  EXPECT_EQ(Program(ok), (TLines{"call x"}));
  for (int depth : {kMaxExpressionDepth + 1, 5000, 200000}) {
    TCompiled c = Compile(std::string(depth, '(') + "1" + std::string(depth, ')'));
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.code, kCalcTooDeep);
    EXPECT_EQ(c.message, "Expression Nested Too Deep: more than 256 levels");
    std::string calls;
    for (int i = 0; i < depth; ++i) calls += "Sin(";
    c = Compile(calls + "x" + std::string(depth, ')'));
    EXPECT_EQ(c.code, kCalcTooDeep);
  }
  // Sign runs cost no depth: any length compiles, an odd count negates.
  std::string signs(100001, '-');
  EXPECT_EQ(Program(signs + "x"), (TLines{"call x", "neg"}));
  EXPECT_DOUBLE_EQ(Value(std::string(100000, '-') + "2"), 2);
}

TEST(ExpressionTrace, TextsOfEmittedAndDroppedCommands) {
  EXPECT_EQ(Compile("2*3+x").trace, (TLines{"load 2", "load 3", "/drop", "/drop", "load 6",
                                            "call x", "/drop(1)", "addc 6"}));
  EXPECT_EQ(Compile("x-0").trace, (TLines{"call x", "load 0", "/drop", "(addc 0 \\drop)"}));
  EXPECT_EQ(Compile("x*1").trace, (TLines{"call x", "load 1", "/drop", "(mulc 1 \\drop)"}));
  EXPECT_EQ(Compile("Sqr(x)").trace, (TLines{"call x", "call(1) Sqr"}));
  EXPECT_EQ(Compile("  ").trace, (TLines{"--nocmd--"}));
  EXPECT_EQ(Compile("x#").trace, (TLines{"call x", "unknown operator #"}));
  EXPECT_EQ(Compile("x\xC3\xA4").trace, (TLines{"call x", "unknown operator \xC3\xA4"}));
  TCalcCmdList empty;
  EXPECT_EQ(CalcProgramText(empty), (TLines{"--nocmd--"}));
}

TEST(Machine, FunctionsWithOnlyAStackFormRunToo) {
  // A function that implements the general form alone: the machine's
  // register paths for one argument and for none fall back to it.
  struct THalf : TCalcFunc {
    THalf() : TCalcFunc("Half", 1, false) {}
    void Eval(TCalcStack& s) override { s.Top() /= 2; }
  };
  struct TSeven : TCalcFunc {
    TSeven() : TCalcFunc("Seven", 0, false) {}
    void Eval(TCalcStack& s) override { s.Push(7); }
  };
  TCalcCmdList program;
  program.AddLoad(3);
  program.AddCall(MakeRef<TSeven>());
  program.AddCall(MakeRef<THalf>());
  program.AddOp(kCmdSub);
  TCalcStack stack;
  ASSERT_TRUE(lum::Run(program, stack));
  EXPECT_EQ(stack.Count(), 1);
  EXPECT_DOUBLE_EQ(stack.Top(), -0.5);
}

TEST(ExpressionTrace, CallOfANamelessFunction) {
  struct TNameless : TCalcFunc {
    TNameless() : TCalcFunc("", 0, false) {}
    void Eval(TCalcStack& s) override { s.Push(1); }
  };
  TCalcCmdList program;
  program.AddCall(MakeRef<TNameless>());
  EXPECT_EQ(CalcCmdText(program[0]), "call ???");
}

TEST(BuiltIns, Values) {
  EXPECT_DOUBLE_EQ(Value("pi"), 3.141592653589793);
  EXPECT_DOUBLE_EQ(Value("Sin(Pi/2) + cos(0) + tan(0)"), 2);
  EXPECT_NEAR(Value("Cotan(Pi/4)"), 1, 1e-15);
  EXPECT_DOUBLE_EQ(Value("ArcSin(1)"), M_PI / 2);
  EXPECT_DOUBLE_EQ(Value("ArcCos(1)"), 0);
  EXPECT_DOUBLE_EQ(Value("ArcTan(1)"), M_PI / 4);
  EXPECT_DOUBLE_EQ(Value("ArcTan2(1, 0)"), M_PI / 2);  // ArcTan2(y, x)
  EXPECT_DOUBLE_EQ(Value("ArcTan2(0, -1)"), M_PI);
  EXPECT_DOUBLE_EQ(Value("Hypot(3, 4)"), 5);
  EXPECT_DOUBLE_EQ(Value("Sqrt(2)*Sqrt(2)"), 2.0000000000000004);
  EXPECT_DOUBLE_EQ(Value("Power(2, 10) + Pow(9, 0.5)"), 1027);
  EXPECT_DOUBLE_EQ(Value("Sqr(-3)"), 9);
  EXPECT_DOUBLE_EQ(Value("Abs(-2.5)"), 2.5);
  EXPECT_DOUBLE_EQ(Value("Frac(-2.75)"), -0.75);
  EXPECT_DOUBLE_EQ(Value("Round(2.5)"), 2);
  EXPECT_DOUBLE_EQ(Value("Round(3.5)"), 4);
  EXPECT_DOUBLE_EQ(Value("Round(-2.5)"), -2);
  EXPECT_DOUBLE_EQ(Value("Round(2.6)"), 3);
  EXPECT_DOUBLE_EQ(Value("Trunc(-2.7)"), -2);
  EXPECT_DOUBLE_EQ(Value("Ceil(-2.7) + Ceil(2.1)"), 1);
  EXPECT_DOUBLE_EQ(Value("Lerp(x, 5, 0.5)"), 4);
  EXPECT_DOUBLE_EQ(Value("Power(x, 2)"), 9);
  // Variables are looked up at run time, so a changed value shows.
  EXPECT_DOUBLE_EQ(Value("Sqr(y) + Round(y)"), 0.25);
  for (int i = 0; i < 200; ++i) {
    double r = Value("Rnd");
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 1);
  }
}

TEST(Machine, FaultsEndTheRun) {
  for (const char* text : {"x/z", "1/z", "Sqrt(z-1)", "Cotan(z)", "Power(z-1, 0.5)",
                           "Round(x*1e300)", "x*1e200*1e200", "ArcCos(x)"}) {
    TCompiled c = Compile(text);
    ASSERT_TRUE(c.ok) << text << ": " << c.message;
    TCalcStack stack;
    std::string error;
    EXPECT_FALSE(lum::Run(c.cmds, stack, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(Machine, EmptyAndMalformedPrograms) {
  TCalcCmdList program;
  TCalcStack stack;
  stack.Push(5);
  EXPECT_TRUE(lum::Run(program, stack));
  EXPECT_EQ(stack.Count(), 0);  // run on an emptied stack
  program.AddOp(kCmdAdd);       // nothing to add
  std::string error;
  EXPECT_FALSE(lum::Run(program, stack, &error));
  EXPECT_EQ(error, "Invalid program");
  program.Clear();
  program.AddLoad(1);
  program.AddLoad(2);
  EXPECT_TRUE(lum::Run(program, stack));
  EXPECT_EQ(stack.Count(), 2);
}

TEST(Machine, StackAndProgramGrowByDoubling) {
  TCalcStack stack;
  EXPECT_EQ(stack.Capacity(), 8);
  for (int i = 0; i < 100; ++i) stack.Push(i);
  EXPECT_EQ(stack.Capacity(), 128);
  for (int i = 99; i >= 0; --i) ASSERT_EQ(stack.Pop(), i);

  TCalcCmdList program;
  program.AddLoad(0);
  EXPECT_EQ(program.Capacity(), 16);
  for (int i = 1; i < 40; ++i) {
    program.AddLoad(i);
    program.AddOp(kCmdAdd);
  }
  EXPECT_EQ(program.Capacity(), 128);
  TCalcCmdList copy = program;  // shares the call references, keeps the commands
  EXPECT_TRUE(lum::Run(copy, stack));
  EXPECT_EQ(stack.Top(), 780);

  // Deep right operands keep every left value on the stack while it grows;
  // a three-argument call then finds them in place.
  std::string nested = "y";
  for (int i = 0; i < 200; ++i) nested = "x+(" + nested + ")";
  EXPECT_DOUBLE_EQ(Value(nested), 600.5);
  EXPECT_DOUBLE_EQ(Value("Lerp(z, " + nested + ", y) - x"), 300.25 - 3);

  // A long flat expression compiles and runs without deep recursion.
  std::string sum = "x";
  for (int i = 0; i < 20000; ++i) sum += "+x";
  EXPECT_DOUBLE_EQ(Value(sum), 3 * 20001);
}

TEST(Registry, LookupIsCaseInsensitiveAndCountsReferences) {
  TRef<TCalcFunc> a = CalcLookup("sqrt"), b = CalcLookup("SQRT");
  ASSERT_TRUE(a);
  EXPECT_EQ(a.Get(), b.Get());
  EXPECT_EQ(a->Name(), "Sqrt");
  EXPECT_EQ(a->Arity(), 1);
  EXPECT_TRUE(a->Pure());
  EXPECT_FALSE(CalcLookup("Rnd")->Pure());
  EXPECT_FALSE(CalcLookup("nosuch"));
  int before = a->RefCount();
  {
    TRef<TCalcFunc> c = CalcLookup("Sqrt");
    EXPECT_EQ(a->RefCount(), before + 1);
  }
  EXPECT_EQ(a->RefCount(), before);
}

TEST(Registry, RegisteredFunctionHidesBuiltIn) {
  CalcRegister(MakeRef<TMathConst>("TestAnswer", 42));
  EXPECT_DOUBLE_EQ(Value("testanswer/2"), 21);
  CalcRegistryShutdown();  // leaves the process registry as built in
  EXPECT_FALSE(CalcLookup("TestAnswer"));
}

TEST(Registry, FilledOnceWhenManyThreadsLookUpFirst) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 20; ++round) {
    CalcRegistryShutdown();
    std::latch start(kThreads);
    std::vector<TCalcFunc*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        TRef<TCalcFunc> f = CalcLookup(t % 2 ? "QSPLINEGRAPH" : "qsplinegraph");
        seen[t] = f.Get();
      });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) ASSERT_EQ(seen[t], seen[0]);
    ASSERT_TRUE(seen[0]);
    std::vector<std::string> names = CalcFunctionNames();
    EXPECT_EQ(names.size(), 22u);  // every built-in exactly once
  }
}

TEST(Registry, ConcurrentRegistrationsAllLand) {
  CalcRegistryShutdown();
  constexpr int kThreads = 4, kEach = 50;
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kEach; ++i)
        CalcRegister(MakeRef<TMathConst>("c" + std::to_string(t) + "_" + std::to_string(i), i));
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(CalcFunctionNames().size(), 22u + kThreads * kEach);
  EXPECT_DOUBLE_EQ(Value("c3_49 + C0_7"), 56);
  CalcRegistryShutdown();
}

}  // namespace
}  // namespace lum
