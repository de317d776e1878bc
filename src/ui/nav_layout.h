#pragma once
// Geometry and behaviour of the navigation bar apart from its pictures: the
// cell grid and button rectangles of a skin, the placement of the panel and
// the logo in an area, the buttons' pointer states, and the auto-hide fade.
#include <cstdint>
#include <string>
#include <vector>

#include "render/3d_types.h"
#include "ui/nav_skin.h"

namespace lum {

struct TNavLayout {
  std::vector<int32_t> colX, colW, rowY, rowH;
  int32_t width = 0, height = 0;
  std::vector<TRect> buttons;  // in the shown order, bar pixels
  TRect Cell(int32_t col, int32_t row) const;  // 1-based
};

// The skin's grid with the objects cell sized for the shown buttons; object
// N of the skin describes the N-th shown button (defaults past the skin's
// objects).
TNavLayout LayoutNavBar(const TNavSkin& skin, const std::vector<std::string>& shown);

// Anchors of the panel ("opt_cp") and the logo ("opt_logo_pos").
enum class TNavAnchor { LeftTop, Top, RightTop, Right, RightBottom, Bottom, LeftBottom, Left, Center };
// "Left-Top" … "Center" as written; anything else Center.
TNavAnchor NavAnchorOfName(const std::string& name);
// 0 Left, 1 Top, 2 Right, 3 Bottom, 4 Center, 5 Left-Top, 6 Right-Top,
// 7 Right-Bottom, 8 Left-Bottom; anything else Center.
TNavAnchor NavAnchorOfCode(int32_t code);

// A width x height rectangle placed in area at the anchor, offset percent
// of the half extent inwards from the anchored edges.
TRect PlaceInArea(const TRect& area, int32_t width, int32_t height, TNavAnchor anchor,
                  double offset);

// The buttons' states under the pointer (bar pixels). Disabled buttons
// ignore the pointer.
class TNavPointer {
 public:
  explicit TNavPointer(std::vector<TRect> buttons, int32_t width, int32_t height);
  void SetDisabled(size_t button, bool disabled);
  // Left button down: captures when inside the bar; the button under the
  // pointer is pressed, the others normal.
  void Down(int32_t x, int32_t y);
  // leftDown: the left button is held (without capture nothing changes then).
  void Move(int32_t x, int32_t y, bool leftDown);
  // Left button up: the clicked button (released over the pressed one), or -1.
  int Up(int32_t x, int32_t y);
  // The pointer left the bar.
  void Leave();
  int State(size_t button) const { return states_[button]; }
  bool Captured() const { return captured_; }
  // The union of the rectangles of buttons whose state changed since the
  // last call (empty when none): the part of the bar to redraw.
  TRect TakeDirty();

 private:
  int Hit(int32_t x, int32_t y) const;
  bool Inside(int32_t x, int32_t y) const;
  void Set(size_t button, int state);
  void ShowHover(int hit);

  std::vector<TRect> buttons_;
  std::vector<int> states_;
  int32_t width_, height_;
  bool captured_ = false;
  int pressed_ = -1;
  TRect dirty_{};
};

// The panel's opacity with auto-hide: hidden at first, faded out when the
// pointer goes idle, faded in when it moves; a fade that interrupts another
// goes on from the opacity reached.
class TNavFader {
 public:
  // Without auto-hide the panel is always fully shown.
  TNavFader(bool autoHide, double idleMs, double fadeOutMs, double fadeInMs);
  // now: ms on any steady clock; lastMove: when the pointer last moved;
  // over: the pointer is over the panel (which keeps it awake).
  void Update(double now, double lastMove, bool over);
  double Opacity(double now) const;  // 0..100

 private:
  bool autoHide_;
  double idleMs_, outMs_, inMs_;
  bool idle_ = true;
  double rampStart_ = -1e300;  // the ramp toward the current state began here
};

}  // namespace lum
