#include "model/lum_slide.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "imaging/color_management.h"
#include "model/displayed_color.h"
#include "foundation/case_fold.h"
#include "foundation/errors.h"
#include "model/lum_image.h"
#include "model/lum_text.h"
#include "model/lum_object_props.h"
#include "model/lum_video.h"

namespace lum {

namespace {

constexpr double kTan30 = 0.57735026918962573;
// The slide before the first starts long before the show.
constexpr double kBlankSlideBegin = -1073741823.0;

double Round(double v) {
  return std::nearbyint(v);
}

int32_t ReadSynchPos(const TIniList* main, const TIniList* times, int32_t k, int32_t def) {
  std::string key = "opt_synchpos" + std::to_string(k);
  if (FindItem(times, key)) return ReadInteger(times, key, def);
  return ReadInteger(main, key, def);
}

}  // namespace

const char* SlideAnchorName(int anchor) {
  static constexpr const char* kNames[] = {"SlideBegin", "PrevEffectEnd", "NextEffectBegin",
                                           "SlideEnd"};
  return anchor >= 0 && anchor < 4 ? kNames[anchor] : "";
}

TBackgroundDrawn TSlideBackground::Drawn() const {
  switch (style) {
    case 1:
      return TBackgroundDrawn::Solid;
    case 2:
      return file.empty() ? TBackgroundDrawn::Black : TBackgroundDrawn::Picture;
    case 3:
      if (colorStyle == 1) return TBackgroundDrawn::VGradient;
      if (colorStyle == 2) return TBackgroundDrawn::HGradient;
      return TBackgroundDrawn::Black;
    default:
      return TBackgroundDrawn::Black;
  }
}

TSlideBackground ReadSlideBackground(const TIniList* main, const TIniList* slide) {
  TSlideBackground b;
  const TIniList* src = slide;
  std::string prefix;
  if (ReadInteger(slide, "bstyle", 0) == 0) {
    src = main;
    prefix = "opt_";
    b.fromMain = true;
  }
  auto key = [&](const char* k) { return prefix + k; };
  b.style = ReadInteger(src, key("bstyle"), 0);
  switch (b.style) {
    case 1:
      b.color1 = uint32_t(ReadInteger(src, key("bcolor"), 0)) & 0xFFFFFFu;
      break;
    case 2:
      b.file = ReadString(src, key("bfn"), "");
      b.size = ReadFloat(src, key("bsize"), 100);
      break;
    case 3:
      b.colorStyle = ReadInteger(src, key("bcolorstyle"), 0);
      if (b.colorStyle == 1 || b.colorStyle == 2) {
        b.color1 = uint32_t(ReadInteger(src, key("bcolor1"), 0)) & 0xFFFFFFu;
        b.color2 = uint32_t(ReadInteger(src, key("bcolor2"), 0)) & 0xFFFFFFu;
      }
      break;
    default:
      break;
  }
  b.shownColor1 = DisplayedColor(b.color1);
  b.shownColor2 = b.color2 == b.color1 ? b.shownColor1 : DisplayedColor(b.color2);
  return b;
}

TBackgroundTiling TileBackground(double slideW, double slideH, double picW, double picH,
                                 double sizePercent) {
  TBackgroundTiling t;
  if (slideW <= 0 || slideH <= 0 || picW <= 0 || picH <= 0 || sizePercent <= 0) return t;
  // The picture keeps its aspect; the relatively wider side decides.
  if (slideW / slideH > picW / picH) {
    t.drawWidth = slideW * sizePercent / 100;
    t.drawHeight = t.drawWidth * picH / picW;
  } else {
    t.drawHeight = slideH * sizePercent / 100;
    t.drawWidth = t.drawHeight * picW / picH;
  }
  double w = picW, h = picH;
  while (w >= 2 * t.drawWidth && h >= 2 * t.drawHeight && t.halvings < 30) {
    w = std::ceil(w / 2);
    h = std::ceil(h / 2);
    ++t.halvings;
  }
  t.tilesX = int(std::ceil(slideW / t.drawWidth / 2));
  t.tilesY = int(std::ceil(slideH / t.drawHeight / 2));
  return t;
}

std::string TSlidePictureCache::NameFor(double sizePercent, const std::string& file) {
  return "SlideBg: " + FloatToValue(sizePercent) + ":" + file;
}

TRef<TRefObject> TSlidePictureCache::Find(const std::string& name) const {
  for (const auto& [n, p] : entries_)
    if (n == name) return p;
  return nullptr;
}

namespace {

// What the cache keeps of a background: the prepared bitmap and the size of
// the picture it came from (the tiling is worked out from that).
class TBackgroundEntry : public TRefObject {
 public:
  TBackgroundEntry(TRef<TBitmap> bitmap, int w, int h) : bitmap(std::move(bitmap)), w(w), h(h) {}
  TRef<TBitmap> bitmap;
  int w, h;
};

}  // namespace

TRef<TBitmap> TLumSlide::BackgroundPicture(const TSlideBackground& b, TBackgroundTiling& tiling) {
  tiling = {};
  if (b.Drawn() != TBackgroundDrawn::Picture) return nullptr;
  const std::string key = TSlidePictureCache::NameFor(b.size, b.file);
  if (auto* entry = dynamic_cast<TBackgroundEntry*>(pictureCache_.Find(key).Get())) {
    tiling = TileBackground(w_, h_, entry->w, entry->h, b.size);
    return entry->bitmap;
  }
  const TRef<TFileAccessor>& accessor = host_->Accessor();
  if (!accessor) return nullptr;
  // A missing file leaves the background black rather than showing a placeholder.
  try {
    if (!accessor->OpenMember(b.file)) return nullptr;
  } catch (const std::exception&) {
    return nullptr;
  }
  TRef<TImage> picture = host_->OpenPicture(b.file);
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) return nullptr;
  tiling = TileBackground(w_, h_, picture->Width(), picture->Height(), b.size);
  // The store's own mip level is the halved picture, often decoded smaller directly.
  TRef<TBitmap> bitmap;
  try {
    bitmap = picture->GetMipLevel(tiling.halvings, TPixelFormat::Bgra32);
  } catch (const std::exception&) {
  }
  if (!bitmap) {
    tiling = {};
    return nullptr;
  }
  // A profile of its own: the slide's copy is converted to the display's
  // colours once (nothing happens while colour management is off).
  const TBitmapStore& store = picture->Store();
  if (!store.IccProfile().empty() && ColorManagement().Active()) {
    TRef<TBitmap> copy = ConvertBitmap(*bitmap, TPixelFormat::Bgra32);
    if (copy && ColorManagement().ConvertToDisplay(*copy, store.IccProfile(), store.IccName()))
      bitmap = copy;
  }
  pictureCache_.Add(key, MakeRef<TBackgroundEntry>(bitmap, picture->Width(), picture->Height()));
  return bitmap;
}

