#pragma once
// The music reader: lays the show's music tracks, the slides' sound comments
// and the sound of video clips on timelines, producing compositions (texts
// the composite mixer plays).
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "document/ini_file.h"
#include "project/lum_source.h"

namespace lum {

// A point of a volume envelope: ms from the item's start, level in per mille.
struct TVolumePoint {
  int64_t time = 0;
  int64_t level = 1000;
  bool operator==(const TVolumePoint&) const = default;
};
using TEnvelope = std::vector<TVolumePoint>;

struct TCompositionItem {
  std::string fileName;
  int64_t timeLine = 0;
  int64_t beginTime = 0;
  int64_t duration = 0;
  std::vector<TEnvelope> envelopes;
};

// A composition being built; ToText writes the form the mixer reads.
struct TMusicComposition {
  int64_t duration = 0;
  std::vector<TCompositionItem> items;
  std::vector<TEnvelope> mainVolume;

  std::string ToText() const;
};

// A slide's sound comment: a composition text or, from the older keys, a
// plain file name; empty when the slide has none.
struct TSlideComment {
  std::string name;
  double length = 0;
};

class TMusicOptionsReader {
 public:
  static constexpr int64_t kNoLimit = std::numeric_limits<int32_t>::max();

  explicit TMusicOptionsReader(const TLumSource& source);

  // The "Music" object of the show's main section (nothing when absent).
  TIniObject* MusicObject() const;
  bool MusicDisabled() const;
  bool Repeat() const { return repeat_; }

  // Reads the tracks into the main composition (also reads repeat).
  TMusicComposition ReadMain();
  // The sound comment of slide index (0-based).
  TSlideComment ReadComment(int32_t index);
  // Builds the composition of one slide (0-based); false when it has no
  // "Music" object and no video sound.
  bool SlideComposition(int32_t index, TMusicComposition& out);

  // When on, tracks marked "IsRandom" play in random order (off by default).
  void SetRandomOrder(bool on) { randomOrder_ = on; }

  // Start of slide N (1-based) from the "Times" section.
  double SlideStart(int32_t n) const;

 private:
  struct TEntry {
    TIniObject* object;  // null: separator
    bool random = false;
  };
  void Walk(const TIniList* list, std::vector<TEntry>& out, TIniObject*& comment);
  void Shuffle(std::vector<TEntry>& list);
  int64_t LinkedStart(const TIniObject* item) const;
  void ReadLinks();
  TIniList* Slide(int32_t index) const;
  TIniObject* SlideMusic(int32_t index) const;
  bool HasCommentFile(int32_t index) const;
  // The first slide after index (0-based) with a comment file, or -1; found
  // for all slides in one pass, so many slides cost linear time.
  int32_t NextCommentSlide(int32_t index);
  void CollectVideos(const TIniList* list, std::vector<const TIniObject*>& out) const;

  const TLumSource& source_;
  TIniFile& doc_;
  bool repeat_ = false;
  bool randomOrder_ = false;
  std::vector<double> synch_;             // end of slide N at N - 1
  std::map<std::string, int32_t> links_;  // folded GUID -> slide (1-based)
  bool linksRead_ = false;
  std::vector<uint32_t> randomTable_;
  uint32_t randomCounter_ = 0;
  std::vector<std::string> usedClips_;
  std::vector<int32_t> nextComment_;  // built on first need
};

// Helpers of the placing rules, shared with the tests.
// Parses "x:y,x:y" (samples at 44100 Hz : 16.16 gain) into points relative to
// the item; false on a value that is not an integer.
bool ParseVolumeParams(std::string_view text, int64_t startTime, int64_t duration, TEnvelope& out);
// The fade envelope of an item of length L (empty when none is needed).
TEnvelope FadeEnvelope(int64_t fadeIn, int64_t fadeOut, int64_t level, int64_t length);
// True when a "FileName" counts as empty (blank, or its name part is "error").
bool IsEmptySoundName(std::string_view name);

}  // namespace lum
