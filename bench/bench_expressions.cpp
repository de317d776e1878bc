// An easing modifier evaluated per frame: QSplineGraph(t, x1, y1, x2, y2) with
// constant control points, t sweeping 0..1 in small steps. The compiled form
// walks a piece table from the piece used last; the reference is the same
// call without the replacement, bisecting the curve on every evaluation.
// Prints the ratio of the two at the end.
#include <benchmark/benchmark.h>

#include "ratio_reporter.h"

#include <cstdio>
#include <map>
#include <string>

#include "model/calc_cmd_list.h"
#include "model/calc_func.h"
#include "model/expression_parser.h"
#include "model/lum_object_mod.h"
#include "model/q_spline_graph.h"

namespace {

using namespace lum;

constexpr double kStep = 1.0 / 1024;  // about 17 frames a second for a minute-long segment
constexpr double kX1 = 0.42, kY1 = 0.0, kX2 = 0.58, kY2 = 1.0;

TRef<TCalcVariable>& TimeVariable() {
  static TRef<TCalcVariable> t = MakeRef<TCalcVariable>("t", 0);
  return t;
}

TRef<TCalcFunc> ResolveTime(void*, std::string_view text, size_t start, size_t length, bool) {
  if (text.substr(start, length) == "t") return TRef<TCalcFunc>(TimeVariable());
  return {};
}

// The program the compiler makes: call t, call(1) QSplineGraph-opt(...).
TCalcCmdList Optimised() {
  char text[128];
  std::snprintf(text, sizeof text, "QSplineGraph(t, %g, %g, %g, %g)", kX1, kY1, kX2, kY2);
  TExpressionParser parser;
  TCalcCmdList program;
  if (!parser.Compile(text, program, ResolveTime)) std::abort();
  return program;
}

// The same call left as it is: call t, four loads, call(5) QSplineGraph.
TCalcCmdList Bisection() {
  TCalcCmdList program;
  program.AddCall(TimeVariable());
  for (double c : {kX1, kY1, kX2, kY2}) program.AddLoad(c);
  program.AddCall(CalcLookup("QSplineGraph"));
  return program;
}

void Sweep(benchmark::State& state, const TCalcCmdList& program) {
  TCalcStack stack;
  TCalcVariable& t = *TimeVariable();
  double x = 0, sum = 0;
  for (auto _ : state) {
    t.SetValue(x);
    lum::Run(program, stack);
    sum += stack.Top();
    x += kStep;
    if (x > 1) x = 0;
  }
  benchmark::DoNotOptimize(sum);
}

void BM_Optimised(benchmark::State& state) {
  Sweep(state, Optimised());
}
void BM_Bisection(benchmark::State& state) {
  Sweep(state, Bisection());
}

// The whole path of a modifier of a key frame, for scale.
void BM_Modifier(benchmark::State& state) {
  struct TTime : IModifierContext {
    double t = 0;
    double GroupTime(int) override { return t; }
    double FieldValue(int) override { return 0; }
  } context;
  TIniFile doc;
  doc.LoadText(
      "[Mod]\r\nfn=QSplineGraph(value,x1/100,y1/100,1-x2/100,1-y2/100)\r\ndst=Pos.t\r\n"
      "x1=42\r\ny1=0\r\nx2=42\r\ny2=0\r\n");
  TLumObjectMod mod;
  mod.Load(doc.Section("Mod"));
  double sum = 0;
  for (auto _ : state) {
    sum += mod.Evaluate(context);
    context.t += kStep;
    if (context.t > 1) context.t = 0;
  }
  benchmark::DoNotOptimize(sum);
}

// The curve functions alone, without the machine around them.
void BM_TableWalk(benchmark::State& state) {
  TRef<TQSplineGraphOpt> curve = TQSplineGraphOpt::Make(kX1, kY1, kX2, kY2);
  double x = 0, sum = 0;
  for (auto _ : state) {
    sum += curve->Value(x);
    x += kStep;
    if (x > 1) x = 0;
  }
  benchmark::DoNotOptimize(sum);
}

void BM_BisectionAlone(benchmark::State& state) {
  TCubicBezier curve{float(kX1), float(kY1), float(kX2), float(kY2)};
  double x = 0, sum = 0;
  for (auto _ : state) {
    sum += curve.GraphY(x);
    x += kStep;
    if (x > 1) x = 0;
  }
  benchmark::DoNotOptimize(sum);
}

BENCHMARK(BM_Optimised);
BENCHMARK(BM_Bisection);
BENCHMARK(BM_Modifier);
BENCHMARK(BM_TableWalk);
BENCHMARK(BM_BisectionAlone);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TCalcCmdList program = Optimised();
  std::printf("optimised program: %s; %s\n", CalcCmdText(program[0]).c_str(),
              CalcCmdText(program[1]).c_str());
  lum::bench::TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double opt = reporter.Time("BM_Optimised"), plain = reporter.Time("BM_Bisection");
  if (opt > 0 && plain > 0)
    std::printf("bisection %.1f ns / optimised %.1f ns per evaluation: %.1fx faster\n", plain, opt,
                plain / opt);
  double walk = reporter.Time("BM_TableWalk"), bisect = reporter.Time("BM_BisectionAlone");
  if (walk > 0 && bisect > 0)
    std::printf("curve alone: bisection %.1f ns / table walk %.1f ns: %.1fx faster\n", bisect, walk,
                bisect / walk);
  benchmark::Shutdown();
  return 0;
}
