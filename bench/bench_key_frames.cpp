// Evaluating a property tree of 1,000 animated objects frame by frame (5 key
// frames each, an easing modifier on every tenth) with the segment trackers
// kept between frames, against the same tree with the trackers reset before
// every frame. Each case plays a one-second window of a ten-second slide.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "model/lum_object_props.h"
#include "document/ini_file.h"
#include "ratio_reporter.h"

namespace {

using namespace lum;

constexpr int kObjects = 1000;
constexpr int kDuration = 10000;
constexpr double kStep = 16.7;

struct TTree {
  TIniFile doc;
  TRef<TLumObjectProps> root = MakeRef<TLumObjectProps>();
  TTree() {
    std::string text = "[Slide]\nobject Container:Root\n";
    for (int i = 0; i < kObjects; ++i) {
      text += "object P" + std::to_string(i) + ":Image\nGUID={" + std::to_string(i) + "}\n";
      for (int k = 0; k < 5; ++k) {
        text += "object K:KeyPoint\nTime=" + std::to_string(k * 2400 + i % 7) +
                "\nOpacity=" + std::to_string(k % 2 * 100) +
                "\nPosition=" + std::to_string(k * 10) + "," + std::to_string(i % 50) +
                "\nScaleX=" + std::to_string(100 + k * 5) + "\nAngle=" + std::to_string(k * 30) +
                "\nZoom=" + std::to_string(100 + k * 20) + "\nOffsX=" + std::to_string(k) + "\n";
        if (i % 10 == 0)
          text += "object M:Mod\ndst=Pos.t\nfn=QSplineGraph(value,0.25,0,0.75,1)\nend\n";
        text += "end\n";
      }
      text += "end\n";
    }
    text += "end\n";
    doc.LoadText(text);
    root->Load(doc.Section("Slide")->FirstObject(), {kDuration, 500, 500});
  }
};

TTree& Tree() {
  static TTree tree;
  return tree;
}

void Play(benchmark::State& state, bool reset, double begin) {
  TTree& tree = Tree();
  const double end = begin + 1000;
  double t = begin;
  for (auto _ : state) {
    if (reset) tree.root->ResetTrackers(true);
    tree.root->Evaluate(t, true);
    benchmark::DoNotOptimize(tree.root->Children()[7]->Value(1));
    t += kStep;
    if (t >= end) t = begin;
  }
}

BENCHMARK_CAPTURE(Play, kept_0, false, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Play, kept_4500, false, 4500)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Play, kept_9000, false, 9000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Play, reset_0, true, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Play, reset_4500, true, 4500)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Play, reset_9000, true, 9000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Tree();
  lum::bench::TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* at : {"0", "4500", "9000"}) {
    double kept = reporter.Time(std::string("Play/kept_") + at);
    double reset = reporter.Time(std::string("Play/reset_") + at);
    if (kept > 0 && reset > 0)
      std::printf("from %s ms: %.1f us per frame kept, %.1f us reset: %.2fx\n", at, kept, reset,
                  reset / kept);
  }
  benchmark::Shutdown();
  return 0;
}
