#include "ui/video_nav_bar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/ini_file.h"
#include "ui/dialog_canvas.h"
#include "ui/dialog_template.h"
#include "ui/nav_paint.h"
#include "ui/nav_skin.h"

namespace lum {

namespace {

// Scales beyond this would only make bitmaps the picture budget refuses.
constexpr double kMaxScale = 64;
// The read-out's glyphs take this part of a digit cell's height as em.
constexpr double kDigitEm = 0.8;

TThreePart Split(const TBitmap& pic, int32_t left, int32_t right) {
  TThreePart p;
  const int32_t w = pic.Width(), h = pic.Height();
  const int32_t l = std::min(left, w), r = std::min(right, w - l);
  p.left = CutPicture(pic, 0, 0, l, h);
  p.middle = CutPicture(pic, l, 0, w - l - r, h);
  p.right = CutPicture(pic, w - r, 0, r, h);
  p.height = h;
  return p;
}

// The ends keep their proportions at the height drawn; the middle stretches.
void DrawThreePart(TBitmap& dst, const TRect& clip, const TRect& to, const TThreePart& p) {
  if (to.Empty() || p.height <= 0) return;
  const double ratio = double(to.Height()) / p.height;
  int32_t lw = p.left ? int32_t(std::lround(p.left->Width() * ratio)) : 0;
  int32_t rw = p.right ? int32_t(std::lround(p.right->Width() * ratio)) : 0;
  lw = std::min(lw, to.Width() / 2);
  rw = std::min(rw, to.Width() - lw);
  if (p.left) DrawPicture(dst, clip, {to.left, to.top, to.left + lw, to.bottom}, *p.left, false);
  if (p.middle)
    DrawPicture(dst, clip, {to.left + lw, to.top, to.right - rw, to.bottom}, *p.middle, false);
  if (p.right)
    DrawPicture(dst, clip, {to.right - rw, to.top, to.right, to.bottom}, *p.right, false);
}

std::string Clock(int64_t seconds, bool hours) {
  char text[32];
  const int64_t s = seconds % 60, m = seconds / 60 % 60, h = seconds / 3600;
  if (hours)
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", (long long)h, (long long)m,
                  (long long)s);
  else
    std::snprintf(text, sizeof text, "%02lld:%02lld", (long long)(seconds / 60), (long long)s);
  return text;
}

}  // namespace

TVideoNavBar::TVideoNavBar(TVideoNavHost host) : host_(std::move(host)) {}

TVideoNavBar::~TVideoNavBar() = default;

void TVideoNavBar::Load(const TIniFile& skin, const std::string& folder,
                        const TNavPictureLoader& loader) {
  skin_ = ReadVideoNavSkin(skin, folder);
  auto get = [&](const std::string& file) {
    TRef<TBitmap> b = loader ? loader(file) : nullptr;
    if (!b || b->Width() <= 0 || b->Height() <= 0 || b->Format() != TPixelFormat::Bgra32)
      throw ENavSkinError("Skin picture \"" + file + "\" could not be loaded");
    return b;
  };
  back_ = Split(*get(skin_.back), skin_.bgLeft, skin_.bgRight);
  line_ = Split(*get(skin_.line), skin_.lineLeft, skin_.lineRight);
  knob_ = get(skin_.knob);
  if (knob_->Width() > kMaxVideoNavExtent || knob_->Height() > kMaxVideoNavExtent)
    throw ENavSkinError("Skin picture \"" + skin_.knob + "\" is too large for a knob");
  skin_.knobW = knob_->Width();
  skin_.knobH = knob_->Height();
  for (size_t s = 0; s < images_.size(); ++s) {
    const TRef<TBitmap> strip = get(skin_.strips[s]);
    for (int i = 0; i < kImages; ++i)
      images_[s][size_t(i)] = CutPicture(*strip, i * skin_.btnW, 0, skin_.btnW, skin_.btnH);
  }
  registered_ = {"backward", "forward"};
  commands_ = registered_;
  // A skin's scale is given in tenths.
  scale_ = std::min(skin_.defaultScale / 10, kMaxScale);
  bitmap_ = nullptr;  // a new background even at the old size
  Relayout();
}

