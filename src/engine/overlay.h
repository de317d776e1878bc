#pragma once
// The overlay drawn above the slides (logo, navigation panel, dialogs), as
// the engine sees it. The user interface layer makes it through a factory
// installed once per process; without one a show plays without overlay.
#include <functional>
#include <optional>
#include <string>

#include "foundation/ref_object.h"
#include "project/lum_action_info.h"
#include "render/3d_drawer.h"

namespace lum {

class TLumSource;

class TOverlay : public TRefObject, public TDrawerItem {
 public:
  // The show time and a steady clock (ms) each loop; true when the
  // overlay's look changed since it was last drawn (fades, state).
  virtual bool SetTime(double showMs, double nowMs) = 0;
  // Pointer input in window pixels (kPointerMove, kPointerPress,
  // kPointerRelease); true when the overlay takes it (the slides do not see
  // it). action gets a clicked button's action, or type 20 for a press that
  // hit no button inside the panel.
  virtual bool Pointer(int x, int y, int type, std::optional<TLumActionInfo>* action) = 0;
  // Whether the pointer is over the overlay's panel (its hover class).
  virtual bool Hovered() const = 0;
  // Frees the drawer's textures of the overlay (it is going).
  virtual void ReleaseTextures(T3DDrawer& drawer) = 0;

  // The show's dialogs: opening a named one ("help" for the help dialog)
  // closes it instead when it is open; nothing when the show lacks it.
  virtual void ToggleDialog(const std::string& name) = 0;
  // False when no dialog is open.
  virtual bool CloseTopDialog() = 0;
  virtual void ClosePausingDialogs() = 0;
  // An open dialog holds the show.
  virtual bool PausesShow() const = 0;
  virtual size_t OpenDialogs() const = 0;
};

struct TOverlayParams {
  TLumSource* source = nullptr;
  TRect window;     // client area, window pixels
  TRect slideRect;  // the slides' rectangle in it
  std::function<bool()> isPlaying;
  // The show's sound volume, 0..1 (the video-style bar shows and sets it).
  std::function<double()> volume;
  std::function<void(double)> setVolume;
};

using TOverlayFactory = std::function<TRef<TOverlay>(const TOverlayParams&)>;
// Installs the maker of overlays (null: none).
void SetOverlayFactory(TOverlayFactory factory);
// An overlay for a show being opened; null without a factory or when it
// could not be made (the show plays without it).
TRef<TOverlay> MakeOverlay(const TOverlayParams& params);

// Hover class reported while the pointer is over the navigation panel.
inline constexpr const char* kNavPanelHoverClass = "NavPanel";

}  // namespace lum
