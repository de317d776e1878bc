// Slide drawer cost at 1920 × 1080, each figure beside its reference in the
// same run (medians of interleaved rounds, so a busy machine hits both):
//  1. a slide of one full-screen 24-megapixel JPEG, ten boxes and a gradient
//     background through TOfflineFrameDriver, against the same drawer
//     drawing the same twelve layers by hand with a bilinear 1920 × 1080
//     picture (with and without read-back);
//  2. a full-screen picture blurred with G = 28 against the same picture
//     unblurred, counted in layers above the slide background;
//  3. the first frame of such a slide from a fresh driver and from a fresh
//     lumshow process, against djpeg decoding the file at half size.
// Lines starting "where it goes" / "of it" split the differences up.
// The picture and the projects are made at run time in a temporary folder;
// cjpeg and djpeg must be on the path. Drawing is headless
// (SDL_VIDEODRIVER=offscreen unless set). --keep leaves the folder in place
// for profiling lumshow render on the same files. Exit status 2: a target
// (1.3, 3 layers, 1.5) was missed.
#include <epoxy/gl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_timing.h"
#include "container/lum_show_locator.h"
#include "engine/offline_frame_driver.h"
#include "imaging/bitmap.h"
#include "imaging/picture_cache.h"
#include "project/lum_source.h"
#include "render/3d_drawer.h"
#include "render/root_item.h"

extern char** environ;

using namespace lum;
namespace fs = std::filesystem;

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr int kPhotoW = 6000, kPhotoH = 4000;
constexpr int kBoxW = 360, kBoxH = 240;
constexpr int kRounds = 9;
constexpr int kFrames = 4;  // per variant and round: well under the drawer's texture idle limit

using lum::bench::Clock;

using lum::bench::Median;
using lum::bench::MsSince;

double MsPerFrame(const std::function<void()>& frame, int frames) {
  auto t0 = Clock::now();
  for (int i = 0; i < frames; ++i) frame();
  return MsSince(t0) / frames;
}

// Runs a program to its end (stdout and stderr left as they are); its exit status.
int Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The picture's colour at (x, y): broad ramps, some structure and a little
// grain, so that it compresses like a photograph rather than a flat fill.
void PhotoPixel(int x, int y, int w, int h, uint32_t& seed, uint8_t rgb[3]) {
  seed = seed * 1664525u + 1013904223u;
  const int grain = int(seed >> 28) - 8;
  const double s = std::sin(x * 0.013) * std::cos(y * 0.011);
  const int r = x * 255 / w + grain, g = y * 255 / h + grain;
  const int b = int(128 + 90 * s) + grain;
  rgb[0] = uint8_t(std::clamp(r, 0, 255));
  rgb[1] = uint8_t(std::clamp(g, 0, 255));
  rgb[2] = uint8_t(std::clamp(b, 0, 255));
}

bool WritePhoto(const fs::path& ppm) {
  std::ofstream f(ppm, std::ios::binary);
  f << "P6\n" << kPhotoW << ' ' << kPhotoH << "\n255\n";
  std::vector<uint8_t> row(size_t(kPhotoW) * 3);
  uint32_t seed = 1;
  for (int y = 0; y < kPhotoH; ++y) {
    for (int x = 0; x < kPhotoW; ++x) PhotoPixel(x, y, kPhotoW, kPhotoH, seed, &row[size_t(x) * 3]);
    f.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
  }
  return bool(f);
}

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// The ten boxes: a 5 × 2 grid around the centre, offsets in design pixels.
struct TBoxSpec {
  int dx, dy;
  uint8_t r, g, b, a;
};
std::vector<TBoxSpec> Boxes() {
  std::vector<TBoxSpec> v;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 5; ++i)
      v.push_back({(i - 2) * 384, j ? 270 : -270, uint8_t(40 + 40 * i), uint8_t(200 - 60 * j),
                   uint8_t(90 + 30 * i), 160});
  return v;
}

