#include "ui/third_slide.h"

#include <algorithm>
#include <cmath>

#include "container/file_accessor.h"
#include "document/ini_file.h"
#include "foundation/log.h"
#include "imaging/image.h"
#include "model/lum_slide.h"
#include "project/lum_source.h"

namespace lum {

namespace {

constexpr const char* kMain = "main";
// Bars are drawn at their own pixels on a screen this high.
constexpr double kReferenceHeight = 1080;

TRef<TBitmap> LoadPicture(const TFileAccessor& accessor, const std::string& file) {
  if (file.empty()) return nullptr;
  TRef<TImage> image = LoadImageByName(accessor, file);
  return image ? image->GetMipLevel(0, TPixelFormat::Bgra32) : nullptr;
}

}  // namespace

TOverlayOptions ReadOverlayOptions(const TIniFile& d) {
  TOverlayOptions o;
  o.logo = d.ReadBool(kMain, "opt_logo", false);
  o.logoFile = d.ReadString(kMain, "opt_logo_fn", "");
  o.logoPos = d.ReadInteger(kMain, "opt_logo_pos", 0);
  o.logoOpacity = std::clamp(d.ReadFloat(kMain, "opt_logo_opacity", 100), 0.0, 100.0);
  o.logoOffset = d.ReadFloat(kMain, "opt_logo_offset", 0);
  o.logoSize = std::clamp(d.ReadFloat(kMain, "opt_logo_size", 10), 0.0, 100.0);
  o.panel = d.ReadBool(kMain, "opt_fcp", false);
  o.skinFile = d.ReadString(kMain, "opt_nav_inifile", "");
  o.showBackground = d.ReadBool(kMain, "opt_nav_showbg", false);
  o.hue = d.ReadInteger(kMain, "opt_nav_hue", 0);
  o.viewScale = std::clamp(d.ReadFloat(kMain, "opt_nav_viewscale", 10), 0.0, 100.0);
  o.useViewScale = d.ReadBool(kMain, "opt_nav_usevideoscale", false);
  o.panelOffset = d.ReadFloat(kMain, "opt_nav_offset", 0);
  o.position = d.ReadString(kMain, "opt_cp", "Center");
  const int count = std::clamp(d.ReadInteger(kMain, "opt_newnavbuttons_count", 0), 0, 64);
  for (int i = 1; i <= count; ++i)
    o.buttons.push_back(d.ReadString(kMain, "opt_newnavbutton" + std::to_string(i), ""));
  o.autoHide = d.ReadBool(kMain, "opt_hidenavbar", false);
  o.hideIntervalS = std::max(0, d.ReadInteger(kMain, "opt_nav_hideinterval", 0));
  o.fadeOutMs = std::max(0, d.ReadInteger(kMain, "opt_nav_hidefadeout", 1000));
  o.fadeInMs = std::max(0, d.ReadInteger(kMain, "opt_nav_fadein", 500));
  o.windowArea = d.ReadBool(kMain, "opt_nav_wndbottom", true);
  return o;
}

TLumActionInfo NavButtonAction(const std::string& name) {
  static const std::pair<const char*, TLumActionType> kActions[] = {
      {"home", kActionGotoSlide}, {"forward", kActionNextSlide}, {"backward", kActionPrevSlide},
      {"print", kActionPrint},    {"pause", kActionPause},       {"help", kActionHelp},
      {"exit", kActionExit}};
  for (auto [n, type] : kActions)
    if (name == n) return {type, 0, ""};
  return {kActionNone, 0, ""};
}

std::pair<int, int> NavPanelSize(int barW, int barH, int areaH, double viewScale,
                                 bool useViewScale) {
  if (barW <= 0 || barH <= 0) return {0, 0};
  const double h = useViewScale ? areaH * viewScale / 100 : barH * areaH / kReferenceHeight;
  return {int(std::lround(h * barW / barH)), int(std::lround(h))};
}

TThirdSlide::TThirdSlide(const TOverlayParams& params)
    : isPlaying_(params.isPlaying),
      dialogs_(*params.source, params.window.Width(), params.window.Height()) {
  const TLumSource& source = *params.source;
  options_ = ReadOverlayOptions(source.Document());
  playing_ = isPlaying_ && isPlaying_();
  if (options_.logo && !options_.logoFile.empty()) MakeLogo(*source.Accessor(), params.slideRect);
  if (options_.panel && !options_.skinFile.empty()) MakePanel(source.Accessor(), params);
}

void TThirdSlide::MakeLogo(const TFileAccessor& accessor, const TRect& slide) {
  logo_ = LoadPicture(accessor, options_.logoFile);
  if (!logo_ || logo_->Height() <= 0) {
    Log().Line("TThirdSlide: logo \"" + options_.logoFile + "\" could not be loaded");
    logo_ = nullptr;
    return;
  }
  const int h = int(std::lround(slide.Height() * options_.logoSize / 100));
  const int w = int(std::lround(double(h) * logo_->Width() / logo_->Height()));
  logoRect_ = PlaceInArea(slide, w, h, NavAnchorOfCode(options_.logoPos), options_.logoOffset);
}

void TThirdSlide::MakePanel(const TRef<TFileAccessor>& accessor, const TOverlayParams& params) {
  std::unique_ptr<TStream> stream = accessor->OpenMember(options_.skinFile);
  TIniFile ini;
  if (!stream || !ini.Load(*stream)) {
    Log().Line("TNavBar: skin \"" + options_.skinFile + "\" could not be read");
    return;
  }
  auto loader = [accessor](const std::string& file) { return LoadPicture(*accessor, file); };
  fader_ = std::make_unique<TNavFader>(options_.autoHide, options_.hideIntervalS * 1000,
                                       options_.fadeOutMs, options_.fadeInMs);
  TNavSkin skin;
  try {
    if (ini.ReadBool("Common", "VideoStyle", false)) {
      MakeVideoPanel(ini, loader, params);
      return;
    }
    skin = ReadNavSkin(ini);
  } catch (const ENavSkinError& e) {
    // The show plays on without its panel; the author learns why from the log.
    Log().Line(std::string("TNavBar: Assertion failed: ") + e.what());
    return;
  }
  bar_ = std::make_unique<TNavBarPicture>(skin, ShownNavButtons(skin, options_.buttons), loader,
                                          TNavBarOptions{options_.showBackground, options_.hue});
  const TNavLayout& l = bar_->Layout();
  pointer_ = std::make_unique<TNavPointer>(l.buttons, l.width, l.height);
  const TRect area = options_.windowArea ? params.window : params.slideRect;
  const auto [w, h] = NavPanelSize(l.width, l.height, area.Height(), options_.viewScale,
                                   options_.useViewScale);
  panelRect_ = PlaceInArea(area, w, h, NavAnchorOfName(options_.position), options_.panelOffset);
  bar_->Redraw({0, 0, l.width, l.height}, std::vector<int>(l.buttons.size(), kNavNormal), playing_);
}

void TThirdSlide::MakeVideoPanel(const TIniFile& ini, const TNavPictureLoader& loader,
                                 const TOverlayParams& params) {
  // The skin's pictures are named relative to the skin's own folder.
  const size_t cut = options_.skinFile.find_last_of("\\/");
  const std::string folder = cut == std::string::npos ? "" : options_.skinFile.substr(0, cut + 1);
  TVideoPanelHooks hooks{params.source->Duration(), params.volume, params.setVolume};
  video_ = std::make_unique<TVideoNavPanel>(ini, folder, loader, std::move(hooks));
  const TRect area = options_.windowArea ? params.window : params.slideRect;
  const TVideoNavSkin& skin = video_->Bar().Skin();
  const int h =
      NavPanelSize(skin.barW, skin.barH, area.Height(), options_.viewScale, options_.useViewScale)
          .second;
  if (!video_->Place(area, params.slideRect, h, NavAnchorOfName(options_.position),
                     options_.panelOffset)) {
    Log().Line("TVideoNavBar: the bar does not fit " + std::to_string(area.Width()) +
               " pixels; hidden");
  }
  panelRect_ = video_->Rect();
}

std::pair<int, int> TThirdSlide::ToBar(int x, int y) const {
  const TNavLayout& l = bar_->Layout();
  const int w = std::max(panelRect_.Width(), 1), h = std::max(panelRect_.Height(), 1);
  return {int(std::floor(double(x - panelRect_.left) * l.width / w)),
          int(std::floor(double(y - panelRect_.top) * l.height / h))};
}

void TThirdSlide::Redraw(const TRect& part) {
  std::vector<int> states;
  for (size_t i = 0; i < bar_->Layout().buttons.size(); ++i) states.push_back(pointer_->State(i));
  bar_->Redraw(part, states, playing_);
  barChanged_ = changed_ = true;
}

void TThirdSlide::RedrawDirty() {
  const TRect dirty = pointer_->TakeDirty();
  if (!dirty.Empty()) Redraw(dirty);
}

bool TThirdSlide::SetTime(double showMs, double nowMs) {
  now_ = nowMs;
  if (dialogs_.SetTime(now_)) changed_ = true;
  if (!bar_ && !video_) return changed_;
  const bool playing = isPlaying_ && isPlaying_();
  if (video_) {
    if (video_->Update(showMs, playing)) changed_ = true;
    playing_ = playing;
  } else if (playing != playing_) {
    playing_ = playing;
    // The pause button turns into play and back.
    const auto& shown = bar_->Shown();
    if (auto it = std::find(shown.begin(), shown.end(), "pause"); it != shown.end()) {
      Redraw(bar_->Layout().buttons[size_t(it - shown.begin())]);
    }
  }
  fader_->Update(now_, lastMove_, hovered_);
  const double o = fader_->Opacity(now_);
  if (o != opacity_) opacity_ = o, changed_ = true;
  return changed_;
}

bool TThirdSlide::Pointer(int x, int y, int type, std::optional<TLumActionInfo>* action) {
  if (!lastPos_ || *lastPos_ != std::make_pair(x, y)) {
    lastPos_ = std::make_pair(x, y);
    lastMove_ = now_;  // a move wakes a hidden panel
  }
  if (video_) {
    hovered_ = video_->Pointer(x, y, type, opacity_ > 0, action);
    return hovered_ || dialogs_.Pointer(x, y, type, action);
  }
  if (!bar_) return dialogs_.Pointer(x, y, type, action);
  const bool inside = panelRect_.Contains(x, y) && opacity_ > 0;
  hovered_ = inside;
  if (!inside && !pointer_->Captured()) {
    pointer_->Leave();
    RedrawDirty();
    return dialogs_.Pointer(x, y, type, action);
  }
  const auto [bx, by] = ToBar(x, y);
  if (type == kPointerPress) {
    pointer_->Down(bx, by);
  } else if (type == kPointerRelease) {
    const int clicked = pointer_->Up(bx, by);
    if (clicked >= 0 && action) *action = NavButtonAction(bar_->Shown()[size_t(clicked)]);
  } else {
    pointer_->Move(bx, by, false);
  }
  RedrawDirty();
  return true;
}

void TThirdSlide::ReleaseTextures(T3DDrawer& drawer) {
  if (logo_) drawer.ReleaseTextures(logo_.Get());
  if (bar_) drawer.ReleaseTextures(&bar_->Bitmap());
  if (video_) video_->ReleaseTextures(drawer);
}

void TThirdSlide::DrawOn(T3DDrawer& drawer) {
  // The overlay comes last in the frame: the letterbox borders are its own.
  drawer.DrawBorders();
  changed_ = false;
  if (logo_ && options_.logoOpacity > 0)
    if (TCustomTexture* t = drawer.TextureFor(logo_.Get(), *logo_, false))
      drawer.DrawPixels(*t, logoRect_, {0, 0, double(logo_->Width()), double(logo_->Height())},
                        options_.logoOpacity / 100);
  dialogs_.Draw(drawer, now_);
  if (video_) video_->Draw(drawer, opacity_);
  if (!bar_ || opacity_ <= 0 || panelRect_.Empty()) return;
  const TBitmap& b = bar_->Bitmap();
  // The bar is uploaded again only after a redraw of some part of it.
  if (barChanged_) drawer.ReleaseTextures(&b);
  barChanged_ = false;
  if (TCustomTexture* t = drawer.TextureFor(&b, b, false))
    drawer.DrawPixels(*t, panelRect_, {0, 0, double(b.Width()), double(b.Height())}, opacity_ / 100);
}

void TThirdSlide::ToggleDialog(const std::string& name) {
  if (dialogs_.Toggle(name, now_)) changed_ = true;
}

bool TThirdSlide::CloseTopDialog() {
  return dialogs_.CloseTop(now_) ? (changed_ = true) : false;
}

void TThirdSlide::ClosePausingDialogs() {
  dialogs_.ClosePausing(now_);
  changed_ = true;
}

void InstallOverlay() {
  SetOverlayFactory([](const TOverlayParams& p) -> TRef<TOverlay> {
    if (!p.source) return nullptr;
    return MakeRef<TThirdSlide>(p);
  });
}

}  // namespace lum
