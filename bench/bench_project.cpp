// Building the show project of a generated 5,000-slide project: parsing the
// document, then constructing the timeline, transitions and rotation.
#include <benchmark/benchmark.h>

#include <string>

#include "project/lum_source.h"

namespace {

std::string GeneratedProject(int slides) {
  std::string t = "[Main]\nProjectFilePath=bench\nobject TheEffect:AnEffect\ntime=1200\n";
  for (const char* e : {"dissolve:dissolve\nkey=checked\nchecked=1\nstdidx=2\n",
                        "gates:gates\nkey=direction\ndirection=11111111\nstdidx=6\n",
                        "hourhand:hourhand\nkey=action,direction\naction=11\n"
                        "direction=111111111\nstdidx=4\n"})
    t += std::string("object ") + e + "end\n";
  t += "end\n[Times]\nopt_slidescount=" + std::to_string(slides) + "\n";
  for (int i = 1; i <= slides; ++i)
    t += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 4000) + "\n";
  const char* refs[] = {"default", "dissolve", "gates", "quick", "defowntime"};
  for (int i = 1; i <= slides; ++i) {
    t += "[Slide" + std::to_string(i) + "]\nslideid=Slide number " + std::to_string(i) +
         "\nPicture=C:\\Photos\\img" + std::to_string(i) +
         ".jpg\nbstyle=1\nbcolor=0\n"
         "object TheEffect:AnEffect\nref=" +
         refs[i % 5] +
         "\ntime=1500\nsmoothline=0.2\nend\n"
         "object Container:Root\nobject Img:Image\nGUID={0000}\nfn=C:\\Photos\\img.jpg\n"
         "object kf:KeyPoint\nTime=0\ngrps=255\nend\nend\nend\n";
  }
  return t;
}

const std::string& Project() {
  static const std::string text = GeneratedProject(5000);
  return text;
}

void BM_ParseDocument(benchmark::State& state) {
  for (auto _ : state) {
    lum::TIniFile doc;
    doc.LoadText(Project());
    benchmark::DoNotOptimize(doc.Sections().size());
  }
}
BENCHMARK(BM_ParseDocument)->Unit(benchmark::kMillisecond);

void BM_BuildLumSource(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    lum::TIniFile doc;
    doc.LoadText(Project());
    state.ResumeTiming();
    lum::TLumSource src(nullptr, doc, {"bench", 1});
    benchmark::DoNotOptimize(src.Duration());
  }
}
BENCHMARK(BM_BuildLumSource)->Unit(benchmark::kMillisecond);

void BM_ParseAndBuild(benchmark::State& state) {
  for (auto _ : state) {
    lum::TIniFile doc;
    doc.LoadText(Project());
    lum::TLumSource src(nullptr, doc, {"bench", 1});
    benchmark::DoNotOptimize(src.Duration());
  }
}
BENCHMARK(BM_ParseAndBuild)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