// A picture covering the slide. Without any key frame on the slide the
// display-scale prepass has no time to sample, so keyFrame adds one.
std::string PhotoObject(const std::string& guid, int blur, bool keyFrame = true) {
  std::string s = "object Photo:Image\nGUID={" + guid +
                  "}\nImageName=photo.jpg\nSize=6000,4000\nFitMode=Cover\n";
  if (keyFrame || blur) {
    s += "object K:KeyPoint\nTime=0\n";
    if (blur) s += "Blur=" + std::to_string(blur) + "\n";
    s += "end\n";
  }
  return s + "end\n";
}

std::string BoxObjects() {
  std::string s;
  int n = 0;
  for (const TBoxSpec& b : Boxes()) {
    s += "object Box" + std::to_string(n) + ":Box\nGUID={B" + std::to_string(n) +
         "}\nSize=" + std::to_string(kBoxW) + "," + std::to_string(kBoxH) +
         "\nFitMode=None\nPosMode=Absolute\nColor1=" + std::to_string(b.r) + "," +
         std::to_string(b.g) + "," + std::to_string(b.b) + "\nAlpha1=" + std::to_string(b.a) +
         "\nobject K:KeyPoint\nTime=0\nPosition=" + std::to_string(b.dx) + "," +
         std::to_string(b.dy) + "\nend\nend\n";
    ++n;
  }
  return s;
}

std::string Document(const std::vector<std::pair<std::string, std::string>>& slides) {
  std::string s = "[Main]\nMinorVersion=13\nopt_scr_width=" + std::to_string(kW) +
                  "\nopt_scr_height=" + std::to_string(kH) +
                  "\n[Times]\nopt_slidescount=" + std::to_string(slides.size()) + "\n";
  for (size_t i = 0; i < slides.size(); ++i)
    s += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string(4000 * (i + 1)) + "\n";
  for (size_t i = 0; i < slides.size(); ++i)
    s += "[Slide" + std::to_string(i + 1) + "]\n" + slides[i].first + "object Container:Root\n" +
         slides[i].second + "end\n";
  return s;
}

// Slide times: the middle of slide i.
double SlideTime(int i) {
  return 4000.0 * i + 2000;
}

// The floor of benchmark 1: the same drawer drawing the slide's twelve
// layers itself (picture, gradient, ten boxes), one draw call each. Without
// decorations it draws the picture alone, without a picture only the clear.
class TFloorItem : public TDrawerItem {
 public:
  // source: the part of the picture that covers the frame; mipMaps: sampled
  // the way the slide drawer samples pictures (mip-mapped, anisotropic).
  TFloorItem(TRef<TBitmap> picture, const TTexRect& source, bool mipMaps, bool decorations = true)
      : picture_(std::move(picture)),
        source_(source),
        mipMaps_(mipMaps),
        decorations_(decorations) {}
  void DrawOn(T3DDrawer& d) override {
    d.Clear(0xFF000000);
    if (decorations_) {
      T3DScreen& s = d.Screen();
      s.Batch().Begin({});
      s.Batch().AddQuad(d.PixelVertex(0, 0, 0xFFFF0000), d.PixelVertex(kW, 0, 0xFFFF0000),
                        d.PixelVertex(kW, kH, 0xFF0000FF), d.PixelVertex(0, kH, 0xFF0000FF));
      s.Batch().Flush();
    }
    if (picture_)
      if (TCustomTexture* t = d.TextureFor(&owner_, *picture_, mipMaps_))
        d.DrawPixels(*t, {0, 0, kW, kH}, source_, 1);
    if (!decorations_) return;
    for (const TBoxSpec& b : Boxes()) {
      const int cx = kW / 2 + b.dx, cy = kH / 2 + b.dy;
      d.FillRect({cx - kBoxW / 2, cy - kBoxH / 2, cx + kBoxW / 2, cy + kBoxH / 2},
                 (TColor(b.a) << 24) | (TColor(b.r) << 16) | (TColor(b.g) << 8) | b.b);
    }
  }

 private:
  class TOwner : public TRefObject {};
  TOwner owner_;
  TRef<TBitmap> picture_;
  TTexRect source_;
  bool mipMaps_, decorations_;
};

