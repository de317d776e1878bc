#pragma once
// Sounds made by the tests: WAV files of 16-bit stereo at 44100 Hz, and a
// noise whose loudness envelope has a single clear alignment.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace lum::test {

// A WAV file of interleaved 16-bit stereo frames at 44100 Hz.
inline std::string WavFile(const std::vector<int16_t>& samples) {
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
  const uint32_t bytes = uint32_t(samples.size() * 2);
  std::string w = "RIFF" + u32(36 + bytes) + "WAVEfmt " + u32(16) + u16(1) + u16(2) + u32(44100) +
                  u32(44100 * 4) + u16(4) + u16(16) + "data" + u32(bytes);
  w.append(reinterpret_cast<const char*>(samples.data()), bytes);
  return w;
}

// Noise in 40 ms bursts of uneven loudness with silent gaps, ms long.
inline std::vector<int16_t> BurstNoise(int ms, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-12000, 12000);
  std::vector<int16_t> s;
  const int frames = ms * 441 / 10, block = 40 * 441 / 10;
  double gain = 0;
  for (int f = 0; f < frames; ++f) {
    if (f % block == 0) gain = rng() % 3 == 0 ? 0 : double(rng() % 100 + 1) / 100;
    const int16_t v = int16_t(noise(rng) * gain);
    s.insert(s.end(), {v, v});
  }
  return s;
}

}  // namespace lum::test
