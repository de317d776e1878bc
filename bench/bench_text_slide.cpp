// Preparing a slide of 20 live texts from a cold font cache, against decoding
// one 24-megapixel JPEG at level 2 in the same run (what a photo slide costs
// to prepare). Preparation is producing the slide, laying it out until every
// text has its picture, and rasterising each picture's level 0 as the
// drawer's first draw does. Each run has a fresh show, so the picture cache
// serves nothing from earlier runs; the font cache is cleared before each.
// The faces the vectoriser opened stay open after the first run, as in a
// playing show: the first run is reported apart. cjpeg must be on the path.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "foundation/memory_stream.h"
#include "imaging/image.h"
#include "model/lum_text.h"
#include "model/slide_producer.h"
#include "project/lum_source.h"
#include "text/font_cache.h"
#include "text/live_vectorizer.h"

using namespace lum;

extern char** environ;

namespace {

constexpr int kTexts = 20;
constexpr int kRuns = 9;
constexpr int kPhotoWidth = 6000, kPhotoHeight = 4000;

class TMemorySource : public TFileSource {
 public:
  std::unique_ptr<TStream> Open(std::string_view) override { return nullptr; }
};

// Titles, captions and credits of a typical slide, in a few styles and sizes.
std::string Project() {
  static const char* const kLines[kTexts] = {
      "Summer in the Mountains",
      "Day one: the long climb to the hut",
      "Photographs by the whole family\\nEdited in the winter",
      "Lakeside, early morning",
      "A storm rolls in over the ridge",
      "Wildflowers above the tree line",
      "Camp at 2,400 metres",
      "The view that made it worth it",
      "Crossing the glacier (carefully)",
      "Sunset, 21:47",
      "Breakfast with a view\\nCoffee, bread, cheese",
      "Marmots everywhere!",
      "Descent through the pine forest",
      "Waterfall near the village",
      "Thank you for watching",
      "Route: 62 km, 4,100 m of ascent",
      "Quiet evening by the fire",
      "Stars over the valley\\nLong exposure, 30 s",
      "Heading home",
      "See you next year",
  };
  static const char* const kStyles[] = {"", "Bold", "Italic", "Bold,Italic"};
  std::string t =
      "[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\n[Times]\n"
      "opt_slidescount=1\nopt_synchpos1=5000\n[Slide1]\nobject Container:Root\n";
  for (int i = 0; i < kTexts; ++i) {
    const int scale = 4 + (i * 7) % 12;
    t += "object T" + std::to_string(i) + ":Text\nGUID={" + std::to_string(i + 1) +
         "}\nText=" + kLines[i] + "\nFontName=Arial\nFontStyle=" + kStyles[i % 4] +
         "\nTextColor=255,255,255\nobject K:KeyPoint\nTime=0\nPosition=" +
         std::to_string((i % 4) * 50 - 75) + "," + std::to_string((i / 4) * 40 - 80) +
         "\nScaleX=" + std::to_string(scale) + "\nScaleY=" + std::to_string(scale) +
         "\nend\nobject K:KeyPoint\nTime=4000\nScaleX=" + std::to_string(scale + 3) +
         "\nScaleY=" + std::to_string(scale + 3) + "\nend\nend\n";
  }
  return t + "end\n";
}

struct TTiming {
  double wall = 0, cpu = 0;  // seconds
  double layout = 0;         // of wall: producing and laying out, until every text has its picture
  double pixels = 0;         // text pictures rasterised
};

double ProcessCpu() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

TTiming Time(const std::function<void()>& timed) {
  const double c0 = ProcessCpu();
  const auto t0 = std::chrono::steady_clock::now();
  timed();
  TTiming r;
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.cpu = ProcessCpu() - c0;
  return r;
}

// One preparation of the slide; false when a text got no picture.
bool PrepareSlide(TIniFile& doc, TTiming& timing) {
  TFontCache::Instance().Clear();
  auto files = MakeRef<TMemorySource>();
  auto accessor = MakeRef<TFileAccessor>(files, "/nowhere/");
  auto host = MakeRef<TLumSlideHost>();
  host->SetAccessor(accessor);
  TLumSource source(accessor, doc, TLumSourceSettings{"x", 1});
  auto producer = MakeRef<TSlideProducer>(source, host);
  producer->SetFrame(1920, 1080);
  TRef<TDrawContainer> container;
  int pictures = 0;
  double laidOut = 0, pixels = 0;
  timing = Time([&] {
    const auto t0 = std::chrono::steady_clock::now();
    container = producer->Produce(0);
    if (!container || !container->slide) return;
    container->slide->SetTimeAndLayout(true, 0);
    laidOut = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    for (TLumObject* o : container->slide->AllObjects())
      if (o->Kind() == kKindText)
        if (const TRef<TImage>& picture = static_cast<TLumText*>(o)->Picture()) {
          pictures += picture->GetMipLevel(0, TPixelFormat::Bgra32) != nullptr;
          pixels += double(picture->Width()) * picture->Height();
        }
  });
  timing.layout = laidOut;
  timing.pixels = pixels;
  return pictures == kTexts;
}

bool DecodePhoto(const std::string& jpeg, TTiming& timing) {
  TMemoryStream stream(jpeg);
  bool ok = false;
  timing = Time([&] {
    TRef<TImage> image = LoadImage(stream, "photo.jpg");
    ok = image && image->GetMipLevel(2) != nullptr;
  });
  return ok;
}

int Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A photo-like 24-megapixel JPEG made by cjpeg: gradients, bands and grain.
std::string MakePhotoJpeg() {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("lum_bench_text_slide_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string ppm = dir / "photo.ppm", jpg = dir / "photo.jpg";
  {
    std::ofstream f(ppm, std::ios::binary);
    f << "P6\n" << kPhotoWidth << " " << kPhotoHeight << "\n255\n";
    std::vector<char> row(size_t(kPhotoWidth) * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < kPhotoHeight; ++y) {
      for (int x = 0; x < kPhotoWidth; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int grain = int(seed >> 28) - 8;
        const int band = ((x / 300 + y / 200) & 1) * 40;
        row[size_t(x) * 3] = char(std::clamp(((x + y) / 40) % 200 + grain, 0, 255));
        row[size_t(x) * 3 + 1] = char(std::clamp(y * 200 / kPhotoHeight + band + grain, 0, 255));
        row[size_t(x) * 3 + 2] = char(std::clamp(x * 255 / kPhotoWidth + grain, 0, 255));
      }
      f.write(row.data(), std::streamsize(row.size()));
    }
  }
  std::string bytes;
  if (Run({"cjpeg", "-quality", "90", "-outfile", jpg, ppm}) == 0) {
    std::ifstream f(jpg, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(f), {});
  }
  std::filesystem::remove_all(dir);
  return bytes;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main() {
  const std::string jpeg = MakePhotoJpeg();
  if (jpeg.empty()) {
    std::fprintf(stderr, "bench_text_slide: could not make the picture (is cjpeg installed?)\n");
    return 1;
  }
  TLiveFont font;
  if (!ResolveLiveFont("Arial", 0, font)) {
    std::fprintf(stderr, "bench_text_slide: no installed font stands in for Arial\n");
    return 1;
  }
  TIniFile doc;
  doc.LoadText(Project());
  std::printf("%d live texts (Arial: %s) vs a 24-megapixel JPEG (%.1f MB) at level 2\n", kTexts,
              font.family.c_str(), double(jpeg.size()) / 1e6);

  TTiming first;
  if (!PrepareSlide(doc, first)) {
    std::fprintf(stderr, "bench_text_slide: a text got no picture\n");
    return 1;
  }
  std::printf(
      "first run (fonts opened): slide %.1f ms wall, %.1f ms CPU (%.1f ms to lay out); "
      "%.2f megapixels of text pictures\n",
      first.wall * 1000, first.cpu * 1000, first.layout * 1000, first.pixels / 1e6);

  std::vector<double> slideWall, slideCpu, slideLayout, photoWall, photoCpu;
  for (int i = 0; i < kRuns; ++i) {
    TTiming s, p;
    if (!PrepareSlide(doc, s) || !DecodePhoto(jpeg, p)) {
      std::fprintf(stderr, "bench_text_slide: a run failed\n");
      return 1;
    }
    slideWall.push_back(s.wall), slideCpu.push_back(s.cpu), slideLayout.push_back(s.layout);
    photoWall.push_back(p.wall), photoCpu.push_back(p.cpu);
  }
  const double sw = Median(slideWall), pw = Median(photoWall);
  const double sc = Median(slideCpu), pc = Median(photoCpu);
  std::printf(
      "median of %d: slide %.1f ms wall (%.1f ms CPU; %.1f ms to lay out, the rest rasterising), "
      "JPEG level 2 %.1f ms wall (%.1f ms CPU)\n",
      kRuns, sw * 1000, sc * 1000, Median(slideLayout) * 1000, pw * 1000, pc * 1000);
  auto [sMin, sMax] = std::minmax_element(slideWall.begin(), slideWall.end());
  auto [pMin, pMax] = std::minmax_element(photoWall.begin(), photoWall.end());
  // The spread is mostly page faults: a run whose picture memory comes
  // fresh from the system rather than from what the last run freed.
  std::printf("best / worst wall: slide %.1f / %.1f ms, JPEG %.1f / %.1f ms\n", *sMin * 1000,
              *sMax * 1000, *pMin * 1000, *pMax * 1000);
  std::printf("ratio slide / JPEG: %.3f wall, %.3f CPU (target <= 1)\n", sw / pw, sc / pc);
  return 0;
}
