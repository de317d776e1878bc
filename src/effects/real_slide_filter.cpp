#include "effects/real_slide_filter.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "document/ini_values.h"
#include "foundation/log.h"
#include "model/lum_image.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "project/lum_source.h"
#include "render/root_item.h"
#include "render/slide_drawer.h"

namespace lum {

namespace {

// The effect buffers a slide shows: bit 0 the outgoing slide's, bit 1 the
// incoming one's.
int EffectBuffers(const TLumSlide& slide) {
  int used = 0;
  for (TLumObject* o : slide.AllObjects())
    if (auto* i = dynamic_cast<TLumImage*>(o);
        i && (i->EffectBuffer() == 1 || i->EffectBuffer() == 2))
      used |= i->EffectBuffer();
  return used;
}

// The effect slide's drawer: effect-buffer pictures show the pair's drawn
// slides, and a transparent effect has no background of its own.
class TEffectSlideDrawer : public TSlideDrawer {
 public:
  TEffectSlideDrawer(T3DDrawer& d, TTransitionSlides& pair, const TLumSlide& effect,
                     bool transparent)
      : TSlideDrawer(d), effect_(effect), transparent_(transparent) {
    SetEffectBuffers(&pair);
  }

  void DrawBackground(TLumSlide& slide, const TSlideBackground& b) override {
    if (transparent_ && &slide == &effect_ && &b == &effect_.Background()) return;
    TSlideDrawer::DrawBackground(slide, b);
  }

 private:
  const TLumSlide& effect_;
  bool transparent_;
};

}  // namespace

TRealSlideFilter::~TRealSlideFilter() {
  if (effect_ && effect_->slide) {
    effect_->slide->SetEffectLayers({}, {}, effect_->slide->Background(), 0);
    effect_->slide->StopMedia();
  }
}

std::unique_ptr<TRealSlideFilter> TRealSlideFilter::Create(TDrawContainer& current,
                                                           const TEffectSection& section) {
  const TIniList* s = section.Section();
  TLumSlide* slide = current.slide.Get();
  TLumSlideHost* showHost = slide ? slide->GetHost() : nullptr;
  if (!s || !showHost || !showHost->Accessor()) return nullptr;
  std::unique_ptr<TRealSlideFilter> f(new TRealSlideFilter);
  const int32_t w = ReadInteger(s, "opt_scr_width", 1920);
  const int32_t h = ReadInteger(s, "opt_scr_height", 1080);
  const bool cover = ReadBool(s, "CoverMode", true);
  f->effectTime_ = std::max(1, ReadInteger(s, "CustomEffTime", 2000));
  f->transparent_ = ReadBool(s, "TransparentBg", false);
  f->background_ = ReadInteger(s, "CustomEffBg", 0);
  if (w <= 0 || h <= 0) {
    FilterWarning("custom transition with a design size of " + std::to_string(w) + "x" +
                  std::to_string(h));
    return nullptr;
  }
  // The effect is a one-slide show of its own: the section is its slide,
  // its timeline runs 0 .. "CustomEffTime".
  f->document_.LoadText("[Main]\nMinorVersion=13\nopt_scr_width=" + std::to_string(w) +
                        "\nopt_scr_height=" + std::to_string(h) +
                        "\n[Times]\nopt_slidescount=1\nopt_synchpos1=" +
                        std::to_string(int64_t(f->effectTime_)) + "\n");
  f->document_.FindOrAddSection("Slide1")->AppendCopy(*s);
  f->source_ = std::make_unique<TLumSource>(showHost->Accessor(), f->document_,
                                            TLumSourceSettings{"effect", 1});
  // A host of its own (its view and camera follow the effect's area) over
  // the show's files.
  f->host_ = MakeRef<TLumSlideHost>();
  f->host_->SetAccessor(showHost->Accessor());
  f->producer_ = MakeRef<TSlideProducer>(*f->source_, f->host_);
  f->view_ = showHost->View();
  f->PlaceInSlideArea(*slide, cover);
  f->effect_ = f->producer_->Produce(0);
  if (!f->effect_ || !f->effect_->slide) {
    FilterWarning("custom transition gives no slide: " + f->producer_->LastError());
    return nullptr;
  }
  f->buffers_ = EffectBuffers(*f->effect_->slide);
  // The first layout (display sizes at every key time) before anything is
  // borrowed: after that it took milliseconds instead of a tenth of one.
  f->effect_->slide->SetTimeAndLayout(true, 0);
  return f;
}

void TRealSlideFilter::PlaceInSlideArea(const TLumSlide& slide, bool cover) {
  // The effect's window is the slide's presentation area at the slide's
  // scales: letterboxed shows get their effect where their slides are.
  const double sx = slide.ScaleX() > 0 ? slide.ScaleX() : 100;
  const double sy = slide.ScaleY() > 0 ? slide.ScaleY() : 100;
  const int32_t w = int32_t(std::lround(sx * slide.Width() * 0.01));
  const int32_t h = int32_t(std::lround(sy * slide.Height() * 0.01));
  producer_->SetFrame(w, h, cover ? 1 : 0, sx, sy);
  // The producer places it in a window of its own at 0, 0; the slide's area
  // lies where the show's host has it.
  const TRectF area = slide.GetHost()->Area(), own = host_->Area();
  const TVec3 camera = host_->Camera();
  host_->SetView(view_, {own.left + area.left, own.top + area.top, own.right + area.left,
                         own.bottom + area.top});
  host_->SetCamera({camera.x + area.left, camera.y + area.top, camera.z});
}

void TRealSlideFilter::Setup(TDrawContainer& outgoing, TDrawContainer& incoming) {
  outgoing_ = TRef<TDrawContainer>(&outgoing);
  incoming_ = TRef<TDrawContainer>(&incoming);
  TLumSlide& e = *effect_->slide;
  switch (background_) {
    case 1:
    case 3:
      if (outgoing.slide) e.SetBackground(outgoing.slide->Background());
      break;
    case 2:
      if (incoming.slide) e.SetBackground(incoming.slide->Background());
      break;
    default:
      break;
  }
  ApplyLayers();
  SetProgress(0);
}

void TRealSlideFilter::ApplyLayers() {
  TLumSlide& e = *effect_->slide;
  auto objects = [](const TRef<TDrawContainer>& c) {
    return c && c->slide ? c->slide->Children() : std::vector<TLumObject*>{};
  };
  std::vector<TLumObject*> beneath, above;
  TSlideBackground second = e.Background();
  double weight = 0;
  if (background_ == 1) above = objects(outgoing_);
  if (background_ == 2) above = objects(incoming_);
  if (background_ == 3) {
    beneath = objects(incoming_);
    above = objects(outgoing_);
    if (incoming_ && incoming_->slide) second = incoming_->slide->Background();
    // Never quite 0, so that the slide keeps serving as an effect.
    weight = std::max(progress_, 1e-6);
  } else {
    // The effect's own objects come over what it borrows.
    for (TLumObject* c : e.Children()) above.push_back(c);
  }
  e.SetEffectLayers(std::move(beneath), std::move(above), second, weight);
}

void TRealSlideFilter::SetProgress(double x) {
  progress_ = std::isfinite(x) ? std::clamp(x, 0.0, 1.0) : 0;
  if (background_ == 3) ApplyLayers();
  effect_->slide->SetTimeAndLayout(true, progress_ * effectTime_);
}

void TRealSlideFilter::SetTime(double elapsed) {
  TDrawFilter::SetTime(elapsed);
  SetProgress(Progress());
}

void TRealSlideFilter::DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) {
  // The pictures shown before anything is drawn: drawing one ends any batch.
  const bool own = background_ < 1 || background_ > 3;
  const bool fading = transparent_ && own;
  if (buffers_ & 1) slides.Source(0);
  if ((buffers_ & 2) || fading) slides.Source(1);
  if (fading) {
    // Beneath a transparent effect the pair cross-fades.
    slides.DrawPlain(0);
    if (const TSlideSource in = slides.Source(1)) {
      const TRect f = drawer.FrameRect();
      drawer.Screen().SetClip(slides.Area());
      drawer.DrawPixels(*in.texture, f, in.Map(f), Progress());
    }
  }
  TLumSlide& e = *effect_->slide;
  TEffectSlideDrawer d(drawer, slides, e, transparent_ && own);
  d.DrawSlide(e);
  // Blending the incoming slide's objects covers what was drawn before; the
  // effect's own objects come last.
  if (background_ == 3)
    for (TLumObject* c : e.Children()) d.DrawItem(*c);
}

