// Loading a large project document, side by side with the least any reader
// must do: find the line ends. Prints the ratio of the two at the end.
#include <benchmark/benchmark.h>

#include "ratio_reporter.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/memory_stream.h"
#include "document/ini_file.h"

namespace {

constexpr int kLines = 50000;

// A show's project: one section per slide with a few hundred items, effect
// objects with nested key frames, Windows paths and comments; UTF-8 with the
// byte-order mark and CR LF, as the authoring tool writes it.
std::string MakeDocument() {
  std::string out = "\xEF\xBB\xBF";
  int lines = 0;
  auto line = [&](const std::string& s) {
    out += s;
    out += "\r\n";
    ++lines;
  };
  line("[Main]");
  line("Version=5.0.4 (Build 1207)");
  line("opt_exefn=C:\\Users\\Jürgen\\Documents\\Shows\\Sommer 2009\\Sommer.exe");
  line("opt_title=Sommer in Südfrankreich – Côte d'Azur");
  line("");
  for (int slide = 0; lines < kLines; ++slide) {
    line("[Slide" + std::to_string(slide) + "]");
    line("; slide " + std::to_string(slide) + ", generated");
    line("Name=Bild " + std::to_string(slide) + " – Strand bei Nizza");
    line("FileName=C:\\Users\\Jürgen\\Pictures\\Urlaub 2009\\IMG_" + std::to_string(4000 + slide) +
         ".JPG");
    line("Duration=" + std::to_string(5000 + slide % 7 * 250));
    for (int k = 0; k < 120 && lines < kLines; ++k) {
      line("opt_synchpos" + std::to_string(k) + "=" + std::to_string(34000 + k * 125 + slide));
    }
    for (int fx = 0; fx < 8 && lines < kLines; ++fx) {
      line("object TheEffect" + std::to_string(fx) + ":AnEffect");
      line("  Kind=" + std::to_string(fx % 5));
      line("  Start=" + std::to_string(fx * 1500));
      line("  Smoothness=0." + std::to_string(25 + fx));
      line("  Mask=C:\\Program Files (x86)\\Lum Studio\\Masks\\mask" + std::to_string(fx) + ".png");
      for (int key = 0; key < 3; ++key) {
        line("  object Key" + std::to_string(key) + ":TKeyFrame");
        line("    Time=" + std::to_string(key * 1000));
        line("    X=" + std::to_string(0.125 * key + fx));
        line("    Y=-" + std::to_string(0.5 * key));
        line("    Zoom=1.0" + std::to_string(key));
        line("  end");
      }
      line("end");
    }
    for (int k = 0; k < 60 && lines < kLines; ++k) {
      line("Text" + std::to_string(k) + "=Zeile " + std::to_string(k) +
           " mit Ümlauten; \"zitiert\"");
    }
    line("");
  }
  return out;
}

const std::string& Document() {
  static const std::string doc = MakeDocument();
  return doc;
}

void BM_Load(benchmark::State& state) {
  lum::TMemoryStream stream(Document());
  lum::TIniFile doc;
  for (auto _ : state) {
    stream.SetPosition(0);
    if (!doc.Load(stream)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(doc.Sections().data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Document().size()));
  state.counters["sections"] = double(doc.Sections().size());
}

void BM_SplitLines(benchmark::State& state) {
  const std::string& text = Document();
  std::vector<std::string_view> lines;
  lines.reserve(kLines + 16);
  for (auto _ : state) {
    lines.clear();
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
      auto* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
      const char* e = nl ? nl : end;
      lines.emplace_back(p, size_t(e > p && e[-1] == '\r' ? e - 1 - p : e - p));
      p = nl ? nl + 1 : end;
    }
    benchmark::DoNotOptimize(lines.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["lines"] = double(lines.size());
}

BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitLines)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::printf("document: %zu bytes\n", Document().size());
  lum::bench::TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double load = reporter.Time("BM_Load"), split = reporter.Time("BM_SplitLines");
  if (load > 0 && split > 0) std::printf("parse time / split time: %.2f\n", load / split);
  benchmark::Shutdown();
  return 0;
}
