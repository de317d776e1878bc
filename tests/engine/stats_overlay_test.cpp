// The frame history behind the stats panel: the ring keeps the newest
// intervals in order, and the graph's bars cover the time each one took.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/stats_overlay.h"

namespace lum {
namespace {

TEST(StatsOverlay, TheRingKeepsTheNewestIntervalsInOrder) {
  TEngineFigures f;
  f.NoteFrame(true);
  const size_t drawn = kIntervalRing + 100;
  for (size_t i = 0; i < drawn; ++i) f.NoteFrame(true);
  TIntervalHistory h;
  const size_t n = f.IntervalsSince(-1e300, h);
  EXPECT_EQ(n, kIntervalRing);  // the oldest 100 fell out
  for (size_t i = 1; i < n; ++i) ASSERT_LE(h[i - 1].end, h[i].end) << i;
  EXPECT_EQ(f.IntervalsSince(h[n - 1].end, h), 0u) << "none ended after the newest";
  // Those that ended after a moment, as the full listing has them.
  const double since = h[n - 11].end;
  const size_t later = size_t(std::count_if(
      h.begin(), h.begin() + n, [&](const TFrameInterval& v) { return v.end > since; }));
  EXPECT_LE(later, 10u);
  EXPECT_EQ(f.IntervalsSince(since, h), later);
  f.RestartIntervals();
  EXPECT_EQ(f.IntervalsSince(-1e300, h), 0u);
}

TEST(StatsOverlay, ABarIsTheLongestIntervalOverItsColumnsTime) {
  const double from = 1000, column = kStatsGraphMs / kStatsGraphColumns;  // 50 ms
  TIntervalHistory h;
  h[0] = {from + 20, 300};                // began before the span: the first column only
  h[1] = {from + 3 * column - 1, 100};    // the first three columns
  h[2] = {from + 3 * column + 10, 20};    // the fourth
  h[3] = {from + kStatsGraphMs - 1, 16};  // the last
  TGraphColumns c;
  c.fill(-1);
  GraphColumns(h, 4, from, c);
  EXPECT_EQ(c[0], 300);
  EXPECT_EQ(c[1], 100);
  EXPECT_EQ(c[2], 100);
  EXPECT_EQ(c[3], 20);
  for (int i = 4; i < kStatsGraphColumns - 1; ++i) EXPECT_EQ(c[i], 0) << i;
  EXPECT_EQ(c[kStatsGraphColumns - 1], 16);

  const TPacing p = PacingOf(h, 4);
  EXPECT_DOUBLE_EQ(p.mean, 109);
  EXPECT_DOUBLE_EQ(p.max, 300);
  EXPECT_DOUBLE_EQ(PacingOf(h, 0).fps, 0);
}

}  // namespace
}  // namespace lum