void TVideoNavBar::Relayout() {
  layout_ = LayoutVideoNavBar(skin_, scale_, width_, int32_t(commands_.size()), hours_);
  buttons_.clear();
  buttons_.push_back({layout_.play, "play"});
  for (size_t i = 0; i < commands_.size(); ++i)
    buttons_.push_back({layout_.commands[i], commands_[i]});
  buttons_.push_back({layout_.sound, "sound"});
  drag_ = TDrag::None;
  pressed_ = -1;
  const int32_t w = layout_.width, h = layout_.height;
  if (w <= 0 || h <= 0) {
    bitmap_ = background_ = nullptr;
  } else if (!bitmap_ || bitmap_->Width() != w || bitmap_->Height() != h) {
    bitmap_ = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
    PrepareBackground();
  }
  font_.reset();
  // Glyphs taller than the bar would only be clipped away.
  const int32_t em = std::min(layout_.digitH, h);
  if (em > 0) font_ = std::make_unique<TDialogFont>(kDialogFontFamily, em * kDigitEm);
  pending_ = kRedrawAll;
  whole_ = true;  // the gaps between the parts too
}

void TVideoNavBar::PrepareBackground() {
  background_ = MakeRef<TBitmap>(bitmap_->Width(), bitmap_->Height(), TPixelFormat::Bgra32);
  background_->Fill(0, 0, 0, 0);
  const TRect all{0, 0, background_->Width(), background_->Height()};
  DrawThreePart(*background_, all, all, back_);
}

void TVideoNavBar::SetWidth(int32_t w) {
  width_ = std::max(w, 0);
  Relayout();
}

int32_t TVideoNavBar::FitHeight(int32_t h) {
  const auto s = FitVideoNavScale(skin_, width_, h, int32_t(commands_.size()), hours_);
  hidden_ = !s;
  if (s) SetScale(*s);
  return hidden_ ? 0 : width_;
}

void TVideoNavBar::SetScale(double s) {
  scale_ = std::isfinite(s) ? std::clamp(s, 0.0, kMaxScale) : 1;
  Relayout();
}

int32_t TVideoNavBar::DisplayedSecond(double t) const {
  if (!(t >= 0)) return 0;
  const double shown = total_ >= 1e-6 ? std::fmod(t, total_) : t;
  return int32_t(std::min(shown / 1000, 2e9));
}

int32_t TVideoNavBar::SliderCentre(double t) const {
  const TVideoNavLayout& l = layout_;
  const double f = total_ >= 1e-6 && t >= 0 ? std::fmod(t, total_) / total_ : 0;
  return int32_t(
      std::lround(l.trackStart + l.knobW / 2.0 + (l.trackEnd - l.knobW - l.trackStart) * f));
}

int32_t TVideoNavBar::VolumeCentre(double v) const {
  const TVideoNavLayout& l = layout_;
  const double f = v >= 0 && v <= 1 ? v : 0;
  return int32_t(
      std::lround(l.volumeStart + l.knobW / 2.0 + (l.volumeEnd - l.knobW - l.volumeStart) * f));
}

void TVideoNavBar::SetTime(double ms) {
  if (!std::isfinite(ms)) return;
  const bool moved = SliderCentre(ms) != SliderCentre(time_);
  const bool ticked = DisplayedSecond(ms) != DisplayedSecond(time_);
  time_ = ms;
  if (moved || ticked) pending_ |= kRedrawTrack;
}

void TVideoNavBar::SetVolume(double v) {
  v = std::isnan(v) ? -1 : std::min(v, 1.0);
  if (VolumeCentre(v) != VolumeCentre(volume_)) pending_ |= kRedrawVolume;
  if ((v == 0) != (volume_ == 0)) pending_ |= kRedrawSound;
  volume_ = v;
}

void TVideoNavBar::SetPlaying(bool playing) {
  if (playing == playing_) return;
  playing_ = playing;
  pending_ |= kRedrawPlay | kRedrawCentre;
}

void TVideoNavBar::SetButtons(const std::vector<std::string>& commands) {
  commands_.clear();
  for (const std::string& c : commands)
    if (std::find(registered_.begin(), registered_.end(), c) != registered_.end())
      commands_.push_back(c);
  const double total = host_.totalLength ? host_.totalLength() : 0;
  total_ = std::isfinite(total) ? std::max(total, 0.0) : 0;
  hours_ = total_ >= kHoursFromMs;
  Relayout();
}

void TVideoNavBar::SetCentreState(int state) {
  state = std::clamp(state, int(kNavNormal), int(kNavPressed));
  if (state == centreState_) return;
  centreState_ = state;
  pending_ |= kRedrawCentre;
}

std::string TVideoNavBar::Readout(double t) const {
  const int64_t total = int64_t(std::min(total_ / 1000, 2e9));
  return Clock(DisplayedSecond(t), hours_) + "/" + Clock(total, hours_);
}

