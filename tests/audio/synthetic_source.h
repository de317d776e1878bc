#pragma once
// A sound source made of arithmetic, for channel tests that must know every
// sample: registered as the composition decoder, so a "composition" text
// "<marker>synthetic:<ms>" plays a sawtooth of that length.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "audio/decoders/converter_factory.h"
#include "audio/decoders/media_info.h"
#include "audio/decoders/wav_converter.h"

namespace lum::test {

// Left: a sawtooth of 16384 frames; right: half of it.
inline int16_t SynthLeft(int64_t frame) {
  return int16_t((frame % 16384) * 2 - 16384);
}
inline int16_t SynthRight(int64_t frame) {
  return int16_t(SynthLeft(frame) / 2);
}

inline std::string SyntheticName(int64_t ms) {
  return std::string(kCompositionMarker) + "synthetic:" + std::to_string(ms);
}

class TSyntheticConverter : public TWavConverter {
 public:
  explicit TSyntheticConverter(int64_t ms) : TWavConverter(nullptr), frames_(ms * 441 / 10) {}
  bool Open(const TMediaInfo& info) override {
    info_ = info;
    output_.format = MixFormat();
    Seek(0);
    return true;
  }
  void SetOutputFormat(const TWaveFormatEx&) override {}
  void Seek(double ms) override {
    frame_ = int64_t(ms * 44.1);
    output_.Clear();
    position_ = ms;
  }
  bool Fill(size_t n) override {
    while (output_.Size() < n) {
      int16_t s[2] = {0, 0};
      if (frame_ < frames_) {
        s[0] = SynthLeft(frame_);
        s[1] = SynthRight(frame_);
      }
      ++frame_;
      output_.AppendBytes(s, 4);
    }
    return frame_ < frames_;
  }

 private:
  int64_t frames_;
  int64_t frame_ = 0;
};

// The length of a synthetic name, or of a real composition text (its first
// "Duration="), which then plays as a sawtooth too.
inline int64_t SyntheticLength(std::string_view text) {
  std::string_view rest = text.substr(kCompositionMarker.size());
  if (rest.rfind("synthetic:", 0) == 0) return std::stoll(std::string(rest.substr(10)));
  size_t at = rest.find("Duration=");
  if (at == std::string_view::npos) return -1;
  return std::stoll(std::string(rest.substr(at + 9, rest.find_first_of("\r\n", at) - at - 9)));
}

inline void RegisterSyntheticSource() {
  TCompositeHook hook;
  hook.detect = [](std::string_view text, TMediaInfo& info) {
    int64_t ms = SyntheticLength(text);
    if (ms < 0) return false;
    info.type = kMediaComposite;
    info.durationMs = uint32_t(ms);
    info.format = MixFormat();
    return true;
  };
  hook.create = [](std::string_view text) -> std::unique_ptr<TWavConverter> {
    return std::make_unique<TSyntheticConverter>(SyntheticLength(text));
  };
  SetCompositeHook(hook);
}

}  // namespace lum::test
