#include "ui/video_nav_panel.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "document/ini_file.h"
#include "model/lum_slide.h"

namespace lum {

namespace {

// The centre button is drawn this many times the bar's button size.
constexpr int32_t kCentreZoom = 2;

}  // namespace

TVideoNavPanel::TVideoNavPanel(const TIniFile& skin, const std::string& folder,
                               const TNavPictureLoader& loader, TVideoPanelHooks hooks)
    : hooks_(std::move(hooks)),
      bar_(TVideoNavHost{[this](double ms) {
                           const double at = std::min(ms, double(INT32_MAX));
                           action_ = TLumActionInfo{kActionSeek, int32_t(std::lround(at)), ""};
                         },
                         [this](double v) {
                           if (hooks_.setVolume) hooks_.setVolume(v);
                         },
                         [this](const std::string& c) { Command(c); },
                         [this](const TRect& bar, bool centre) {
                           if (!bar.Empty()) barChanged_ = true;
                           if (centre) centreChanged_ = true;
                         },
                         [this] { return hooks_.duration; }}) {
  bar_.Load(skin, folder, loader);
  bar_.SetButtons({"backward", "forward"});
}

bool TVideoNavPanel::Place(const TRect& area, const TRect& slides, int32_t height,
                           TNavAnchor anchor, double offset) {
  bar_.SetWidth(area.Width());
  placed_ = bar_.FitHeight(height) > 0;
  if (!placed_) return false;
  const TVideoNavLayout& l = bar_.Layout();
  rect_ = PlaceInArea(area, l.width, l.height, anchor, offset);
  const int32_t w = l.btnW * kCentreZoom, h = l.btnH * kCentreZoom;
  const int32_t x = slides.left + (slides.Width() - w) / 2,
                y = slides.top + (slides.Height() - h) / 2;
  centreRect_ = {x, y, x + w, y + h};
  return true;
}

void TVideoNavPanel::Command(const std::string& command) {
  if (command == "play") {
    action_ = TLumActionInfo{kActionPause, 0, ""};
  } else if (command == "backward") {
    action_ = TLumActionInfo{kActionPrevSlide, 0, ""};
  } else if (command == "forward") {
    action_ = TLumActionInfo{kActionNextSlide, 0, ""};
  } else if (command == "sound" && hooks_.volume && hooks_.setVolume) {
    // The sound button mutes, and brings back the volume it muted.
    const double v = hooks_.volume();
    if (v > 0) savedVolume_ = v;
    hooks_.setVolume(v > 0 ? 0 : savedVolume_);
  }
}

bool TVideoNavPanel::Update(double showMs, bool playing) {
  if (!placed_) return false;
  if (playing != playing_) centreChanged_ = true;  // the centre button comes or goes
  playing_ = playing;
  bar_.SetTime(showMs);
  bar_.SetPlaying(playing);
  bar_.SetVolume(hooks_.volume ? hooks_.volume() : -1);
  bar_.Flush();
  return barChanged_ || centreChanged_;
}

bool TVideoNavPanel::CentrePointer(int x, int y, int type) {
  const bool inside = !playing_ && centreRect_.Contains(x, y);
  if (!inside && !centrePressed_) return false;
  if (type == kPointerPress) {
    centrePressed_ = true;
  } else if (type == kPointerRelease) {
    // A click on the centre button plays the show.
    if (centrePressed_ && inside) action_ = TLumActionInfo{kActionPause, 0, ""};
    centrePressed_ = false;
  }
  bar_.SetCentreState(!inside ? kNavNormal : centrePressed_ ? kNavPressed : kNavHover);
  return true;
}

bool TVideoNavPanel::Pointer(int x, int y, int type, bool visible,
                             std::optional<TLumActionInfo>* action) {
  if (!placed_) return false;
  action_.reset();
  bool taken = CentrePointer(x, y, type);
  if (!taken) {
    bar_.SetCentreState(kNavNormal);
    const bool inside = visible && rect_.Contains(x, y);
    taken = inside || bar_.Dragging();
    const int bx = x - rect_.left, by = y - rect_.top;
    if (!taken) {
      if (over_) bar_.MouseLeave();
    } else if (type == kPointerPress) {
      bar_.MouseDown(bx, by);
      // A press inside the panel that hits nothing is still the panel's.
      if (!bar_.Dragging()) action_ = TLumActionInfo{kActionPanelPointer, 0, ""};
    } else if (type == kPointerRelease) {
      bar_.MouseUp(bx, by);
    } else {
      bar_.MouseMove(bx, by);
    }
    over_ = inside;
  }
  bar_.Flush();
  if (action && action_) *action = *action_;
  return taken;
}

void TVideoNavPanel::Draw(T3DDrawer& drawer, double opacity) {
  if (!placed_) return;
  const TBitmap* b = bar_.Bitmap();
  // Each bitmap is uploaded again only after a redraw of some part of it.
  if (b && barChanged_) drawer.ReleaseTextures(b);
  barChanged_ = false;
  if (b && opacity > 0)
    if (TCustomTexture* t = drawer.TextureFor(b, *b, false))
      drawer.DrawPixels(*t, rect_, {0, 0, double(b->Width()), double(b->Height())}, opacity / 100);
  const TBitmap* c = bar_.Centre();
  if (c && centreChanged_) drawer.ReleaseTextures(c);
  centreChanged_ = false;
  if (c && !playing_)
    if (TCustomTexture* t = drawer.TextureFor(c, *c, false))
      drawer.DrawPixels(*t, centreRect_, {0, 0, double(c->Width()), double(c->Height())}, 1);
}

void TVideoNavPanel::ReleaseTextures(T3DDrawer& drawer) {
  if (const TBitmap* b = bar_.Bitmap()) drawer.ReleaseTextures(b);
  if (const TBitmap* c = bar_.Centre()) drawer.ReleaseTextures(c);
}

}  // namespace lum