// ---- drawing ----

TRect TVideoNavBar::Region(uint32_t flag) const {
  const TVideoNavLayout& l = layout_;
  switch (flag) {
    case kRedrawPlay:
      return l.play;
    case kRedrawCommands: {
      TRect r{};
      for (const TRect& c : l.commands) r = UniteRects(r, c);
      return r;
    }
    case kRedrawTrack:
      return {l.trackStart, 0, l.digitsRight, l.height};
    case kRedrawSound:
      return l.sound;
    case kRedrawVolume:
      return {l.volumeStart, 0, l.volumeEnd, l.height};
    default:
      return {};
  }
}

int TVideoNavBar::ButtonImage(size_t i) const {
  if (i == 0) return playing_ ? kImagePause : kImagePlay;
  if (i + 1 == buttons_.size()) return volume_ == 0 ? kImageSoundOff : kImageSoundOn;
  return buttons_[i].command == "backward" ? kImageBackward : kImageForward;
}

void TVideoNavBar::DrawButtonImage(const TRect& clip, const TRect& r, int image, int state) {
  const TBitmap* pic = images_[size_t(std::clamp(state, 0, 2))][size_t(image)].Get();
  if (pic) DrawPicture(*bitmap_, clip, r, *pic, false);
}

void TVideoNavBar::DrawReadout(const TRect& clip) {
  const TVideoNavLayout& l = layout_;
  if (!font_ || l.digitW <= 0) return;
  const std::string text = Readout(time_);
  const int32_t first = l.cells - int32_t(text.size());  // right-aligned in the cells
  for (size_t i = 0; i < text.size(); ++i) {
    if (first + int32_t(i) < 0) continue;  // beyond the cells (absurd hours)
    const TRect cell = l.Centred(l.trackEnd + (first + int32_t(i)) * l.digitW, l.digitW, l.digitH);
    const TRect part = IntersectRects(clip, cell);
    if (part.Empty()) continue;
    const TDialogText& g = font_->Line(std::string(1, text[i]));
    if (!g.picture) continue;
    const double baseline = cell.top + (l.digitH - font_->Height()) / 2 + font_->Ascent();
    const int32_t x = int32_t(std::lround(cell.left + (l.digitW - g.width) / 2 - g.originX));
    const int32_t y = int32_t(std::lround(baseline - g.baseline));
    DrawPicture(*bitmap_, part, {x, y, x + g.picture->Width(), y + g.picture->Height()}, *g.picture,
                false);
  }
}

void TVideoNavBar::DrawRegion(const TRect& clip) {
  const TVideoNavLayout& l = layout_;
  for (size_t i = 0; i < buttons_.size(); ++i)
    DrawButtonImage(clip, buttons_[i].rect, ButtonImage(i), buttons_[i].state);
  const int32_t lineH = ScaledSize(line_.height, scale_);
  auto track = [&](int32_t from, int32_t to, int32_t knobCentre) {
    DrawThreePart(*bitmap_, clip, l.Centred(from, to - from, lineH), line_);
    DrawPicture(*bitmap_, clip, l.Centred(knobCentre - l.knobW / 2, l.knobW, l.knobH), *knob_,
                false);
  };
  track(l.trackStart, l.trackEnd, SliderCentre(time_));
  DrawReadout(clip);
  track(l.volumeStart, l.volumeEnd, VolumeCentre(volume_));
}

void TVideoNavBar::Flush() {
  if (hidden_ || !bitmap_) {
    pending_ = 0;
    return;
  }
  const TRect all{0, 0, bitmap_->Width(), bitmap_->Height()};
  // After a new layout the whole bar, else each changed part over its background.
  const uint32_t parts = whole_ ? 0 : pending_;
  TRect changed = whole_ ? all : TRect{};
  if (whole_) {
    CopyPart(*bitmap_, *background_, all);
    DrawRegion(all);
  }
  whole_ = false;
  for (uint32_t flag = kRedrawPlay; flag < kRedrawCentre; flag <<= 1) {
    const TRect r = IntersectRects(Region(flag), all);
    if (!(parts & flag) || r.Empty()) continue;
    CopyPart(*bitmap_, *background_, r);
    DrawRegion(r);
    changed = UniteRects(changed, r);
  }
  const bool centre = pending_ & kRedrawCentre;
  if (centre) {
    const TBitmap* pic = images_[size_t(centreState_)][kImageCentre].Get();
    if (pic && (!centre_ || centre_->Width() != pic->Width() || centre_->Height() != pic->Height()))
      centre_ = MakeRef<TBitmap>(pic->Width(), pic->Height(), TPixelFormat::Bgra32);
    if (pic) CopyPart(*centre_, *pic, {0, 0, pic->Width(), pic->Height()});
  }
  pending_ = 0;
  if (host_.repaint && (!changed.Empty() || centre)) host_.repaint(changed, centre);
}

