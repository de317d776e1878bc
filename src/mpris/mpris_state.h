#pragma once
// What the player shows of itself to desktop media controls (the freedesktop
// media player interface), and the rules for the values those clients send:
// out-of-range values are clamped or ignored as that interface says, never
// passed on.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lum {

enum class TPlaybackStatus : uint8_t { Playing, Paused, Stopped };

struct TMprisState {
  bool hasShow = false;
  TPlaybackStatus status = TPlaybackStatus::Stopped;
  bool canControl = false;  // the show lets the user steer it
  double volume = 1;        // 0..1
  int64_t positionUs = 0;
  int64_t lengthUs = 0;     // the show's duration
  int64_t showSerial = 0;   // counts the shows opened, so track ids never repeat
  int64_t slide = 0;        // the slide shown, 0-based
  std::string title;        // the show's caption and the slide's name
  std::string artUrl;       // file:// picture of the slide; empty until made
};

// The track id of the slide shown: an object path unique per show and
// slide; the interface's "no track" path when no show is open.
std::string MprisTrackId(const TMprisState& s);
// "Playing", "Paused" or "Stopped".
const char* MprisStatusName(TPlaybackStatus s);
// "Caption – slide name", or either alone when the other is empty.
std::string MprisTitle(std::string_view caption, std::string_view slideName);

// The player interface's properties whose values differ (Position is never
// among them: clients learn of jumps from the Seeked signal).
std::vector<std::string> MprisChangedProperties(const TMprisState& before,
                                                const TMprisState& after);

// Where a relative seek by offsetUs leads: before the start is the start;
// past the end acts as Next.
struct TMprisSeek {
  bool next = false;
  int64_t positionUs = 0;
};
TMprisSeek MprisSeekBy(const TMprisState& s, int64_t offsetUs);
// An absolute position for the current track: nothing for another (stale)
// track id, a negative position or one past the end.
std::optional<int64_t> MprisSetPosition(const TMprisState& s, std::string_view trackId,
                                        int64_t positionUs);
// A volume a client asked for: below 0 is 0, above 1 is 1, not a number is
// ignored.
std::optional<double> MprisVolume(double requested);

// Whether the position differs from where playing on from the earlier state
// for elapsedUs would have brought it by more than a frame's jitter.
bool MprisJumped(const TMprisState& before, int64_t elapsedUs, const TMprisState& after);

}  // namespace lum