// The last step of a blur: a half-size target onto the frame, through the
// full-resolution vertical 7-tap pass the drawer uses, or one bilinear copy.
class TUpscaleItem : public TDrawerItem {
 public:
  explicit TUpscaleItem(bool sevenTaps) : sevenTaps_(sevenTaps) {}
  void DrawOn(T3DDrawer& d) override {
    d.Clear(0xFF000000);
    TRef<TRenderTargetTexture> h = d.HalfTargets().Acquire();
    if (!h) return;
    const TRect f = d.FrameRect();
    const std::vector<TTexRect> half{{0, 0, double(f.Width() / 2), double(f.Height() / 2)}};
    if (sevenTaps_) {
      const auto w = BlurWeights(1);
      d.DrawShaderRect(shGaussBlurV7, {h.Get()}, f, half,
                       {w[0], w[1], w[2], w[3], float(4.0 / h->TextureHeight()), 0, 0, 0});
    } else {
      d.DrawShaderRect(shCopy, {h.Get()}, f, half, {});
    }
    d.HalfTargets().Release(h);
  }

 private:
  bool sevenTaps_;
};

TRef<TBitmap> FloorPicture() {
  auto bmp = MakeRef<TBitmap>(kW, kH, TPixelFormat::Bgra32);
  uint32_t seed = 7;
  for (int y = 0; y < kH; ++y) {
    uint8_t* row = bmp->Row(y);
    for (int x = 0; x < kW; ++x) {
      uint8_t rgb[3];
      PhotoPixel(x, y, kW, kH, seed, rgb);
      row[x * 4 + 0] = rgb[2], row[x * 4 + 1] = rgb[1], row[x * 4 + 2] = rgb[0],
                  row[x * 4 + 3] = 255;
    }
  }
  return bmp;
}

// A show opened from its project document, kept with its source.
struct TShow {
  std::unique_ptr<TLumShowLocator> loc;
  std::unique_ptr<TLumSource> source;
  explicit TShow(const fs::path& project) {
    std::string message;
    loc = TLumShowLocator::OpenAny(project.string(), message);
    if (!loc) throw std::runtime_error(message);
    source = std::make_unique<TLumSource>(loc->Accessor(), loc->Document(),
                                          TLumSourceSettings{loc->Path(), 0});
    source->Rotation().SetDeterministic(true);
  }
};

// A slide of the driver's show drawn through its own root item, without the
// driver's read-back.
struct TOwnSlide {
  TRef<TDrawContainer> container;
  TRootItem root;
  double time = 0;
};

void DrawOwn(TOfflineFrameDriver& driver, TOwnSlide& s) {
  T3DDrawer& d = driver.Drawer();
  if (!s.root.TakeSlides({s.container}, s.time)) throw std::runtime_error("no slide");
  d.SetViewportRect(driver.Slide());
  d.SetCapture(false);
  if (!d.DrawItem(s.root)) throw std::runtime_error("slide not drawn");
  glFinish();  // the drawer's context is current on this thread
}

void DrawFloor(TOfflineFrameDriver& driver, TDrawerItem& floor, bool readBack) {
  T3DDrawer& d = driver.Drawer();
  d.SetViewportRect({0, 0, kW, kH});
  d.SetCapture(readBack);
  if (!d.DrawItem(floor)) throw std::runtime_error("floor not drawn");
  if (readBack) {
    if (!d.ReadFrame()) throw std::runtime_error("floor not read back");
  } else {
    glFinish();
  }
}

struct TPair {
  std::vector<double> mine, ref, ratio;
  void Add(double m, double r) {
    mine.push_back(m);
    ref.push_back(r);
    ratio.push_back(m / r);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const bool keep = argc > 1 && std::string(argv[1]) == "--keep";
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  char tmpl[] = "/tmp/bench_drawer.XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::printf("bench_drawer: no temporary folder\n");
    return 1;
  }
  const fs::path dir = tmpl;
  struct TCleanup {
    fs::path p;
    ~TCleanup() {
      std::error_code ec;
      if (!p.empty()) fs::remove_all(p, ec);
    }
  } cleanup{keep ? fs::path() : dir};
  if (keep) std::printf("files in %s\n", dir.c_str());