namespace {

// An effect slide made ahead, kept with the slide it leads into until its
// transition takes it.
class TPreparedSlideEffect : public TRefObject {
 public:
  explicit TPreparedSlideEffect(std::unique_ptr<TRealSlideFilter> f) : filter_(std::move(f)) {}
  // The filter, once, while it suits the window of the moment.
  std::unique_ptr<TRealSlideFilter> Take(const TRectF& view) {
    std::lock_guard g(lock_);
    if (filter_ && !(filter_->View() == view)) filter_.reset();
    return std::move(filter_);
  }

 private:
  std::mutex lock_;
  std::unique_ptr<TRealSlideFilter> filter_;
};

}  // namespace

std::unique_ptr<TRealSlideFilter> TakePreparedSlideEffect(TDrawContainer& slide) {
  auto* p = dynamic_cast<TPreparedSlideEffect*>(slide.preparedEffect.Get());
  TLumSlideHost* host = slide.slide ? slide.slide->GetHost() : nullptr;
  return p && host ? p->Take(host->View()) : nullptr;
}

void PrepareSlideEffect(TDrawContainer& slide) {
  const TTransitionChoice& c = slide.transition;
  if (!c.effect || c.effect->type != kEffectCustom || !c.effect->section) return;
  if (std::unique_ptr<TRealSlideFilter> f = TRealSlideFilter::Create(slide, *c.effect->section))
    slide.preparedEffect = MakeRef<TPreparedSlideEffect>(std::move(f));
}

void InstallSlideEffects() {
  SetCustomFilterHook(
      [](const TLumEffect& effect, const TCustomFilterContext& c) -> std::unique_ptr<TDrawFilter> {
        if (!effect.section || !c.current || !c.previous) return nullptr;
        std::unique_ptr<TRealSlideFilter> f = TakePreparedSlideEffect(*c.current);
        if (!f) f = TRealSlideFilter::Create(*c.current, *effect.section);
        if (!f) return nullptr;
        f->Setup(*c.previous, *c.current);
        return f;
      });
}

}  // namespace lum
