#pragma once
// The show's sound as the music player outputs it when the show plays
// straight through, mixed offline: main music (synchronised: one sequence
// per show cycle; free-running: one sequence from the start) and every
// slide's comment at its slide, each played with the player's 10 ms fades.
#include <cstdint>
#include <string>
#include <vector>

#include "audio/music_source.h"

namespace lum {

struct TSoundSegment {
  std::string name;   // composition text or file name
  double start = 0;   // show ms
  double end = 0;     // show ms: the channel is stopped here, fading out over 10 ms
  double offset = 0;  // ms into the source at start
  bool comment = false;
};

// What sounds in [from, to) of the show.
std::vector<TSoundSegment> PlanShowSound(const TLumMusicSource& music, double from, double to);

// 44100 Hz stereo 16-bit samples of [from, to).
std::vector<int16_t> RenderShowSound(const TLumMusicSource& music, double from, double to);

// Writes a 44100 Hz stereo 16-bit WAVE file; throws EFOpenError.
void WriteWaveFile(const std::string& path, const std::vector<int16_t>& samples);

// Frame index of a show time in the mixing format (whole frames, rounded down).
int64_t FrameOfMs(double ms);

}  // namespace lum