  // ---- the picture and the projects ----
  auto t0 = Clock::now();
  if (!WritePhoto(dir / "photo.ppm") ||
      Spawn({"cjpeg", "-quality", "90", "-outfile", (dir / "photo.jpg").string(),
             (dir / "photo.ppm").string()}) != 0) {
    std::printf("bench_drawer: could not make the picture (is cjpeg installed?)\n");
    return 1;
  }
  fs::remove(dir / "photo.ppm");
  const fs::path jpeg = dir / "photo.jpg";
  std::printf("picture: %dx%d JPEG q90, %.1f MB, made in %.0f ms\n", kPhotoW, kPhotoH,
              fs::file_size(jpeg) / 1e6, MsSince(t0));

  const std::string grad = "bstyle=3\nbcolorstyle=1\nbcolor1=255\nbcolor2=16711680\n";
  const std::string solid = "bstyle=1\nbcolor=4210752\n";
  fs::create_directories(dir / "slides");
  fs::create_hard_link(jpeg, dir / "slides/photo.jpg");
  // 0: picture, boxes, gradient; 1: background only; 2: picture; 3: blurred picture.
  WriteText(dir / "slides/Project.lum", Document({{grad, PhotoObject("P0", 0) + BoxObjects()},
                                                  {solid, ""},
                                                  {solid, PhotoObject("P2", 0)},
                                                  {solid, PhotoObject("P3", 56000)}}));
  fs::create_directories(dir / "first");
  fs::create_hard_link(jpeg, dir / "first/photo.jpg");
  // Magenta background: the first frame must show the picture over it.
  WriteText(dir / "first/Project.lum",
            Document({{"bstyle=1\nbcolor=16711935\n", PhotoObject("F0", 0)}}));
  fs::create_directories(dir / "nokey");
  fs::create_hard_link(jpeg, dir / "nokey/photo.jpg");
  WriteText(dir / "nokey/Project.lum",
            Document({{"bstyle=1\nbcolor=16711935\n", PhotoObject("N0", 0, false)}}));

  std::printf("machine: %u CPU cores shared with other work; software GL (SDL_VIDEODRIVER=%s)\n",
              std::thread::hardware_concurrency(), std::getenv("SDL_VIDEODRIVER"));

