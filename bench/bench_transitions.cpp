// Transition frames against the floor of drawing two slides, side by side
// in one run: for every family at 1920 × 1080, ms per frame of the slide
// drawer drawing the pair through the filter (slides as full-screen
// pictures, each frame finished before the clock stops) against the bare GL
// loop of bench_render drawing two full-screen layers. Each family is drawn
// both ways: filters sampling the slides drawn into targets first
// ("before"), and sampling the slides' pictures directly ("after", as the
// root item does for a slide that is one opaque picture). Targets: ratio ≤
// 1.5 for every family but page curl and slide-based effects (≤ 2.5). Also
// the filter set-up once per transition (factory, thresholds, tables, first
// geometry): ≤ 1 ms.
#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bare_gl_loop.h"
#include "bench_timing.h"
#include "container/file_accessor.h"
#include "container/file_source.h"
#include "effects/draw_filter.h"
#include "effects/filters.h"
#include "effects/real_slide_filter.h"
#include "project/lum_source.h"
#include "render/3d_drawer.h"
#include "render/gl/gl_renderer.h"
#include "render/window_draw_device.h"
#include "render/root_item.h"
#include "toolkit/window.h"

using namespace lum;
using lum::bench::Clock;
using lum::bench::Median;
using lum::bench::MsSince;
using lum::bench::TBareLoop;

namespace {

constexpr int kW = 1920, kH = 1080;

// The two slides as full-screen pictures: drawing one plainly is one
// full-screen layer, as in the floor. Direct, filters sample the pictures
// themselves (as the root item does for a slide that is one opaque
// picture); otherwise the slides are drawn into targets first.
class TPictureSlides : public TTransitionSlides {
 public:
  TPictureSlides(T3DDrawer& d, TCustomTexture* a, TCustomTexture* b, bool direct)
      : d_(d), tex_{a, b}, direct_(direct) {}
  ~TPictureSlides() override {
    for (auto& p : pics_)
      if (p) d_.FullTargets().Release(p);
  }
  TDrawContainer& Container(int) override { return container_; }
  void DrawPlain(int which) override {
    d_.DrawPixels(*tex_[which], {0, 0, kW, kH}, {0, 0, kW, kH}, 1);
  }
  TRenderTargetTexture* Picture(int which) override {
    auto& p = pics_[which];
    if (p) return p.Get();
    p = d_.FullTargets().Acquire();
    T3DScreen& s = d_.Screen();
    if (!p || !s.PushRenderTarget(p.Get())) return nullptr;
    s.SetViewport(d_.FrameRect());
    // As the root item: a slide covering the frame needs no clear first.
    DrawPlain(which);
    s.PopRenderTarget();
    s.SetViewport(d_.FrameRect());
    return p.Get();
  }
  TRect Area() const override { return {0, 0, kW, kH}; }
  TSlideSource Direct(int which) override {
    if (!direct_) return {};
    TSlideSource s(tex_[which]);
    s.opaque = true;
    return s;
  }

