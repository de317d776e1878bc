#include "mpris/mpris_state.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace lum {

namespace {

// The slack between where the clock should be and where it is before a
// position counts as a jump (polling and frame pacing wobble by less).
constexpr int64_t kJumpUs = 400000;

}  // namespace

std::string MprisTrackId(const TMprisState& s) {
  if (!s.hasShow) return "/org/mpris/MediaPlayer2/TrackList/NoTrack";
  return "/org/lumviewer/Show" + std::to_string(s.showSerial) + "/Slide" + std::to_string(s.slide);
}

const char* MprisStatusName(TPlaybackStatus s) {
  switch (s) {
    case TPlaybackStatus::Playing:
      return "Playing";
    case TPlaybackStatus::Paused:
      return "Paused";
    case TPlaybackStatus::Stopped:
      break;
  }
  return "Stopped";
}

std::string MprisTitle(std::string_view caption, std::string_view slideName) {
  if (caption.empty()) return std::string(slideName);
  if (slideName.empty()) return std::string(caption);
  return std::string(caption) + " \u2013 " + std::string(slideName);
}

std::vector<std::string> MprisChangedProperties(const TMprisState& a, const TMprisState& b) {
  std::vector<std::string> out;
  if (a.status != b.status) out.push_back("PlaybackStatus");
  if (MprisTrackId(a) != MprisTrackId(b) || a.title != b.title || a.artUrl != b.artUrl ||
      a.lengthUs != b.lengthUs)
    out.push_back("Metadata");
  if (a.volume != b.volume) out.push_back("Volume");
  if (a.canControl != b.canControl || a.hasShow != b.hasShow)
    for (const char* p : {"CanControl", "CanPlay", "CanPause", "CanSeek", "CanGoNext",
                          "CanGoPrevious"})
      out.push_back(p);
  return out;
}

TMprisSeek MprisSeekBy(const TMprisState& s, int64_t offsetUs) {
  // Saturating: a client may send the extremes of the type.
  int64_t target = 0;
  if (__builtin_add_overflow(s.positionUs, offsetUs, &target))
    target = offsetUs > 0 ? INT64_MAX : 0;
  if (target > s.lengthUs) return {true, s.positionUs};
  return {false, std::max<int64_t>(0, target)};
}

std::optional<int64_t> MprisSetPosition(const TMprisState& s, std::string_view trackId,
                                        int64_t positionUs) {
  if (!s.hasShow || trackId != MprisTrackId(s)) return std::nullopt;
  if (positionUs < 0 || positionUs > s.lengthUs) return std::nullopt;
  return positionUs;
}

std::optional<double> MprisVolume(double requested) {
  if (std::isnan(requested)) return std::nullopt;
  return std::clamp(requested, 0.0, 1.0);
}

bool MprisJumped(const TMprisState& a, int64_t elapsedUs, const TMprisState& b) {
  if (!a.hasShow || !b.hasShow || a.showSerial != b.showSerial) return false;
  const int64_t expected =
      a.status == TPlaybackStatus::Playing ? a.positionUs + elapsedUs : a.positionUs;
  // Playing and paused both may have moved a little within one poll.
  const int64_t slack = kJumpUs + (a.status == b.status ? 0 : elapsedUs);
  return std::llabs(b.positionUs - expected) > slack;
}

}  // namespace lum