  bool ok = true;
  try {
    TShow show(dir / "slides/Project.lum");
    TOfflineFrameDriver driver(*show.source, kW, kH);
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    // The first Render decodes and uploads the picture; later ones reuse it.
    t0 = Clock::now();
    driver.Render(SlideTime(0));
    std::printf("slide 0 first Render (decode, upload, draw, read back): %.0f ms\n\n", MsSince(t0));

    std::vector<std::unique_ptr<TOwnSlide>> own;
    for (int i = 0; i < 4; ++i) {
      auto s = std::make_unique<TOwnSlide>();
      s->container = driver.Producer().ProduceOrThrow(i);
      s->time = SlideTime(i);
      DrawOwn(driver, *s);  // uploads its picture
      own.push_back(std::move(s));
    }
    // The floor samples its 1920 x 1080 picture 1:1 and bilinear, as a bare
    // GL loop would.
    TFloorItem floor(FloorPicture(), {0, 0, double(kW), double(kH)}, false);
    // Where the difference goes: the floor with the slide's own picture level
    // (3000 x 2000 for 1920 x 1080), cropped as covering crops it, sampled as
    // the drawer samples pictures and bilinear; the picture alone, and the clear.
    TRef<TImage> photo = OpenImage(*show.loc->Accessor(), "photo.jpg");
    TRef<TBitmap> level = photo ? photo->GetMipLevel(1, TPixelFormat::Bgra32) : nullptr;
    if (!level) throw std::runtime_error("no picture level");
    const double rows = double(kH) * level->Width() / kW;
    const TTexRect cover{0, (level->Height() - rows) / 2, double(level->Width()),
                         (level->Height() + rows) / 2};
    TFloorItem floorMip(level, cover, true), floorFlat(level, cover, false);
    TFloorItem pictureFlat(level, cover, false, false), clearOnly(nullptr, {}, false, false);
    TUpscaleItem lastPass(true), upscale(false);
    TDrawerItem* diagnostics[] = {&floorMip,  &floorFlat, &pictureFlat,
                                  &clearOnly, &lastPass,  &upscale};
    for (TDrawerItem* f : diagnostics) DrawFloor(driver, *f, false);
    DrawFloor(driver, floor, false);

    // ---- 1 and 2, interleaved round by round ----
    TPair withRead, noRead;
    std::vector<double> bg, layer, blurred, diag[6];
    for (int round = 0; round < kRounds; ++round) {
      driver.Render(SlideTime(0));  // each variant's first frame after another is not timed
      const double slideRb = MsPerFrame([&] { driver.Render(SlideTime(0)); }, kFrames);
      DrawFloor(driver, floor, true);
      const double floorRb = MsPerFrame([&] { DrawFloor(driver, floor, true); }, kFrames);
      withRead.Add(slideRb, floorRb);

      DrawOwn(driver, *own[0]);
      const double slideNr = MsPerFrame([&] { DrawOwn(driver, *own[0]); }, kFrames);
      DrawFloor(driver, floor, false);
      const double floorNr = MsPerFrame([&] { DrawFloor(driver, floor, false); }, kFrames);
      noRead.Add(slideNr, floorNr);

      std::vector<double>* out[3] = {&bg, &layer, &blurred};
      for (int i = 1; i <= 3; ++i) {
        DrawOwn(driver, *own[size_t(i)]);
        out[i - 1]->push_back(MsPerFrame([&] { DrawOwn(driver, *own[size_t(i)]); }, kFrames));
      }
      for (int i = 0; i < 6; ++i) {
        DrawFloor(driver, *diagnostics[i], false);
        diag[i].push_back(MsPerFrame([&] { DrawFloor(driver, *diagnostics[i], false); }, kFrames));
      }
    }

    std::printf(
        "1. picture + 10 boxes + gradient, 1920x1080, ms/frame (median of %d rounds x %d):\n",
        kRounds, kFrames);
    for (auto [name, p] : {std::pair<const char*, TPair*>{"with read-back   ", &withRead},
                           {"without read-back", &noRead}}) {
      const double r = Median(p->ratio);
      std::printf("   %s  driver %.2f  floor (12 layers, same drawer) %.2f  ratio %.3f %s\n", name,
                  Median(p->mine), Median(p->ref), r, r <= 1.3 ? "(ok)" : "(over 1.3)");
      ok = ok && r <= 1.3;
    }
    std::printf(
        "   where it goes, no read-back: the floor with the slide's picture level %dx%d sampled "
        "as the drawer samples pictures %.2f (%.2f of the driver), bilinear %.2f\n",
        level->Width(), level->Height(), Median(diag[0]), Median(diag[0]) / Median(noRead.mine),
        Median(diag[1]));

    // Per round, so that drift of the machine cancels.
    std::vector<double> layers, layerMs, passes, bilinear;
    for (size_t i = 0; i < bg.size(); ++i) {
      layerMs.push_back(layer[i] - bg[i]);
      layers.push_back((blurred[i] - bg[i]) / (layer[i] - bg[i]));
      bilinear.push_back(diag[2][i] - diag[3][i]);
      passes.push_back((blurred[i] - layer[i]) / (diag[2][i] - diag[3][i]));
    }
    const double r2 = Median(layers);
    std::printf(
        "2. blur G=28 of a full-screen picture, no read-back, ms/frame: background %.2f  "
        "picture %.2f  blurred picture %.2f\n   one layer %.2f  (blurred - background) / layer "
        "= %.2f layers %s\n   blur work alone (blurred - picture) %.2f = %.1f bilinear picture "
        "layers of %.2f\n   for comparison: a 7-tap pass at full resolution (from a half-size "
        "target) %.2f; one bilinear copy of that target %.2f (clear included in both)\n",
        Median(bg), Median(layer), Median(blurred), Median(layerMs), r2,
        r2 <= 3 ? "(ok)" : "(over 3)", Median(blurred) - Median(layer), Median(passes),
        Median(bilinear), Median(diag[4]), Median(diag[5]));
    ok = ok && r2 <= 3;
  } catch (const std::exception& e) {
    std::printf("bench_drawer: %s\n", e.what());
    return 1;
  }

