// The engine's frame figures: which frames count towards the pacing the
// control socket reports.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/engine_figures.h"

namespace lum {
namespace {

void DrawAfter(TEngineFigures& f, bool active) {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  f.NoteFrame(active);
}

TEngineStatus Figures(const TEngineFigures& f) {
  TEngineStatus s;
  f.Fill(s);
  return s;
}

TEST(EngineFigures, OnlyFramesBackToBackWhileTheClockRunsCountAsIntervals) {
  TEngineFigures f;
  DrawAfter(f, false);  // the clock stands
  DrawAfter(f, true);   // follows a standing frame
  DrawAfter(f, true);   // counts
  f.NoteSkipped();
  DrawAfter(f, true);  // follows a loop with nothing to draw
  DrawAfter(f, true);  // counts
  f.NoteEmptyFrame();
  TEngineStatus s = Figures(f);
  EXPECT_EQ(s.framesDrawn, 5);
  EXPECT_EQ(s.emptyFrames, 1);
  EXPECT_EQ(s.intervals, 2);
  EXPECT_GE(s.intervalMean, 2.0);
  EXPECT_GT(s.fps, 0);

  // A new show counts its intervals afresh; the frame counts go on.
  f.RestartIntervals();
  DrawAfter(f, true);
  DrawAfter(f, true);
  s = Figures(f);
  EXPECT_EQ(s.intervals, 1);
  EXPECT_EQ(s.framesDrawn, 7);
  EXPECT_EQ(s.intervalStdDevAll, 0);  // one interval has no spread
}

TEST(EngineFigures, HoverIsWhatWasLastSeen) {
  TEngineFigures f;
  EXPECT_FALSE(Figures(f).hover);
  f.SetHover(true, "TLumButton");
  EXPECT_EQ(Figures(f).hoverClass, "TLumButton");
  f.SetHover(false, "");
  const TEngineStatus s = Figures(f);
  EXPECT_FALSE(s.hover);
  EXPECT_EQ(s.hoverClass, "");
}

}  // namespace
}  // namespace lum