 private:
  T3DDrawer& d_;
  TCustomTexture* tex_[2];
  bool direct_;
  TDrawContainer container_;
  TRef<TRenderTargetTexture> pics_[2];
};

struct TFamily {
  const char* name;
  TLumEffect effect;
  double target;  // ratio
};

TLumEffect Effect(int type, std::vector<int> set, int count, std::vector<int32_t> ints = {},
                  std::vector<float> floats = {}) {
  TLumEffect e;
  e.type = type;
  e.flags.assign(size_t(count), false);
  for (int f : set) e.flags[size_t(f)] = true;
  e.ints = std::move(ints);
  e.floats = std::move(floats);
  e.variantCount = 1;
  return e;
}

std::vector<TFamily> Families() {
  return {
      {"cross-fade", Effect(1, {0}, 1), 1.5},
      {"circle wipe", Effect(3, {2}, 5, {50, 50}), 1.5},
      {"rhomb wipe", Effect(3, {3}, 5, {30, 70}), 1.5},
      {"square wipe", Effect(3, {4}, 5, {50, 50}), 1.5},
      {"gates (lines)", Effect(4, {4}, 8), 1.5},
      {"gates (diagonal)", Effect(4, {6}, 8), 1.5},
      {"page (edge)", Effect(5, {3}, 8), 1.5},
      {"page (corner)", Effect(5, {0}, 8), 1.5},
      {"mosaic 32x18", Effect(6, {0}, 1, {32, 18, 40, 7}), 1.5},
      {"push", Effect(7, {0}, 4), 1.5},
      {"slide", Effect(8, {0}, 4), 1.5},
      {"clock hand", Effect(2, {0, 6}, 11, {}, {0}), 1.5},
      {"broom", Effect(2, {0, 2}, 11, {}, {0.2f}), 1.5},
      {"page curl (edge)", Effect(9, {0, 6, 11}, 12, {1, 0xE0E0E0}, {0.08f, 0.125f}), 2.5},
      {"page curl (corner)", Effect(9, {0, 9, 10}, 12, {0, 0xE0E0E0}, {0.08f, 0.125f}), 2.5},
      {"flip", Effect(10, {0, 5}, 6, {}, {0.5f}), 1.5},
      {"swap", Effect(11, {0}, 4, {}, {4, 1, 60}), 1.5},
  };
}

}  // namespace

