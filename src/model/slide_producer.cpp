#include "model/slide_producer.h"

#include <algorithm>
#include <cmath>

#include "foundation/errors.h"
#include "foundation/log.h"

namespace lum {

namespace {
double Round(double v) {
  return std::nearbyint(v);
}
}  // namespace

TPresentationArea ComputePresentationArea(int32_t W, int32_t H, double ratio, int fitMode,
                                          double sh, double sv) {
  TPresentationArea a;
  if (W <= 0 || H <= 0 || !(ratio > 0) || !std::isfinite(ratio) || sh <= 0 || sv <= 0) return a;
  double Wp = Round(W / sh * 100), Hp = Round(H / sv * 100);
  double h = Hp, w = Round(h * ratio);
  if (w <= 0) w = 1;
  if (fitMode == 1) {
    double m = 1.0 / std::min(w / Wp, h / Hp);
    w = Round(w * m);
    h = Round(h * m);
  } else if (fitMode == 2) {
    w = Wp;
    h = Hp;
  } else {
    double m = std::min(Wp / w, Hp / h);
    if (m != 1) {
      w = Round(w * m);
      h = Round(h * m);
    }
  }
  w = Round(w * sh / 100);
  h = Round(h * sv / 100);
  if (std::fmod(w, 2) != 0 && w < W) w += 1;
  if (std::fmod(h, 2) != 0 && h < H) h += 1;
  double left = Round(W / 2.0 - w / 2), top = Round(H / 2.0 - h / 2);
  a.left = int32_t(std::max(0.0, left));
  a.top = int32_t(std::max(0.0, top));
  a.right = int32_t(std::min(double(W), left + w));
  a.bottom = int32_t(std::min(double(H), top + h));
  if (a.right < a.left || a.bottom < a.top) a = {};
  return a;
}

TSlideProducer::TSlideProducer(TLumSource& source, TRef<TLumSlideHost> host)
    : source_(source), host_(std::move(host)) {
  if (!host_) host_ = MakeRef<TLumSlideHost>();
  const TIniList* main = source_.Main();
  designW_ = ReadInteger(main, "opt_scr_width", 0);
  designH_ = ReadInteger(main, "opt_scr_height", 0);
  fixedSize_ = ReadBool(main, "opt_scr_fullfixedsize", false);
  host_->SetPathToButtons(ReadString(main, "PathToButtons", ""));
  // Pictures come from the show unless the caller's host already has a source.
  if (!host_->Accessor()) host_->SetAccessor(source_.Accessor());
  host_->SetPictureSize(int(designW_), int(designH_));
}

void TSlideProducer::SetFrame(int32_t width, int32_t height, int fitMode, double scaleH,
                              double scaleV) {
  frameW_ = width;
  frameH_ = height;
  scaleH_ = scaleH > 0 ? scaleH : 100;
  scaleV_ = scaleV > 0 ? scaleV : 100;
  const TIniList* main = source_.Main();
  if (ReadInteger(main, "MinorVersion", 13) > 12) {
    if (designH_ <= 0) throw ELumError(kZeroSizeMessage);
    ratio_ = designW_ / designH_;
  } else {
    ratio_ = ReadFloat(main, "opt_scr_ratio", height > 0 ? double(width) / height : 1.0);
  }
  area_ = fixedSize_ ? FixedSizeArea(width, height, designW_, designH_)
                     : ComputePresentationArea(width, height, ratio_, fitMode, scaleH_, scaleV_);
  host_->SetView(
      {0, 0, double(width), double(height)},
      {double(area_.left), double(area_.top), double(area_.right), double(area_.bottom)});
  host_->SetCamera({width / 2.0, height / 2.0, -double(height) * 100 / scaleV_});
}

TPresentationArea FixedSizeArea(int32_t W, int32_t H, double dw, double dh) {
  const int32_t w = int32_t(Round(dw)), h = int32_t(Round(dh));
  if (w <= 0 || h <= 0 || w > W || h > H)
    return ComputePresentationArea(W, H, dh > 0 ? dw / dh : 0, 0);
  const int32_t left = (W - w) / 2, top = (H - h) / 2;
  return {left, top, left + w, top + h};
}

TRef<TDrawContainer> TSlideProducer::ProduceBlank(int64_t number) {
  auto container = MakeRef<TDrawContainer>();
  container->index = number;
  int64_t pass = 0;
  container->record = source_.Slide(number, &pass);
  container->offset = number < 0 ? 0 : double(pass) * source_.Duration();
  const int32_t n = source_.SlideCount();
  const TIniList* section = n > 0 ? source_.SlideSection(int32_t(number < 0 ? 0 : number % n)) : nullptr;
  auto slide = MakeRef<TLumSlide>(host_, this, number < 0 || n == 0 ? 0 : number / n);
  slide->SetDesignSize(designW_, designH_);
  try {
    slide->LoadBlank(source_.Main(), section, container->record.nextTransition);
  } catch (const std::exception&) {
    slide->LoadBlank(nullptr, nullptr, container->record.nextTransition);
  }
  container->slide = slide;
  return container;
}

TRef<TDrawContainer> TSlideProducer::Produce(int64_t number) {
  try {
    lastError_.clear();
    return ProduceOrThrow(number);
  } catch (const std::exception& e) {
    lastError_ = e.what();
    Log().Line("TSlideProducer: slide " + std::to_string(number) + " failed: " + lastError_);
    return nullptr;
  }
}

TRef<TDrawContainer> TSlideProducer::ProduceOrThrow(int64_t number) {
  const int32_t n = source_.SlideCount();
  if (n == 0) AssertFailed("kvSlideProducer", kNoSlidesMessage);
  if (frameW_ == 0 && frameH_ == 0) SetFrame(1920, 1080);
  auto container = MakeRef<TDrawContainer>();
  container->index = number;
  const TIniList* main = source_.Main();
  auto slide = MakeRef<TLumSlide>(host_, this, number < 0 ? 0 : number / n);
  slide->SetDesignSize(designW_, designH_);
  if (number < 0) {
    container->record = source_.Slide(-1);
    slide->LoadBlank(main, source_.SlideSection(0), source_.Slide(0).transitionIn);
  } else {
    int64_t pass = 0;
    const int32_t i = int32_t(number % n);
    container->record = source_.Slide(number, &pass);
    container->offset = double(pass) * source_.Duration();
    TLumSlideRecord r = source_.Slide(i);
    slide->LoadSlide(main, source_.Times(), source_.SlideSection(i), i, n, r.transitionIn,
                     r.nextTransition, container->offset);
    container->transition = source_.Transition(i);
  }
  double sx = designW_ > 0 ? area_.Width() * 100.0 / designW_ : 0;
  double sy = designH_ > 0 ? area_.Height() * 100.0 / designH_ : 0;
  slide->SetAreaScale(sx, sy);
  container->slide = slide;
  return container;
}

}  // namespace lum