void TSlidePictureCache::Add(const std::string& name, TRef<TRefObject> picture) {
  for (auto& e : entries_)
    if (e.first == name) {
      e.second = std::move(picture);
      return;
    }
  entries_.emplace_back(name, std::move(picture));
  while (entries_.size() > 2) entries_.pop_front();
}

TLumSlide::TLumSlide(TRef<TLumSlideHost> host, TSlideProducer* producer, int64_t pass)
    : TLumObject(nullptr, nullptr), host_(std::move(host)), producer_(producer), pass_(pass) {
  slide_ = this;
  if (!host_) host_ = MakeRef<TLumSlideHost>();
}

TLumSlide::~TLumSlide() {
  // The nodes own the objects below the slide; they go with the tree.
  if (rootProps_) rootProps_->UnbindObject(this);
  props_ = nullptr;
  rootProps_ = nullptr;
  children_.clear();
}

void TLumSlide::ComputeTimes(const TIniList* main, const TIniList* times, int32_t n) {
  const int32_t i = index_;
  begin_ = (i <= 0 || i > n) ? 0.0 : double(ReadSynchPos(main, times, i, 0));
  nextBegin_ =
      (i < 0 || i >= n) ? begin_ : double(ReadSynchPos(main, times, i + 1, int32_t(Round(begin_))));
}

TSlideTimes TLumSlide::Times() const {
  TSlideTimes t;
  t.duration = int32_t(Round(nextBegin_ - begin_) + Round(tout_));
  t.in = int32_t(Round(tin_));
  t.out = int32_t(Round(tout_));
  return t;
}

void TLumSlide::LoadSlide(const TIniList* main, const TIniList* times, const TIniList* section,
                          int32_t index, int32_t slideCount, double tin, double tout,
                          double offset) {
  index_ = index;
  slideCount_ = slideCount;
  tin_ = tin;
  tout_ = tout;
  ComputeTimes(main, times, slideCount);
  offset_ = offset;
  begin_ += offset;
  nextBegin_ += offset;
  SetBackground(ReadSlideBackground(main, section));
  if (section && section->Kind() == TIniKind::Section)
    slideName_ = std::string(static_cast<const TIniSection*>(section)->Name());
  LoadRoot(section);
}

void TLumSlide::LoadBlank(const TIniList* main, const TIniList* firstSection, double tout) {
  index_ = -1;
  begin_ = nextBegin_ = kBlankSlideBegin;
  tin_ = 0;
  tout_ = tout;
  SetBackground(ReadSlideBackground(main, firstSection));
  LoadRoot(nullptr);
}

