#include "engine/window_placement.h"

#include <algorithm>
#include <cmath>

namespace lum {

namespace {

TFrameStyle StyleOf(int mode, bool resize) {
  if (mode != kPlacementFramed) return TFrameStyle::Borderless;
  return resize ? TFrameStyle::FramedResizable : TFrameStyle::FramedFixed;
}

// Scales the client down, aspect kept, when client plus frame exceed the area.
void FitClient(TWindowPlacement& p, int64_t areaW, int64_t areaH) {
  int64_t extraW = int64_t{p.frame.left} + p.frame.right;
  int64_t extraH = int64_t{p.frame.top} + p.frame.bottom;
  if (p.clientWidth + extraW <= areaW && p.clientHeight + extraH <= areaH) return;
  double scale =
      std::min(double(areaH - extraH) / p.clientHeight, double(areaW - extraW) / p.clientWidth);
  // An area no larger than the frame would leave no client; keep one pixel.
  p.clientWidth = int(std::max<long>(1, std::lround(p.clientWidth * scale)));
  p.clientHeight = int(std::max<long>(1, std::lround(p.clientHeight * scale)));
}

// Integer division truncates, so odd leftovers round towards zero.
int Centre(int areaStart, int64_t areaSize, int64_t size) {
  return int(areaStart + (areaSize - size) / 2);
}

}  // namespace

TWindowPlacement PlaceWindow(int width, int height, int mode, bool resize, const TScreenRect& area,
                             const TFrameExtents& frame) {
  TWindowPlacement p;
  p.style = StyleOf(mode, resize);
  p.fullScreen = mode == kPlacementFullScreen;
  if (mode == kPlacementFramed) p.frame = frame;
  int64_t areaW = area.Width(), areaH = area.Height();
  p.clientWidth = std::max(1, p.fullScreen ? area.Width() : width);
  p.clientHeight = std::max(1, p.fullScreen ? area.Height() : height);
  FitClient(p, areaW, areaH);
  p.width = p.clientWidth + p.frame.left + p.frame.right;
  p.height = p.clientHeight + p.frame.top + p.frame.bottom;
  p.left = Centre(area.left, areaW, p.width);
  p.top = Centre(area.top, areaH, p.height);
  return p;
}

}  // namespace lum