  // ---- 3: first frame ----
  // The frame at slide time, from nothing: open, driver, produce, decode,
  // upload, draw, read back. Pixels of the magenta background at the centre
  // would mean the picture was missing.
  auto firstFrame = [&](const fs::path& project, double* constructMs) {
    auto t = Clock::now();
    TShow show(project);
    TOfflineFrameDriver driver(*show.source, kW, kH);
    if (constructMs) *constructMs = MsSince(t);
    TRef<TBitmap> frame = driver.Render(SlideTime(0));
    const double ms = MsSince(t);
    const uint8_t* c = frame->Row(kH / 2) + (kW / 2) * 4;
    if (c[0] > 250 && c[1] < 5 && c[2] > 250) throw std::runtime_error("picture missing");
    return ms;
  };
  const fs::path first = dir / "first/Project.lum";
  std::vector<double> inProcess, construct, noKey, decodeOnly, process, djpeg;
  for (int round = 0; round < 5; ++round) {
    try {
      double c = 0;
      inProcess.push_back(firstFrame(first, &c));
      construct.push_back(c);
      noKey.push_back(firstFrame(dir / "nokey/Project.lum", nullptr));
      // The decode alone, through a fresh source (the cache is per source).
      TShow again(first);
      auto t = Clock::now();
      TRef<TImage> img = OpenImage(*again.loc->Accessor(), "photo.jpg");
      if (!img || !img->GetMipLevel(1, TPixelFormat::Bgra32)) throw std::runtime_error("decode");
      decodeOnly.push_back(MsSince(t));
    } catch (const std::exception& e) {
      std::printf("bench_drawer: first frame: %s\n", e.what());
      return 1;
    }
    auto t = Clock::now();
    if (Spawn({LUM_LUMSHOW_PATH, "render", first.string(), "--time", "2000", "--size", "1920x1080",
               "-o", (dir / "first.png").string()}) != 0) {
      std::printf("bench_drawer: lumshow render failed\n");
      return 1;
    }
    process.push_back(MsSince(t));
    t = Clock::now();
    if (Spawn({"djpeg", "-scale", "1/2", "-outfile", "/dev/null", jpeg.string()}) != 0) {
      std::printf("bench_drawer: djpeg failed (is it installed?)\n");
      return 1;
    }
    djpeg.push_back(MsSince(t));
  }
  const double ref = Median(djpeg);
  const double r3a = Median(inProcess) / ref, r3b = Median(process) / ref;
  std::printf(
      "3. first frame of one 24-MP JPEG at 1920x1080, ms (median of 5):\n"
      "   djpeg -scale 1/2 (process)          %7.1f\n"
      "   fresh TOfflineFrameDriver           %7.1f  ratio %5.2f %s  (of it window, context and "
      "shaders %.1f)\n"
      "   fresh lumshow render process        %7.1f  ratio %5.2f %s  (includes writing the PNG)\n"
      "   in process, picture level 1 decoded %7.1f  (alone, to 32-bit BGRA)\n"
      "   in process, no key frame on the slide %5.1f  ratio %5.2f  (the picture is drawn from "
      "level 0)\n",
      ref, Median(inProcess), r3a, r3a <= 1.5 ? "(ok)" : "(over 1.5)", Median(construct),
      Median(process), r3b, r3b <= 1.5 ? "(ok)" : "(over 1.5)", Median(decodeOnly), Median(noKey),
      Median(noKey) / ref);
  ok = ok && r3a <= 1.5;
  return ok ? 0 : 2;
}