void TLumSlide::LoadRoot(const TIniList* section) {
  const TIniList* rootSection = nullptr;
  if (section)
    for (TIniObject* o : section->Objects())
      if (FoldedEquals(o->ClassName(), "Root")) {
        rootSection = o;
        break;
      }
  TSlideTimes real = Times();
  TLumSlideTiming realTiming{real.duration, real.in, real.out};
  TLumTimeScale scale = SlideTimeScale(section, realTiming);
  timeScale_ = scale.apply ? scale.k : 1.0;
  if (!rootProps_) rootProps_ = MakeRef<TLumObjectProps>();
  props_ = rootProps_.Get();
  rootProps_->LoadSlideRoot(rootSection, section, realTiming);
  rootProps_->BindObject(this);
  name_ = slideName_;
  CreateChildren(false);
}

void TLumSlide::SetAreaScale(double scaleX, double scaleY) {
  scaleOverride_ = true;
  areaScale_[0] = scaleX;
  areaScale_[1] = scaleY;
  MarkChanged();
}

void TLumSlide::SetBackground(const TSlideBackground& b) {
  if (b == background_) return;
  background_ = b;
  MarkChanged();
}

TVec3 TLumSlide::Camera() const {
  return host_->Camera();
}

TVec3 TLumSlide::Project(TVec3 p) const {
  TVec3 c = Camera();
  double dz = p.z - c.z;
  if (dz <= 1e-9) return p;
  double k = -c.z / dz;
  return {c.x + (p.x - c.x) * k, c.y + (p.y - c.y) * k, p.z};
}

double TLumSlide::GetAnchorTime(int anchor) const {
  switch (anchor) {
    case kAnchorSlideBegin:
      return begin_;
    case kAnchorPrevEffectEnd:
      return begin_ + tin_;
    case kAnchorNextEffectBegin:
      return nextBegin_;
    case kAnchorSlideEnd:
      return nextBegin_ + tout_;
    default:
      return begin_;
  }
}

TWorldTransform TLumSlide::GetParentTransform() const {
  TRectF a = host_->Area();
  TWorldTransform t;
  t.origin = {(a.left + a.right) / 2, (a.top + a.bottom) / 2, 0};
  return t;
}

bool TLumSlide::UpdateLayout(bool recursive) {
  if (!prepassDone_) {
    prepassDone_ = true;
    DisplayScalePrepass();
  }
  double cz = Camera().z;
  depthFactor_ = (-cz > 0 && h_ > 0) ? (-cz) * kTan30 / h_ : kTan30;
  return TLumObject::UpdateLayout(recursive);
}

void TLumSlide::SetTime(bool recursive, double time) {
  currentTime_ = time;
  TLumObject::SetTime(recursive, time);
}

bool TLumSlide::SetTimeAndLayout(bool recursive, double time) {
  SetTime(recursive, time);
  return UpdateLayout(recursive);
}

void TLumSlide::SetEffectLayers(std::vector<TLumObject*> beneath, std::vector<TLumObject*> above,
                                const TSlideBackground& second, double weight) {
  effectBeneath_ = std::move(beneath);
  effectAbove_ = std::move(above);
  background2_ = second;
  effectWeight_ = weight;
  effectActive_ = !effectBeneath_.empty() || !effectAbove_.empty() || weight != 0;
  MarkChanged();
}

void TLumSlide::Draw(TObjectDrawer& drawer) {
  if (effectActive_) {
    drawer.BeginOffscreen(*this);
    drawer.DrawBackground(*this, background2_);
    for (TLumObject* o : effectBeneath_) drawer.DrawItem(*o);
    drawer.EndOffscreen(*this);
    drawer.DrawBackground(*this, background_);
    for (TLumObject* o : effectAbove_) drawer.DrawItem(*o);
    int alpha = 255 - int(Round((1 - std::clamp(effectWeight_, 0.0, 1.0)) * 255));
    drawer.BlendOffscreen(*this, alpha, effectBeneath_.empty());
    TakeSnapshot(false);
    return;
  }
  drawer.DrawBackground(*this, background_);
  if (host_->afterBackground) host_->afterBackground(*this, drawer);
  TakeSnapshot(false);
  for (TLumObject* c : children_) drawer.DrawItem(*c);
}

std::vector<TLumObject*> TLumSlide::AllObjects() const {
  std::vector<TLumObject*> out;
  std::vector<TLumObject*> stack{const_cast<TLumSlide*>(this)};
  while (!stack.empty()) {
    TLumObject* o = stack.back();
    stack.pop_back();
    out.push_back(o);
    for (auto it = o->Children().rbegin(); it != o->Children().rend(); ++it) stack.push_back(*it);
  }
  return out;
}

