#include "engine/window_placement.h"

#include <gtest/gtest.h>

namespace lum {
namespace {

const TScreenRect kMonitor{0, 0, 1280, 1024};
const TFrameExtents kFrame{8, 31, 8, 8};

TEST(WindowPlacement, OversizedBorderlessWindowIsScaledAndCentred) {
  TWindowPlacement p = PlaceWindow(1920, 1080, kPlacementBorderless, false, kMonitor, kFrame);
  EXPECT_EQ(p.style, TFrameStyle::Borderless);
  EXPECT_FALSE(p.fullScreen);
  EXPECT_EQ(p.clientWidth, 1280);
  EXPECT_EQ(p.clientHeight, 720);
  EXPECT_EQ(p.Bounds(), (TScreenRect{0, 152, 1280, 872}));
  EXPECT_EQ(p.ClientRect(), p.Bounds());  // the frame only counts in mode 1
}

TEST(WindowPlacement, FramedWindowAddsItsBorders) {
  TWindowPlacement p = PlaceWindow(640, 480, kPlacementFramed, false, kMonitor, kFrame);
  EXPECT_EQ(p.style, TFrameStyle::FramedFixed);
  EXPECT_EQ(p.clientWidth, 640);
  EXPECT_EQ(p.clientHeight, 480);
  // 1280 - 656 = 624 and 1024 - 519 = 505: the odd half rounds down.
  EXPECT_EQ(p.Bounds(), (TScreenRect{312, 252, 968, 771}));
  EXPECT_EQ(p.ClientRect(), (TScreenRect{320, 283, 960, 763}));
  EXPECT_EQ(PlaceWindow(640, 480, kPlacementFramed, true, kMonitor, kFrame).style,
            TFrameStyle::FramedResizable);

  // Too tall once framed: the height limits the scale.
  TWindowPlacement big = PlaceWindow(1000, 1000, kPlacementFramed, false, kMonitor, kFrame);
  EXPECT_EQ(big.clientWidth, 985);  // 1000 * 985/1000
  EXPECT_EQ(big.clientHeight, 985);
  EXPECT_EQ(big.Bounds(), (TScreenRect{139, 0, 1140, 1024}));
}

TEST(WindowPlacement, FullScreenTakesTheArea) {
  TScreenRect second{1280, 0, 3200, 1080};
  TWindowPlacement p = PlaceWindow(640, 480, kPlacementFullScreen, true, second, kFrame);
  EXPECT_TRUE(p.fullScreen);
  EXPECT_EQ(p.style, TFrameStyle::Borderless);
  EXPECT_EQ(p.clientWidth, 1920);
  EXPECT_EQ(p.clientHeight, 1080);
  EXPECT_EQ(p.Bounds(), second);
  EXPECT_EQ(p.ClientRect(), second);
}

TEST(WindowPlacement, DesktopWithNegativeOrigin) {
  // Two monitors, the left one at negative coordinates.
  TScreenRect desktop{-1920, -56, 1280, 1024};
  TWindowPlacement p = PlaceWindow(4000, 1000, kPlacementBorderless, false, desktop, {});
  EXPECT_EQ(p.clientWidth, 3200);
  EXPECT_EQ(p.clientHeight, 800);
  EXPECT_EQ(p.Bounds(), (TScreenRect{-1920, 84, 1280, 884}));
  // A small window centred on the desktop: halves round towards zero.
  TWindowPlacement small = PlaceWindow(101, 101, kPlacementBorderless, false, desktop, {});
  EXPECT_EQ(small.left, -1920 + 1549);
  EXPECT_EQ(small.top, -56 + 489);
}

TEST(WindowPlacement, DegenerateSizesKeepAPixel) {
  TScreenRect tiny{0, 0, 10, 20};
  TWindowPlacement p = PlaceWindow(640, 480, kPlacementFramed, false, tiny, kFrame);
  EXPECT_EQ(p.clientWidth, 1);
  EXPECT_EQ(p.clientHeight, 1);
  EXPECT_EQ(p.width, 17);
  EXPECT_EQ(p.height, 40);
  // The window overhangs the area evenly; (10 - 17) / 2 and (20 - 40) / 2.
  EXPECT_EQ(p.left, -3);
  EXPECT_EQ(p.top, -10);

  TWindowPlacement zero = PlaceWindow(0, -5, kPlacementBorderless, false, kMonitor, {});
  EXPECT_EQ(zero.clientWidth, 1);
  EXPECT_EQ(zero.clientHeight, 1);
  TWindowPlacement huge =
      PlaceWindow(2147483647, 2147483647, kPlacementFramed, false, kMonitor, kFrame);
  EXPECT_EQ(huge.height, 1024);
  EXPECT_LE(huge.width, 1280);
}

}  // namespace
}  // namespace lum
