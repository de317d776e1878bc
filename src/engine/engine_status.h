#pragma once
// The engine's state as the player reports it.
#include <cstdint>
#include <limits>
#include <string>

namespace lum {

// What the player shows of the engine (control socket, tests).
struct TEngineStatus {
  double position = 0;
  double duration = 0;
  bool paused = true, active = false, waiting = false, ended = false;
  int64_t slide = 0;
  int64_t framesDrawn = 0;  // frames of the show's slides
  int64_t emptyFrames = 0;  // frames without slides (the window changed before they were ready)
  double fps = 0;             // frames drawn per second over the last second
  double intervalStdDev = 0;  // of the frame intervals over the last second, ms
  // Every interval between frames drawn back to back while the clock ran,
  // since the show was opened.
  int64_t intervals = 0;
  double intervalMean = 0, intervalStdDevAll = 0;  // ms
  // The pointer is over an object with an action (of this class).
  bool hover = false;
  std::string hoverClass;
  int dialogs = 0;  // the show's dialogs open in the overlay
  double volume = 1;  // the show's sound, 0..1
  // Show clock minus what the sound device has played, at the last frame
  // (ms; 0 without music or while the clock stands).
  double audioOffset = 0;
  // The show time of the main music now heard; NaN when none sounds.
  double musicPosition = std::numeric_limits<double>::quiet_NaN();
  bool statsShown = false;  // the playback figures are drawn over the show
};

}  // namespace lum
