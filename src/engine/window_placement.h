#pragma once
// Where the show window goes for a requested size and mode: the frame style,
// the client size fitted into the area and the window centred in it. Pure
// arithmetic; the caller applies it to the window and the draw device.
#include <cstdint>

#include "toolkit/window.h"

namespace lum {

// Window modes of a placement request.
inline constexpr int kPlacementFullScreen = 0;
inline constexpr int kPlacementFramed = 1;
inline constexpr int kPlacementBorderless = 2;

enum class TFrameStyle : uint8_t { Borderless, FramedFixed, FramedResizable };

// Sizes of the window frame around the client area, in pixels.
struct TFrameExtents {
  int left = 0, top = 0, right = 0, bottom = 0;
};

struct TWindowPlacement {
  TFrameStyle style = TFrameStyle::Borderless;
  bool fullScreen = false;  // mode 0
  int clientWidth = 0, clientHeight = 0;
  int left = 0, top = 0, width = 0, height = 0;  // outer bounds, desktop coordinates
  TFrameExtents frame;                           // the extents used (zero unless framed)

  int ClientLeft() const { return left + frame.left; }
  int ClientTop() const { return top + frame.top; }
  // The client area in desktop coordinates.
  TScreenRect ClientRect() const {
    return {ClientLeft(), ClientTop(), ClientLeft() + clientWidth, ClientTop() + clientHeight};
  }
  TScreenRect Bounds() const { return {left, top, left + width, top + height}; }
};

// Places a window of the requested client size in the area (a monitor or the
// whole desktop, desktop coordinates). Mode 0 takes the area's size, mode 1
// adds the frame extents (resizable with `resize`), other modes are
// borderless. A window that does not fit is scaled down keeping its aspect
// ratio; the client keeps at least 1 x 1 pixels even when the area is smaller
// than the frame, and sizes below 1 are taken as 1.
TWindowPlacement PlaceWindow(int width, int height, int mode, bool resize, const TScreenRect& area,
                             const TFrameExtents& frame);

}  // namespace lum