int main() {
  std::string error;
  if (!TWindowThread::Init(&error)) {
    std::printf("bench_transitions: no display (%s)\n", error.c_str());
    return 1;
  }
  auto engine = MakeRef<T3DEngineGL>();
  if (!engine->DeviceReady()) {
    std::printf("bench_transitions: %s\n", engine->InitFailure().c_str());
    return 1;
  }
  SetGLPacing(false);
  InstallSlideEffects();
  std::printf("renderer: %s\n", engine->CapabilityText("vendor", 0).c_str());

  TWindowOptions o;
  o.width = kW;
  o.height = kH;
  o.hidden = true;
  TWindow window(o);
  auto device = MakeRef<TWindowDrawDevice>(window.Handle());
  device->Follow(window);
  T3DDrawer drawer{TRef<T3DEngine>(engine)};
  drawer.Attach(device.Get());
  if (!drawer.DeviceReady()) {
    std::printf("bench_transitions: the drawer's device is not ready\n");
    return 1;
  }

  std::vector<uint8_t> pixels(size_t(kW) * kH * 4);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = &pixels[(size_t(y) * kW + x) * 4];
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(x ^ y), p[3] = 255;
    }
  TRGBATexture a(&drawer.Screen(), kW, kH), b(&drawer.Screen(), kW, kH);
  a.SetPixels({pixels.data(), kW, kH, kW * 4, TSurfaceFormat::BGRA8});
  for (size_t i = 0; i < pixels.size(); i += 4) std::swap(pixels[i], pixels[i + 2]);
  b.SetPixels({pixels.data(), kW, kH, kW * 4, TSurfaceFormat::BGRA8});

  std::vector<uint8_t> padded(size_t(a.TextureWidth()) * a.TextureHeight() * 4, 0);
  for (int y = 0; y < kH; ++y)
    std::copy_n(&pixels[size_t(y) * kW * 4], kW * 4, &padded[size_t(y) * a.TextureWidth() * 4]);
  TBareLoop bare;
  if (!bare.Init(padded, a.TextureWidth(), a.TextureHeight())) {
    std::printf("bench_transitions: bare loop setup failed\n");
    return 1;
  }

  const TFilterRect slide{0, 0, kW, kH};
  const int frames = 8, rounds = 5;
  auto msPerFrame = [&](const std::function<void(int)>& frame) {
    frame(0);  // warm up
    const auto t0 = Clock::now();
    for (int i = 0; i < frames; ++i) frame(i);
    return MsSince(t0) / frames;
  };
  auto drawPair = [&](TDrawFilter* f, int i, bool direct) {
    TFnItem item([&](T3DDrawer& d) {
      d.Clear(0xFF000000);
      TPictureSlides pair(d, &a, &b, direct);
      if (f) {
        // Progress runs over the middle of the transition.
        f->SetTime(100 + 800.0 * (i % frames) / frames);
        f->SetOutput(slide);
        f->DrawPair(d, pair);
      } else {
        pair.DrawPlain(0);
        pair.DrawPlain(1);
      }
    });
    drawer.DrawItem(item);
    glFinish();  // the drawer's context is current on this thread now
  };

  // The floor: two layers through the bare loop, and through the drawer.
  std::vector<double> floor, drawerFloor;
  for (int r = 0; r < rounds; ++r) {
    floor.push_back(msPerFrame([&](int) { bare.Frame(2); }));
    drawerFloor.push_back(msPerFrame([&](int i) { drawPair(nullptr, i, false); }));
  }
  const double ref = Median(floor);
  std::printf(
      "floor: two full-screen layers, bare GL %.2f ms/frame; through the drawer %.2f "
      "ms/frame\n\n",
      ref, Median(drawerFloor));
  std::printf("%-20s %9s %9s %9s %8s %8s %7s  %s\n", "family", "targets", "direct", "bare 2L",
              "before", "after", "target", "setup ms");

  bool ok = true;
  double worstSetup = 0;
  for (const TFamily& fam : Families()) {
    std::vector<double> mine, viaTargets, bares, setups;
    for (int r = 0; r < rounds; ++r) {
      // Set-up: the factory, thresholds and tables, and the first geometry
      // (counted, not drawn).
      const auto s0 = Clock::now();
      auto f = CreateDrawFilter(&fam.effect, slide, 0.02, 1000);
      if (!f) break;
      f->SetTime(500);
      TFilterTarget counting(nullptr, nullptr);
      f->Draw(counting);
      setups.push_back(MsSince(s0));
      bares.push_back(msPerFrame([&](int) { bare.Frame(2); }));
      viaTargets.push_back(msPerFrame([&](int i) { drawPair(f.get(), i, false); }));
      mine.push_back(msPerFrame([&](int i) { drawPair(f.get(), i, true); }));
    }
    if (mine.empty()) {
      std::printf("%-20s no filter\n", fam.name);
      ok = false;
      continue;
    }
    const double m = Median(mine), t = Median(viaTargets), floorNow = Median(bares);
    const double ratio = m / floorNow;
    const double setup = *std::max_element(setups.begin(), setups.end());
    worstSetup = std::max(worstSetup, setup);
    const bool good = ratio <= fam.target;
    ok = ok && good;
    std::printf("%-20s %9.2f %9.2f %9.2f %8.3f %8.3f %7.1f  %.3f %s\n", fam.name, t, m, floorNow,
                t / floorNow, ratio, fam.target, setup, good ? "(ok)" : "(over)");
  }
  // A slide-based effect: its own full-screen background and a box, the
  // incoming slide's picture growing in its effect buffer.
  {
    TIniFile doc;
    doc.LoadText(
        "[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\n"
        "object TheEffect:AnEffect\ntime=1000\ncustom_count=1\n"
        "object fx:custom\nkey=\nchecked=1\nbstyle=1\nbcolor=32768\nend\nend\n"
        "[Times]\nopt_slidescount=2\nopt_synchpos1=3000\nopt_synchpos2=6000\n"
        "[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\nend\n"
        "[Slide2]\nbstyle=1\nbcolor=16711680\nobject TheEffect:AnEffect\nref=fx\ntime=1000\n"
        "end\nobject Container:Root\nend\n"
        "[effect_fx]\nCustomEffTime=2000\nobject Container:Root\n"
        "object B:Box\nGUID={1}\nSize=600,400\nFitMode=None\nColor1=255,255,255\nend\n"
        "object In:Image\nGUID={2}\nReplaceWithEffectBuffer=2\nFitMode=None\n"
        "object K:KeyPoint\nTime=0\nScaleX=10\nScaleY=10\nend\n"
        "object K:KeyPoint\nTime=2000\nScaleX=100\nScaleY=100\nend\nend\nend\n");
    auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(), "/nonexistent/");
    TLumSource source(accessor, doc, TLumSourceSettings{"bench", 1});
    auto producer = MakeRef<TSlideProducer>(source);
    producer->SetFrame(kW, kH);
    TRef<TDrawContainer> out = producer->Produce(0), in = producer->Produce(1);
    std::vector<double> mine, viaTargets, bares, setups, ahead, unprepared, firstUnprepared,
        firstPrepared;
    for (int r = 0; out && in && in->transition.effect && r < rounds; ++r) {
      // Made on the first frame (a fresh incoming slide each round).
      {
        TRef<TDrawContainer> fresh = producer->Produce(1);
        const TCustomFilterContext c{out.Get(), fresh.Get(), {0, 0, kW, kH}};
        const auto u0 = Clock::now();
        auto f = CreateDrawFilter(&*fresh->transition.effect, slide, 0.001, 1000, &c);
        unprepared.push_back(MsSince(u0));
        const auto d0 = Clock::now();
        drawPair(f.get(), 0, true);
        firstUnprepared.push_back(MsSince(d0));
      }
      // As the loader does it: the effect slide made as the incoming slide
      // is loaded; what is left for the first frame is the set-up.
      in = producer->Produce(1);
      const auto a0 = Clock::now();
      PrepareSlideEffect(*in);
      ahead.push_back(MsSince(a0));
      const auto s0 = Clock::now();
      const TCustomFilterContext context{out.Get(), in.Get(), {0, 0, kW, kH}};
      auto f = CreateDrawFilter(&*in->transition.effect, slide, 0.001, 1000, &context);
      setups.push_back(MsSince(s0));
      if (!f || std::string(f->ClassName()) != "TRealSlideFilter") break;
      const auto d0 = Clock::now();
      drawPair(f.get(), 0, true);
      firstPrepared.push_back(MsSince(d0));
      bares.push_back(msPerFrame([&](int) { bare.Frame(2); }));
      viaTargets.push_back(msPerFrame([&](int i) { drawPair(f.get(), i, false); }));
      mine.push_back(msPerFrame([&](int i) { drawPair(f.get(), i, true); }));
    }
    if (mine.empty()) {
      std::printf("%-20s could not be made\n", "slide-based");
      ok = false;
    } else {
      const double m = Median(mine), t = Median(viaTargets), floorNow = Median(bares);
      const double ratio = m / floorNow;
      ok = ok && ratio <= 2.5;
      std::printf(
          "%-20s %9.2f %9.2f %9.2f %8.3f %8.3f %7.1f  %.3f %s (effect slide made ahead: %.3f "
          "ms; made on the first frame: %.3f ms)\n",
          "slide-based", t, m, floorNow, t / floorNow, ratio, 2.5, Median(setups),
          ratio <= 2.5 ? "(ok)" : "(over)", Median(ahead), Median(unprepared));
      std::printf("first frame drawn: %.2f ms made ahead, %.2f ms made on the frame\n",
                  Median(firstPrepared), Median(firstUnprepared));
    }
  }
  // The worst set-up: the largest mosaic.
  {
    const TLumEffect big =
        Effect(6, {0}, 1, {TRandomFilter::kMaxCells, TRandomFilter::kMaxCells, 99, 3});
    std::vector<double> t;
    for (int r = 0; r < rounds; ++r) {
      const auto s0 = Clock::now();
      auto f = CreateDrawFilter(&big, slide, 0.02, 1000);
      t.push_back(MsSince(s0));
    }
    std::printf("\nmosaic %dx%d thresholds: %.3f ms\n", TRandomFilter::kMaxCells,
                TRandomFilter::kMaxCells, Median(t));
    worstSetup = std::max(worstSetup, Median(t));
  }
  std::printf("filter set-up, worst: %.3f ms %s\n", worstSetup,
              worstSetup <= 1 ? "(ok)" : "(over 1 ms)");
  ok = ok && worstSetup <= 1;
  drawer.Close();
  device->Close();
  return ok ? 0 : 2;
}
