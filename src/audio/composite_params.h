#pragma once
// The composition text: a marker followed by a document listing audio files
// with their places on a timeline and their volume envelopes. A text may hold
// several compositions one after another; it then stands for their
// concatenation.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/volume_params.h"

namespace lum {

struct TCompositeItemParams {
  std::string fileName;
  int64_t timeLine = 0;   // ms on the composition's timeline
  int64_t beginTime = 0;  // ms into the file
  int64_t duration = 0;   // ms; 0 plays until the file ends
  // End of the composition the item came from: a concatenated composition
  // keeps its items within its own span.
  int64_t compositionEnd = 0;
  std::vector<std::vector<TVolumeItem>> envelopes;
};

// Whole-composition envelopes of one of the concatenated compositions, in
// force over [start, start + duration).
struct TMainVolumeParams {
  int64_t start = 0;
  int64_t duration = 0;
  std::vector<std::vector<TVolumeItem>> envelopes;
};

class TCompositeParams {
 public:
  // Parses a text (several compositions allowed). False when it does not
  // begin with the marker; anything malformed inside is read leniently.
  bool Parse(std::string_view text);
  // One composition in the text format (the marker first).
  std::string ToText() const;

  int64_t duration = 0;  // ms
  std::vector<TCompositeItemParams> items;
  std::vector<TMainVolumeParams> mainVolume;
};

// Envelope counts outside 0 .. 1000000 leave an item without envelopes.
inline constexpr int32_t kMaxFadeCount = 1000000;

}  // namespace lum
