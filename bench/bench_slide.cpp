// A slide of 1,000 animated objects (5 key frames each, a time modifier on
// every tenth) timed and laid out frame by frame as a playing show does,
// against the same slide with every tracker reset before each frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "model/slide_producer.h"
#include "project/lum_source.h"
#include "ratio_reporter.h"

namespace {

constexpr int kObjects = 1000;
constexpr double kSlideMs = 10000;
constexpr double kStep = 16.7;

std::string Project() {
  std::string t =
      "[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\n[Times]\n"
      "opt_slidescount=1\nopt_synchpos1=10000\n[Slide1]\nobject Container:Root\n";
  for (int i = 0; i < kObjects; ++i) {
    t += "object B" + std::to_string(i) + ":Box\nGUID={" + std::to_string(i) +
         "}\nSize=100,100\nFillMode=Solid\nColor1=200,100,50\n";
    for (int k = 0; k < 5; ++k) {
      int x = (i * 7 + k * 13) % 200 - 100, y = (i * 11 + k * 17) % 200 - 100;
      t += "object K:KeyPoint\nTime=" + std::to_string(k * 2400 + i % 50) +
           "\nPosition=" + std::to_string(x) + "," + std::to_string(y) +
           "\nScaleX=" + std::to_string(5 + k) + "\nScaleY=" + std::to_string(5 + k) +
           "\nAngle=" + std::to_string(k * 30) + "\nOpacity=" + std::to_string(100 - k * 10) + "\n";
      if (i % 10 == 0 && k == 0) t += "object M:Mod\ndst=Pos.t\nfn=value*value\nend\n";
      t += "end\n";
    }
    t += "end\n";
  }
  return t + "end\n";
}

struct TBenchSlide {
  TBenchSlide() {
    doc.LoadText(Project());
    source = std::make_unique<lum::TLumSource>(nullptr, doc, lum::TLumSourceSettings{"x", 1});
    producer = lum::MakeRef<lum::TSlideProducer>(*source);
    producer->SetFrame(1920, 1080);
    container = producer->ProduceOrThrow(0);
    slide = container->slide.Get();
    slide->SetTimeAndLayout(true, 0);
  }
  lum::TIniFile doc;
  std::unique_ptr<lum::TLumSource> source;
  lum::TRef<lum::TSlideProducer> producer;
  lum::TRef<lum::TDrawContainer> container;
  lum::TLumSlide* slide = nullptr;
};

TBenchSlide& Bench() {
  static TBenchSlide b;
  return b;
}

void Frame(lum::TLumSlide& s, double t, bool reset) {
  if (reset) s.RootProps()->ResetTrackers(true);
  benchmark::DoNotOptimize(s.SetTimeAndLayout(true, t));
}

void Play(benchmark::State& state, bool reset) {
  lum::TLumSlide& s = *Bench().slide;
  double t = 0;
  for (auto _ : state) {
    Frame(s, t, reset);
    t += kStep;
    if (t > kSlideMs) t = 0;
  }
}

void BM_TrackersKept(benchmark::State& state) {
  Play(state, false);
}
void BM_TrackersReset(benchmark::State& state) {
  Play(state, true);
}
BENCHMARK(BM_TrackersKept)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_TrackersReset)->Unit(benchmark::kMicrosecond)->Repetitions(5);

// CPU time of this thread: the machine is shared, wall time would wander.
double CpuMicros() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// Microseconds per frame in each tenth of the slide's play, best of a few passes.
std::vector<double> Profile(bool reset) {
  lum::TLumSlide& s = *Bench().slide;
  std::vector<double> best(10, 1e300);
  for (int pass = 0; pass < 5; ++pass) {
    std::vector<double> sum(10, 0);
    std::vector<int> count(10, 0);
    s.SetTimeAndLayout(true, 0);
    for (double t = 0; t <= kSlideMs; t += kStep) {
      double a = CpuMicros();
      Frame(s, t, reset);
      double b = CpuMicros();
      int bucket = std::min(9, int(t / (kSlideMs / 10)));
      sum[size_t(bucket)] += b - a;
      ++count[size_t(bucket)];
    }
    for (int i = 0; i < 10; ++i)
      best[size_t(i)] = std::min(best[size_t(i)], sum[size_t(i)] / count[size_t(i)]);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Bench();
  lum::bench::TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double kept = reporter.Time("BM_TrackersKept"), reset = reporter.Time("BM_TrackersReset");
  if (kept > 0 && reset > 0)
    std::printf(
        "%d objects, SetTimeAndLayout per %.1f ms frame: trackers kept %.1f us, reset "
        "every frame %.1f us: %.2fx\n",
        kObjects, kStep, kept, reset, reset / kept);
  std::vector<double> pk = Profile(false), pr = Profile(true);
  std::printf("us per frame over the slide's play (each tenth of %.0f ms):\n", kSlideMs);
  std::printf("  slide time   kept     reset\n");
  for (int i = 0; i < 10; ++i)
    std::printf("  %5.0f ms  %7.1f  %7.1f\n", i * kSlideMs / 10, pk[size_t(i)], pr[size_t(i)]);
  benchmark::Shutdown();
  return 0;
}