void TLumSlide::DisplayScalePrepass() {
  prepassDone_ = true;
  std::vector<TLumObject*> all = AllObjects();
  // The slide's start counts too: objects without key frames hold their
  // values all along and still need a display size.
  std::set<double> times{0.0};
  for (TLumObject* o : all)
    if (TLumObjectProps* p = o->Props())
      for (const auto& k : p->KeyFrames()) times.insert(k->Time());
  std::vector<std::pair<double, double>> before;
  before.reserve(all.size());
  for (TLumObject* o : all) {
    before.emplace_back(o->maxima_.scaleX, o->maxima_.scaleY);
    o->maxima_ = TDisplayMaxima{};
  }
  const bool repeated = prepassRuns_++ > 0;
  const double restore = currentTime_;
  for (double t : times) {
    SetTime(true, begin_ + t);
    TLumObject::UpdateLayout(true);
    if (host_->LoadingCancelled()) break;
    for (TLumObject* o : all) {
      auto c = o->ScreenCorners();
      auto len = [](TVec3 a, TVec3 b) { return std::hypot(a.x - b.x, a.y - b.y); };
      double zoom = o->FrameZoom() * 0.01;
      double w = std::max(len(c[0], c[1]), len(c[3], c[2])) * zoom;
      double h = std::max(len(c[0], c[3]), len(c[1], c[2])) * zoom;
      TDisplayMaxima& m = o->maxima_;
      m.width = std::max(m.width, w);
      m.height = std::max(m.height, h);
      for (const TVec3& p : o->WorldCorners()) m.nearestDepth = std::min(m.nearestDepth, p.z);
    }
  }
  SetTime(true, restore);
  TLumObject::UpdateLayout(true);
  double cz = Camera().z;
  for (size_t i = 0; i < all.size(); ++i) {
    TLumObject* o = all[i];
    TDisplayMaxima& m = o->maxima_;
    if (o == this) {
      m.scaleX = ScaleX() * w_ * 0.01;
      m.scaleY = ScaleY() * h_ * 0.01;
      continue;
    }
    double p = m.nearestDepth > cz ? 1.0 / (1.0 - m.nearestDepth / cz) : 1.0;
    m.scaleX = m.width * p;
    m.scaleY = m.height * p;
    // Texts are rendered for the scale they are shown at.
    if (repeated && o->Kind() == kKindText &&
        (std::abs(m.scaleX - before[i].first) > 0.000001 ||
         std::abs(m.scaleY - before[i].second) > 0.000001))
      static_cast<TLumText*>(o)->RequestRender();
  }
}

TLumObject* TLumSlide::PointerInput(double x, double y, uint32_t held, int type,
                                    std::optional<TLumActionInfo>* action) {
  if (action) action->reset();
  for (TLumObject* o : AllObjects())
    if (o->HasPointerStates()) o->SetPointerState(0);
  // Anything but the left button held: not ours to interpret.
  if (held & ~kLeftButton) return nullptr;
  TLumObject* hit = FindObjectAt(x, y, ClickFilter);
  if (!hit) return nullptr;
  const bool leftHeld = held & kLeftButton;
  auto complete = [&] {
    if (hit->Pressed() && action) *action = ParseActionText(hit->ActionText());
    hit->SetPressed(false);
  };
  if (hit->HasPointerStates()) {
    if (hit->ActionText().empty()) return hit;
    switch (type) {
      case kPointerMove:
        hit->SetPointerState(leftHeld ? 2 : 1);
        break;
      case kPointerPress:
        hit->SetPointerState(2);
        hit->SetPressed(true);
        break;
      case kPointerRelease:
        hit->SetPointerState(1);
        complete();
        break;
    }
  } else if (std::string_view(hit->ClassName()) == "TLumCheckBox") {
    if (type == kPointerRelease) hit->SetPressed(true);
  } else if (type == kPointerPress) {
    hit->SetPressed(true);
  } else if (type == kPointerRelease) {
    complete();
  }
  return hit;
}

std::optional<TMainImage> TLumSlide::MainImage() const {
  for (TLumObject* o : AllObjects()) {
    if (o->Kind() == kKindImage || o->Kind() == kKindAniImage) {
      auto* img = static_cast<TLumImage*>(o);
      if (img->ImageIndex() != TLumImage::kIndexNotSet) {
        auto [w, h] = img->GetNaturalSize();
        return TMainImage{img->ImageName(), w, h};
      }
    }
  }
  for (TLumObject* o : AllObjects()) {
    if (o->Kind() == kKindVideo) {
      auto* v = static_cast<TLumVideo*>(o);
      if (v->ImageIndex() != TLumVideo::kIndexNotSet) {
        auto [w, h] = v->GetNaturalSize();
        return TMainImage{v->FileName(), w, h};
      }
    }
  }
  return std::nullopt;
}

}  // namespace lum
