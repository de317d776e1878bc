#pragma once
// The playback figures over the show, at the window's top left above
// everything else: frame rate, a graph of the last two seconds of frame
// intervals, late video frames, the A/V offset, slides prepared ahead,
// texture memory and resident memory. The text becomes a picture only when
// it changes (at most every kStatsRefreshMs), on the panel's own ground, so
// the window's pixels beneath are blended once; panel and graph (a few
// dozen quads) are one draw call; drawing a frame allocates nothing.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine_figures.h"
#include "imaging/bitmap.h"
#include "render/3d_drawer.h"

namespace lum {

// The panel's figures that come from outside the engine's frame history.
struct TStatsFigures {
  int64_t videoShown = 0, videoLate = 0, videoSkipped = 0;
  double audioOffset = 0;  // ms
  int slidesHeld = 0, slidesAhead = 0;
  int64_t textureBytes = 0, rssBytes = 0;
};

// The frame history's figures over the graph's span.
struct TPacing {
  double fps = 0, mean = 0, max = 0;  // 0 without intervals
};
TPacing PacingOf(const TIntervalHistory& intervals, size_t count);

inline constexpr double kStatsRefreshMs = 250;  // the numbers move at most this often
inline constexpr double kStatsFlashMs = 5000;   // how long `i` shows them
inline constexpr double kStatsGraphMs = 2000;   // the graph's span
inline constexpr double kStatsGraphTopMs = 50;  // a bar this long fills the graph
inline constexpr int kStatsGraphColumns = 40;   // bars of the graph

// The graph's bars: the longest interval that took part of each column's
// time, for the intervals of the span that starts at `from` (NowMs).
using TGraphColumns = std::array<double, kStatsGraphColumns>;
void GraphColumns(const TIntervalHistory& intervals, size_t count, double from, TGraphColumns& out);

// The panel's text lines.
std::vector<std::string> StatsLines(const TStatsFigures& f, const TPacing& p);

class TStatsOverlay : public TDrawerItem {
 public:
  explicit TStatsOverlay(const TEngineFigures& figures) : figures_(figures) {}

  // Any thread. Shows the figures for ms from now (a toggled-on panel stays).
  void ShowFor(double ms);
  // On until toggled off; off also ends a timed showing.
  void Toggle();
  // Whether the figures are shown at tick now (NowMs).
  bool Shown(double now) const;

  // Engine thread. Whether the numbers are due for a refresh at now: the
  // frame is redrawn for them even when nothing else moved.
  bool Due(double now) const;
  // The figures at now; the text changes with them.
  void Update(const TStatsFigures& f, double now);
  // Drawn first: the show's overlay, or the letterbox borders when null.
  void SetBelow(TDrawerItem* below) { below_ = below; }
  void DrawOn(T3DDrawer& drawer) override;

 private:
  // Frees the texture of the picture in the drawer (a new one replaces it).
  void ReleaseTextures(T3DDrawer& drawer);
  // Makes the panel's picture of lines_ at em pixels, dropping the old one's texture.
  void MakePicture(T3DDrawer& drawer, double em);
  // Adds the graph's bars over frame pixels `graph` to the batch; they sample
  // the texel at `white` and take their colours from their vertices.
  void AddGraph(T3DDrawer& drawer, const TTexRect& graph, const TTexRect& white);

  const TEngineFigures& figures_;
  std::atomic<bool> on_{false};
  std::atomic<double> until_{-1};
  TDrawerItem* below_ = nullptr;
  double updated_ = -1e300;
  std::vector<std::string> lines_, madeLines_;
  double madeEm_ = 0;
  int pad_ = 0, graphH_ = 0;    // of the picture made
  TRef<TBitmap> picture_;       // the panel with its text, the graph's room left blank
  TIntervalHistory history_{};  // the graph's intervals of this frame
  TGraphColumns columns_{};
};

}  // namespace lum
