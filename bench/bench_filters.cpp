// Colour filters at draw time, side by side in one run: a slide of one
// full-screen 1920 × 1080 picture whose two key frames each carry a 4-filter
// chain (levels, brightness/contrast, hue/saturation, colourisation), drawn
// at moments spread over the blend between them, against the same slide
// with the same key frames and no filters. Medians of interleaved rounds.
// Target: ratio ≤ 1.2 (the chains live in look-up textures; per pixel the
// grade is one look-up). Also the time to bake chains of 1,000 filters.
// Drawing is headless (SDL_VIDEODRIVER=offscreen unless set). Exit status 2:
// the target was missed.
#include <epoxy/gl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_frames.h"
#include "bench_pictures.h"
#include "bench_timing.h"
#include "model/color_grade.h"

using namespace lum;
namespace fs = std::filesystem;
using lum::bench::Clock;
using lum::bench::Median;
using lum::bench::MsSince;

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr int kRounds = 9, kFrames = 8;

std::string Chain(int variant) {
  const std::string v = std::to_string(variant);
  return "object Levels:Filter\nMin=" + v + "0\nMed=-20\nMax=240\nend\n"
         "object BrightContrast:Filter\nbright=" + v + "\ncontrast=15\nend\n"
         "object HSL:Filter\nHue=" + v + "0\nSaturation=-10\nend\n"
         "object Colorization:Filter\nColor=155,130,99\nAmount=" + v + "0\nend\n";
}

std::string Slide(bool filters) {
  return "[Slide]\nobject Container:Root\nobject P:Image\nGUID={P}\nImageName=picture.bmp\n"
         "Size=1920,1080\nFitMode=Cover\nobject K:KeyPoint\nTime=0\n" +
         (filters ? Chain(1) : "") + "end\nobject K:KeyPoint\nTime=4000\n" +
         (filters ? Chain(3) : "") + "end\nend\nend\n";
}

std::string Document() {
  std::string s = "[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\n"
                  "[Times]\nopt_slidescount=2\nopt_synchpos1=4000\nopt_synchpos2=8000\n";
  std::string a = Slide(true), b = Slide(false);
  a.replace(0, 7, "[Slide1]");
  b.replace(0, 7, "[Slide2]");
  return s + a + b;
}

struct TOwnSlide {
  TRef<TDrawContainer> container;
  TRootItem root;
};

void Draw(TOfflineFrameDriver& driver, TOwnSlide& s, double time) {
  lum::bench::DrawFinished(driver, s.root, {s.container}, time);
}

// A chain of 1,000 filters: levels and hue turns in turn, or (hard) only
// hue turns, which merge few colours, so that each filter sees most cells.
TFilterChain Chain1000(bool hard) {
  TFilterChain chain;
  for (int i = 0; i < 1000; ++i) {
    TRef<TObjectFilter> f = CreateFilter(i % 2 || hard ? "HSL" : "Levels");
    f->SetParam(0, hard ? (i % 2 ? "7" : "-7") : "7");
    chain.Add(f);
  }
  return chain;
}

// Baking as it is done, and (the reference) every filter over every cell;
// the better of two interleaved rounds each.
void Bake1000(bool hard) {
  const TFilterChain chain = Chain1000(hard);
  double baked = 1e300, plain = 1e300;
  for (int round = 0; round < 2; ++round) {
    TRef<TBitmap> cells = BakeColorGrade(TFilterChain(), kGradeVolumes, nullptr);
    auto t0 = Clock::now();
    chain.Apply(cells->Row(0), cells->Width(), cells->Height(), cells->Pitch());
    plain = std::min(plain, MsSince(t0));
    t0 = Clock::now();
    BakeColorGrade(chain, kGradeVolumes, nullptr);
    baked = std::min(baked, MsSince(t0));
  }
  std::printf(
      "baking 1,000 filters (%s) into a volume: %.1f ms, each filter over every cell "
      "%.1f ms, ratio %.2f\n",
      hard ? "hue turns only" : "levels and hue turns", baked, plain, baked / plain);
}

}  // namespace

int main() {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  const fs::path dir = fs::temp_directory_path() / ("bench_filters_" + std::to_string(getpid()));
  fs::create_directories(dir);
  lum::bench::WriteRampBmp(dir / "picture.bmp", kW, kH);
  std::ofstream(dir / "Project.lum") << Document();
  int status = 0;
  try {
    lum::bench::TOpenShow show(dir / "Project.lum");
    TOfflineFrameDriver driver(*show.source, kW, kH);
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    TOwnSlide graded, plain;
    graded.container = driver.Producer().ProduceOrThrow(0);
    plain.container = driver.Producer().ProduceOrThrow(1);
    // Moments spread over the blend; the first draw of each uploads its picture.
    auto run = [&](TOwnSlide& s, double base) {
      Draw(driver, s, base + 100);
      const auto t0 = Clock::now();
      for (int i = 0; i < kFrames; ++i) Draw(driver, s, base + 200 + 3600.0 * i / kFrames);
      return MsSince(t0) / kFrames;
    };
    std::vector<double> mine, ref, ratio;
    for (int r = 0; r < kRounds; ++r) {
      const double m = run(graded, 0), p = run(plain, 4000);
      mine.push_back(m), ref.push_back(p), ratio.push_back(m / p);
    }
    const double q = Median(ratio);
    std::printf("full-screen picture, 4-filter chains blended: %.3f ms/frame\n", Median(mine));
    std::printf("same picture, no filters:                     %.3f ms/frame\n", Median(ref));
    std::printf("ratio %.3f (target <= 1.2) %s\n", q, q <= 1.2 ? "(ok)" : "(over)");
    Bake1000(false);
    Bake1000(true);
    if (q > 1.2) status = 2;
  } catch (const std::exception& e) {
    std::printf("bench_filters: %s\n", e.what());
    status = 1;
  }
  fs::remove_all(dir);
  return status;
}
