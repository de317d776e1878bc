#pragma once
// The video-style bar as the overlay's navigation panel: fitted to its area,
// pushed the show's time, play state and volume each loop, its clicks and
// drags turned into the engine's actions, and the centre button shown over
// the slides while the show is paused.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "project/lum_action_info.h"
#include "render/3d_drawer.h"
#include "ui/nav_layout.h"
#include "ui/video_nav_bar.h"

namespace lum {

class TIniFile;

struct TVideoPanelHooks {
  double duration = 0;             // the show's length, ms
  std::function<double()> volume;  // the engine's volume, 0..1
  std::function<void(double)> setVolume;
};

class TVideoNavPanel {
 public:
  // Loads the skin (throws ENavSkinError).
  TVideoNavPanel(const TIniFile& skin, const std::string& folder, const TNavPictureLoader& loader,
                 TVideoPanelHooks hooks);

  // Fits the bar to `height` across the area and places it; the centre
  // button goes to the middle of the slides. False when the bar hides.
  bool Place(const TRect& area, const TRect& slides, int32_t height, TNavAnchor anchor,
             double offset);
  const TRect& Rect() const { return rect_; }
  const TRect& CentreRect() const { return centreRect_; }
  const TVideoNavBar& Bar() const { return bar_; }

  // The show's state each loop; true when a picture changed.
  bool Update(double showMs, bool playing);
  // Pointer in window pixels; visible: the panel is not faded out. True when
  // the panel or the centre button takes it; action as the overlay's.
  bool Pointer(int x, int y, int type, bool visible, std::optional<TLumActionInfo>* action);
  void Draw(T3DDrawer& drawer, double opacity);
  void ReleaseTextures(T3DDrawer& drawer);

 private:
  void Command(const std::string& command);
  bool CentrePointer(int x, int y, int type);

  TVideoPanelHooks hooks_;
  TVideoNavBar bar_;
  TRect rect_{}, centreRect_{};
  bool placed_ = false, playing_ = true, barChanged_ = true, centreChanged_ = true;
  bool centrePressed_ = false, over_ = false;
  double savedVolume_ = 1;  // restored when the sound comes back on
  std::optional<TLumActionInfo> action_;
};

}  // namespace lum