// ---- pointer ----

int TVideoNavBar::HitButton(int32_t x, int32_t y) const {
  for (size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i].rect.Contains(x, y)) return int(i);
  return -1;
}

void TVideoNavBar::SetButtonState(size_t i, int state) {
  if (buttons_[i].state == state) return;
  buttons_[i].state = state;
  pending_ |= i == 0 ? kRedrawPlay : i + 1 == buttons_.size() ? kRedrawSound : kRedrawCommands;
}

double TVideoNavBar::TimeAt(int32_t x) const {
  const TVideoNavLayout& l = layout_;
  const double span = l.trackEnd - l.trackStart - l.knobW;
  if (span <= 0) return 0;
  return std::clamp((x - grab_ - l.trackStart - l.knobW / 2.0) / span, 0.0, 1.0) * total_;
}

double TVideoNavBar::VolumeAt(int32_t x) const {
  const TVideoNavLayout& l = layout_;
  const double span = l.volumeEnd - l.volumeStart - l.knobW;
  if (span <= 0) return volume_;
  return std::clamp((x - grab_ - l.volumeStart - l.knobW / 2.0) / span, 0.0, 1.0);
}

void TVideoNavBar::MouseDown(int32_t x, int32_t y) {
  const TVideoNavLayout& l = layout_;
  if (const int hit = HitButton(x, y); hit >= 0) {
    drag_ = TDrag::Button;
    pressed_ = hit;
    for (size_t i = 0; i < buttons_.size(); ++i)
      SetButtonState(i, int(i) == hit ? kNavPressed : kNavNormal);
    return;
  }
  auto knob = [&](int32_t centre) { return l.Centred(centre - l.knobW / 2, l.knobW, l.knobH); };
  // The knob is caught where it was taken; a click on the track jumps there.
  if (volume_ >= 0 && knob(VolumeCentre(volume_)).Contains(x, y)) {
    drag_ = TDrag::Volume;
    grab_ = x - VolumeCentre(volume_);
  } else if (volume_ >= 0 &&
             l.Centred(l.volumeStart, l.volumeEnd - l.volumeStart, l.trackH).Contains(x, y)) {
    drag_ = TDrag::Volume;
    grab_ = 0;
  } else if (total_ > 0 && knob(SliderCentre(time_)).Contains(x, y)) {
    drag_ = TDrag::Slider;
    grab_ = x - SliderCentre(time_);
  } else if (total_ > 0 &&
             l.Centred(l.trackStart, l.trackEnd - l.trackStart, l.trackH).Contains(x, y)) {
    drag_ = TDrag::Slider;
    grab_ = 0;
  } else {
    return;
  }
  MouseMove(x, y);
}

void TVideoNavBar::MouseMove(int32_t x, int32_t y) {
  const int hit = HitButton(x, y);
  switch (drag_) {
    case TDrag::Slider:
      if (const double t = TimeAt(x); t != time_) {
        SetTime(t);
        if (host_.time) host_.time(t);
      }
      break;
    case TDrag::Volume:
      if (const double v = VolumeAt(x); v != volume_) {
        SetVolume(v);
        if (host_.volume) host_.volume(v);
      }
      break;
    case TDrag::Button:
      SetButtonState(size_t(pressed_), hit == pressed_ ? kNavPressed : kNavNormal);
      break;
    case TDrag::None:
      for (size_t i = 0; i < buttons_.size(); ++i)
        SetButtonState(i, int(i) == hit ? kNavHover : kNavNormal);
      break;
  }
}

void TVideoNavBar::MouseUp(int32_t x, int32_t y) {
  const bool click = drag_ == TDrag::Button && HitButton(x, y) == pressed_;
  const std::string command = click ? buttons_[size_t(pressed_)].command : "";
  drag_ = TDrag::None;
  pressed_ = -1;
  MouseMove(x, y);
  if (click && host_.command) host_.command(command);
}

void TVideoNavBar::MouseLeave() {
  if (drag_ != TDrag::None) return;
  for (size_t i = 0; i < buttons_.size(); ++i) SetButtonState(i, kNavNormal);
}

}  // namespace lum
