#include "model/lum_image.h"

#include <algorithm>
#include <cmath>

#include "imaging/color_lookup.h"
#include "model/displayed_color.h"
#include "model/lum_object_props.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"

namespace lum {

namespace {

// Bounds that keep hostile documents from asking for absurd work or memory.
constexpr int kMaxAnimFrames = 100000;
constexpr int kMaxAnimCells = 10000;         // columns and rows, each
constexpr int kMaxFrameDuration = 86400000;  // a day
constexpr float kMaxBorderWidth = 50;
constexpr float kMaxAspect = 10000;
constexpr float kMaxLodBias = 16;
constexpr int kMaxMipLevel = 30;

double Finite(double v, double def) {
  return std::isfinite(v) ? v : def;
}

float ClampedFloat(const TIniList* section, std::string_view key, double def, double lo,
                   double hi) {
  return float(std::clamp(Finite(ReadFloat(section, key, def), def), lo, hi));
}

bool HasGifExtension(std::string_view name) {
  if (name.size() < 4) return false;
  std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'g' && (ext[2] | 0x20) == 'i' &&
         (ext[3] | 0x20) == 'f';
}

TImageAnimationParams Sanitized(TImageAnimationParams a) {
  a.columns = std::clamp(a.columns, 1, kMaxAnimCells);
  a.rows = std::clamp(a.rows, 1, kMaxAnimCells);
  a.count = std::clamp(a.count, 0, kMaxAnimFrames);
  if (a.durations.size() > size_t(kMaxAnimFrames)) a.durations.resize(size_t(kMaxAnimFrames));
  // A frame without duration would let the frame search run forever.
  for (int& d : a.durations) d = std::clamp(d, 1, kMaxFrameDuration);
  a.repetitions = std::max(a.repetitions, 0);
  a.offset = Finite(a.offset, 0);
  return a;
}

TBorderParams Sanitized(TBorderParams b) {
  auto clampf = [](float v, float def, float lo, float hi) {
    return std::isfinite(v) ? std::clamp(v, lo, hi) : def;
  };
  b.borderWidth = clampf(b.borderWidth, 1.5f, 0, kMaxBorderWidth);
  for (float& c : b.crop) c = clampf(c, 0, 0, 100);
  b.aspect = clampf(b.aspect, 0, 0, kMaxAspect);
  b.zoom = clampf(b.zoom, 100, 0, 100);
  b.panX = clampf(b.panX, 0, -100, 100);
  b.panY = clampf(b.panY, 0, -100, 100);
  return b;
}

}  // namespace

void TLumImage::ReadImageKeys(const TIniList* section) {
  imageIndex_ = FindItem(section, "ImageIndex") ? ReadInteger(section, "ImageIndex", kIndexNotSet)
                                                : kIndexNotSet;
  antialiased_ = ReadBool(section, "Antialiased", true);
  filtering_ = TImageFiltering(
      ReadChoice(section, "Filtering", {"Nearest", "Bilinear", "Default"}, false, 2));
  mipLodBias_ = ClampedFloat(section, "MipLodBias", 0, -kMaxLodBias, kMaxLodBias);
  effectBuffer_ = ReadInteger(section, "ReplaceWithEffectBuffer", 0);

  TBorderParams b;
  b.borderEnabled = ReadBool(section, "EnableBorder", false);
  b.cropEnabled = ReadBool(section, "EnableCrop", false);
  b.aspectEnabled = ReadBool(section, "EnableAspect", false);
  b.borderWidth = ClampedFloat(section, "BorderWidth", 1.5, 0, kMaxBorderWidth);
  std::vector<std::string> color = ReadList(section, "BorderColor");
  if (color.size() >= 4) {
    uint32_t c = 0;
    for (int i = 0; i < 4; ++i)
      c |= uint32_t(std::clamp(ValueToInt(color[size_t(i)], 255), 0, 255)) << (8 * i);
    b.borderColor = c;
  }
  b.shownBorderColor = DisplayedColor(b.borderColor);
  std::vector<std::string> crop = ReadList(section, "CropRect");
  if (crop.size() >= 4)
    for (int i = 0; i < 4; ++i)
      b.crop[i] = float(std::clamp(Finite(ValueToFloat(crop[size_t(i)], 0), 0), 0.0, 100.0));
  b.aspect = ClampedFloat(section, "Aspect", 0, 0, kMaxAspect);
  border_ = Sanitized(b);

  TImageAnimationParams a;
  a.enabled = ReadBool(section, "AnimEnable", false);
  a.columns = ReadInteger(section, "AnimColumns", 1);
  a.rows = ReadInteger(section, "AnimRows", 1);
  a.repetitions = ReadInteger(section, "AnimRepCount", 0);
  a.offset = Finite(ReadFloat(section, "AnimOffset", 0), 0);
  a.count = std::clamp(ReadInteger(section, "AnimCount", 0), 0, kMaxAnimFrames);
  // Exactly one duration per frame: the listed ones, the last repeated, 100 ms without a list.
  std::vector<std::string> listed = ReadList(section, "AnimInterval");
  a.durations.reserve(size_t(a.count));
  for (int i = 0; i < a.count; ++i) {
    if (listed.empty())
      a.durations.push_back(100);
    else
      a.durations.push_back(ValueToInt(listed[std::min(size_t(i), listed.size() - 1)], 100));
  }
  bool animationToggled = a.enabled != anim_.enabled;
  anim_ = Sanitized(std::move(a));

  std::string name = ReadString(section, "ImageName", "");
  bool restoreAlpha = ReadBool(section, "RestoreAlpha", false);
  if (name != imageName_ || restoreAlpha != restoreAlpha_ || animationToggled) DropPicture();
  imageName_ = std::move(name);
  restoreAlpha_ = restoreAlpha;
}

void TLumImage::LoadFromSection(const TIniList* section) {
  ReadImageKeys(section);
  TLumObject::LoadFromSection(section);
  if (picture_) {
    if (props_) props_->SetAspect(picture_->Width(), picture_->Height());
    UpdateGeometry(100, 0, 0);
  }
}

void TLumImage::DropPicture() {
  if (!picture_) return;
  // Kept until the next picture has arrived.
  previous_ = picture_;
  picture_ = nullptr;
  colorLut_ = nullptr;
  MarkChanged();
}

void TLumImage::SetImageName(std::string name) {
  if (name == imageName_) return;
  imageName_ = std::move(name);
  DropPicture();
}

void TLumImage::SetRestoreAlpha(bool on) {
  if (on == restoreAlpha_) return;
  restoreAlpha_ = on;
  DropPicture();
}

void TLumImage::SetBorder(const TBorderParams& border) {
  border_ = Sanitized(border);
  UpdateGeometry(100, 0, 0);
  MarkChanged();
}

void TLumImage::SetAnimation(const TImageAnimationParams& animation) {
  bool toggled = animation.enabled != anim_.enabled;
  anim_ = Sanitized(animation);
  if (toggled) DropPicture();
  frame_ = std::clamp(frame_, 0, anim_.columns * anim_.rows - 1);
  UpdateGeometry(100, 0, 0);
  MarkChanged();
}

std::string TLumImage::PictureRequestName() const {
  if (effectBuffer_ != 0) {
    auto [w, h] =
        slide_ && slide_->GetHost() ? slide_->GetHost()->PictureSize() : std::pair<int, int>{0, 0};
    if ((w <= 0 || h <= 0) && slide_) {
      w = int(std::lround(slide_->Width()));
      h = int(std::lround(slide_->Height()));
    }
    std::string size = std::to_string(w) + ", " + std::to_string(h);
    const bool effect = slide_ && slide_->ServesAsEffect();
    return std::string(effect ? "SlideEffectBuffer" : "EffectResource") +
           std::to_string(effectBuffer_) + ", " + size;
  }
  if (imageName_.empty()) return {};
  std::string name = imageName_;
  if (anim_.enabled && HasGifExtension(name)) name.replace(name.size() - 4, 4, ".gif|framesatlas");
  if (restoreAlpha_) name.insert(0, "Mask: ");
  return name;
}

bool TLumImage::RequestPicture() {
  if (picture_) return true;
  TLumSlideHost* host = slide_ ? slide_->GetHost() : nullptr;
  std::string name = PictureRequestName();
  TRef<TImage> picture = host && !name.empty() ? host->OpenPicture(name) : nullptr;
  if (!picture) {
    UpdateGeometry(100, 0, 0);
    return false;
  }
  picture_ = std::move(picture);
  if (props_) props_->SetAspect(picture_->Width(), picture_->Height());
  previous_ = nullptr;
  // Ordinary pictures with a profile of their own are shown through a look-up
  // to the display's colours (nothing while colour management is off).
  colorLut_ = nullptr;
  const TBitmapStore& store = picture_->Store();
  if (effectBuffer_ == 0 && !restoreAlpha_ && !store.IccProfile().empty())
    colorLut_ = BuildProfileLookup(store.IccProfile(), store.IccName());
  UpdateGeometry(100, 0, 0);
  MarkChanged();
  return true;
}

std::pair<double, double> TLumImage::GetNaturalSize() const {
  if (!picture_) return {0, 0};
  return {double(picture_->Width()), double(picture_->Height())};
}

void TLumImage::UpdateGeometry(float zoom, float panX, float panY) {
  if (!picture_ || picture_->Width() <= 0 || picture_->Height() <= 0) {
    visible_ = nominal_ = {};
    borderPx_ = 0;
    SetNominalSize(0, 0);
    return;
  }
  const double W = picture_->Width(), H = picture_->Height();
  if (anim_.enabled) {
    visible_ = nominal_ = {0, 0, W, H};
    borderPx_ = 0;
    SetNominalSize(W / anim_.columns, H / anim_.rows);
    return;
  }
  // The rectangle shown for a zoom and pan, and the border band around it.
  auto frame = [&](double z, double px, double py, TRectF& rect, double& border) {
    TRectF a{0, 0, W, H};
    if (border_.aspectEnabled) {
      double aspect = border_.aspect > 0.001 ? border_.aspect : W / H;
      if (aspect > W / H) {
        double h = W / aspect;
        a = {0, (H - h) / 2, W, (H + h) / 2};
      } else {
        double w = aspect * H;
        a = {(W - w) / 2, 0, (W + w) / 2, H};
      }
    }
    if (!(z >= 0.001 && z <= 100)) z = 100;
    const double vw = (a.right - a.left) * z / 100, vh = (a.bottom - a.top) * z / 100;
    const double cx = (a.left + a.right) / 2, cy = (a.top + a.bottom) / 2;
    px = std::isfinite(px) ? std::clamp(px, -100.0, 100.0) : 0;
    py = std::isfinite(py) ? std::clamp(py, -100.0, 100.0) : 0;
    const double dx = (W - vw) * 0.5 * px / 100, dy = (H - vh) * 0.5 * py / 100;
    TRectF r{cx - vw / 2 + dx, cy - vh / 2 + dy, cx + vw / 2 + dx, cy + vh / 2 + dy};
    border = border_.borderEnabled ? vh * border_.borderWidth / 100 : 0;
    if (border_.cropEnabled) {
      r.left += border_.crop[0] * vw / 100;
      r.top += border_.crop[1] * vh / 100;
      r.right -= border_.crop[2] * vw / 100;
      r.bottom -= border_.crop[3] * vh / 100;
    }
    if (r.right - r.left < 0.001) r.right = r.left + 1;
    if (r.bottom - r.top < 0.001) r.bottom = r.top + 1;
    r = {std::max(r.left, 0.0), std::max(r.top, 0.0), std::min(r.right, W), std::min(r.bottom, H)};
    if (!(r.right > r.left) || !(r.bottom > r.top)) r = {0, 0, W, H};
    rect = r;
  };
  // The nominal size is the unzoomed frame; zoom and pan only choose what it shows.
  TRectF& nominal = nominal_;
  frame(100, 0, 0, nominal, borderPx_);
  SetNominalSize(nominal.right - nominal.left + 2 * borderPx_,
                 nominal.bottom - nominal.top + 2 * borderPx_);
  TRectF shown = nominal;
  if (zoom != 100 || panX != 0 || panY != 0) {
    double unused;
    frame(zoom, panX, panY, shown, unused);
  }
  if (shown != visible_) {
    visible_ = shown;
    MarkChanged();
  }
}

double TLumImage::ShadowBlurScale() const {
  return PictureBlurScale(Width(), Height(), MipLevel());
}

void TLumImage::PrepareShadow() {
  const TRectF v = VisibleRect();
  const double vw = v.right - v.left;
  if (!shadow_.enabled || !picture_ || !(vw > 0) || !(Width() > 0)) {
    cast_ = {};
    return;
  }
  TShadowParams p;
  p.source = ShadowSourceName();
  p.left = float(v.left), p.top = float(v.top);
  p.right = float(v.right), p.bottom = float(v.bottom);
  p.marginX = p.marginY = float(BorderThickness());
  const double scale = ShadowBlurScale();
  p.blurSize = shadow_.size * scale;
  p.spread = shadow_.spread;
  p.mipLevel = MipLevel();
  const double unit = Width() / (vw + 2 * BorderThickness());
  RequestShadow(p, picture_.Get(), scale * unit, unit);
}

bool TLumImage::UpdateLayout(bool recursive) {
  RequestPicture();
  if (picture_ && !anim_.enabled) {
    // An animated zoom of 200 shows half of the aspect rectangle.
    const double z = FrameZoom();
    const double zoom = z > 0 ? 100 / (z * 0.01) : 100;
    UpdateGeometry(float(std::isfinite(zoom) ? std::min(zoom, 1e6) : 100), float(FrameX()),
                   float(FrameY()));
  }
  PrepareShadow();
  return TLumObject::UpdateLayout(recursive);
}

void TLumImage::SetTime(bool recursive, double time) {
  TLumObject::SetTime(recursive, time);
  int frame = 0;
  const int64_t cells = int64_t(anim_.columns) * anim_.rows;
  const int n =
      int(std::min<int64_t>({int64_t(anim_.count), cells, int64_t(anim_.durations.size())}));
  if (anim_.enabled && cells > 1 && n > 0) {
    const double begin = slide_ ? slide_->BeginTime() : 0.0;
    const double x = std::max(0.0, time - begin - anim_.offset);
    double pass = 0;
    for (int i = 0; i < n; ++i) pass += anim_.durations[size_t(i)];
    const double passes = std::floor(x / pass);
    if (anim_.repetitions > 0 && passes >= anim_.repetitions) {
      frame = n - 1;
    } else {
      double into = x - passes * pass, sum = 0;
      frame = n - 1;
      for (int i = 0; i < n; ++i) {
        sum += anim_.durations[size_t(i)];
        if (into < sum) {
          frame = i;
          break;
        }
      }
    }
  }
  if (frame != frame_) {
    frame_ = frame;
    MarkChanged();
  }
}

TRectF TLumImage::CellRect(int frame) const {
  if (!picture_) return {};
  const double W = picture_->Width(), H = picture_->Height();
  const int cols = anim_.enabled ? anim_.columns : 1, rows = anim_.enabled ? anim_.rows : 1;
  const int64_t cells = int64_t(cols) * rows;
  frame = int(std::clamp<int64_t>(frame, 0, cells - 1));
  const int col = frame % cols, row = frame / cols;
  const double cw = W / cols, ch = H / rows;
  return {cw * col, ch * row, cw * (col + 1), ch * (row + 1)};
}

int TLumImage::MipLevel() const {
  if (!picture_) return 0;
  const TDisplayMaxima& m = Maxima();
  const double tw = m.scaleX > 0 ? m.scaleX : m.width;
  const double th = m.scaleY > 0 ? m.scaleY : m.height;
  if (!(tw > 0) || !(th > 0)) return 0;
  // Not the zoomed rectangle of the moment: the level would change as the
  // zoom moves, and a slide would decode its picture again while it shows.
  const TRectF v = anim_.enabled ? CellRect(frame_) : nominal_;
  double w = v.right - v.left, h = v.bottom - v.top;
  int level = 0;
  while (level < kMaxMipLevel && w / 2 >= tw && h / 2 >= th) {
    w /= 2;
    h /= 2;
    ++level;
  }
  return level;
}

void TLumImage::FillDrawParams(TImageDrawParams& params) const {
  params.antialiased = antialiased_ && !anim_.enabled;
  params.opacity = std::clamp(Finite(GetDrawOpacity() / 100, 0), 0.0, 1.0);
  params.filtering = filtering_;
  params.mipLevel = MipLevel();
  params.mipLodBias = mipLodBias_;
  params.columns = anim_.enabled ? anim_.columns : 1;
  params.rows = anim_.enabled ? anim_.rows : 1;
  params.hasBorderColor = border_.borderEnabled && !anim_.enabled;
  params.borderColor = params.hasBorderColor ? border_.shownBorderColor : 0;
  params.grade = grades_.Current(Props(), dynamic_cast<const TBitmap*>(colorLut_.Get()));
}

void TLumImage::DrawSelf(TObjectDrawer& drawer) {
  if (!picture_ || !(GetDrawOpacity() > 0)) return;
  drawer.DrawImage(*this);
}

}  // namespace lum
