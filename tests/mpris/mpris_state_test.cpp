// The rules for the values media clients send, at the edges of their types.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "mpris/mpris_state.h"

namespace lum {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// A 16 s show standing at 5 s on its second slide.
TMprisState AtFive() {
  TMprisState s;
  s.hasShow = true;
  s.positionUs = 5000000;
  s.lengthUs = 16000000;
  s.showSerial = 1;
  s.slide = 1;
  return s;
}

TEST(MprisRules, RelativeSeeksStopAtTheStartAndGoOnPastTheEnd) {
  struct {
    int64_t offset;
    bool next;
    int64_t to;
  } cases[] = {{1000000, false, 6000000}, {-10000000, false, 0},  {kMin, false, 0},
               {11000000, false, 16000000}, {11000001, true, 5000000}, {kMax, true, 5000000}};
  for (const auto& c : cases) {
    const TMprisSeek s = MprisSeekBy(AtFive(), c.offset);
    EXPECT_EQ(s.next, c.next) << c.offset;
    if (!c.next) EXPECT_EQ(s.positionUs, c.to) << c.offset;
  }
}

TEST(MprisRules, AbsolutePositionsNeedTheCurrentTrackAndARangeWithinTheShow) {
  const TMprisState s = AtFive();
  const std::string track = MprisTrackId(s);
  EXPECT_EQ(track, "/org/lumviewer/Show1/Slide1");
  EXPECT_EQ(MprisSetPosition(s, track, 0), 0);
  EXPECT_EQ(MprisSetPosition(s, track, 16000000), 16000000);
  EXPECT_FALSE(MprisSetPosition(s, track, 16000001));
  EXPECT_FALSE(MprisSetPosition(s, track, -1));
  EXPECT_FALSE(MprisSetPosition(s, "/org/lumviewer/Show1/Slide0", 1000));  // stale
  EXPECT_FALSE(MprisSetPosition(s, "/org/lumviewer/Show0/Slide1", 1000));  // another show
  EXPECT_FALSE(MprisSetPosition(TMprisState{}, MprisTrackId(TMprisState{}), 0));
}

TEST(MprisRules, VolumesAreClampedAndNonNumbersIgnored) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(MprisVolume(1e9), 1.0);
  EXPECT_EQ(MprisVolume(inf), 1.0);
  EXPECT_EQ(MprisVolume(-3), 0.0);
  EXPECT_EQ(MprisVolume(-inf), 0.0);
  EXPECT_EQ(MprisVolume(0.25), 0.25);
  EXPECT_FALSE(MprisVolume(std::nan("")));
}

TEST(MprisRules, OnlyJumpsCountAsSeeks) {
  TMprisState playing = AtFive();
  playing.status = TPlaybackStatus::Playing;
  TMprisState later = playing;
  later.positionUs += 100000;
  EXPECT_FALSE(MprisJumped(playing, 100000, later));
  later.positionUs = 9000000;
  EXPECT_TRUE(MprisJumped(playing, 100000, later));
  later.showSerial = 2;  // another show starts where it starts
  EXPECT_FALSE(MprisJumped(playing, 100000, later));
  TMprisState paused = AtFive();
  paused.status = TPlaybackStatus::Paused;
  EXPECT_FALSE(MprisJumped(paused, 3000000, paused));
}

}  // namespace
}  // namespace lum
