#pragma once
// The overlay above the slides: the show's logo, its skinned navigation
// panel (the grid bar or the video-style bar) with auto-hide, and the show's
// open dialogs, drawn in window pixels; clicks on the panel's buttons become
// the actions of their names, clicks in the top dialog those of its buttons.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/overlay.h"
#include "imaging/bitmap.h"
#include "ui/lum_dialog.h"
#include "ui/nav_bar_picture.h"
#include "ui/video_nav_panel.h"

namespace lum {

class TIniFile;
class TFileAccessor;

// The overlay's options from the project's [Main] section.
struct TOverlayOptions {
  bool logo = false;
  std::string logoFile;
  int logoPos = 0;
  double logoOpacity = 100, logoOffset = 0, logoSize = 10;
  bool panel = false;
  std::string skinFile;
  bool showBackground = false;
  int hue = 0;
  double viewScale = 10;
  bool useViewScale = false;
  double panelOffset = 0;
  std::string position = "Center";
  std::vector<std::string> buttons;
  bool autoHide = false;
  double hideIntervalS = 0, fadeOutMs = 1000, fadeInMs = 500;
  bool windowArea = true;
};
TOverlayOptions ReadOverlayOptions(const TIniFile& document);

// The action a click on a shown button of this name runs.
TLumActionInfo NavButtonAction(const std::string& name);

// The panel's size in window pixels for a bar of barW x barH in an area of
// areaH pixels: "opt_nav_viewscale" percent of the area's height with
// useViewScale, else the bar's own pixels scaled by areaH / 1080.
std::pair<int, int> NavPanelSize(int barW, int barH, int areaH, double viewScale,
                                 bool useViewScale);

class TThirdSlide : public TOverlay {
 public:
  // Reads the options, the logo and the skin; a missing logo or skin leaves
  // that part out (logged); a malformed skin throws ENavSkinError.
  explicit TThirdSlide(const TOverlayParams& params);

  bool SetTime(double showMs, double nowMs) override;
  bool Pointer(int x, int y, int type, std::optional<TLumActionInfo>* action) override;
  bool Hovered() const override { return hovered_; }
  void ReleaseTextures(T3DDrawer& drawer) override;
  void DrawOn(T3DDrawer& drawer) override;
  void ToggleDialog(const std::string& name) override;
  bool CloseTopDialog() override;
  void ClosePausingDialogs() override;
  bool PausesShow() const override { return dialogs_.Pauses(); }
  size_t OpenDialogs() const override { return dialogs_.OpenCount(); }

  const TRect& PanelRect() const { return panelRect_; }
  const TRect& LogoRect() const { return logoRect_; }
  bool HasPanel() const { return bar_ || video_; }
  bool HasLogo() const { return static_cast<bool>(logo_); }

 private:
  void MakeLogo(const TFileAccessor& accessor, const TRect& slide);
  void MakePanel(const TRef<TFileAccessor>& accessor, const TOverlayParams& params);
  void MakeVideoPanel(const TIniFile& ini, const TNavPictureLoader& loader,
                      const TOverlayParams& params);
  // Bar pixels of a window point.
  std::pair<int, int> ToBar(int x, int y) const;
  // Redraws a part of the bar with the buttons' current states.
  void Redraw(const TRect& part);
  void RedrawDirty();

  TOverlayOptions options_;
  std::function<bool()> isPlaying_;
  TDialogStack dialogs_;
  TRef<TBitmap> logo_;
  TRect logoRect_{};
  std::unique_ptr<TNavBarPicture> bar_;
  std::unique_ptr<TNavPointer> pointer_;
  std::unique_ptr<TVideoNavPanel> video_;
  std::unique_ptr<TNavFader> fader_;
  TRect panelRect_{};
  bool playing_ = false, hovered_ = false, barChanged_ = true, changed_ = true;
  double opacity_ = -1, now_ = 0, lastMove_ = -1e300;
  std::optional<std::pair<int, int>> lastPos_;
};

// Installs TThirdSlide as the engine's overlay maker.
void InstallOverlay();

}  // namespace lum
