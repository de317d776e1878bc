#pragma once
// One key frame of an object: the time it sits at, the groups it sets, its
// values for the animated fields and the modifiers that reshape the segment
// starting at it.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/animated_field_desk.h"
#include "model/lum_object_mod.h"
#include "model/object_filter.h"

namespace lum {

class TIniList;
class TLumObjectProps;

// The slide-local timing an object's key frames are laid against, whole ms.
struct TLumSlideTiming {
  int duration = 0;     // D: slide begin to the end of the outgoing transition
  int inDuration = 0;   // Tin: incoming transition
  int outDuration = 0;  // Tout: outgoing transition
  bool operator==(const TLumSlideTiming&) const = default;
};

// Where a key frame's "Time" counts from.
enum class TKeyFrameOrigin : int {
  SlideBegin = 0,       // 0
  PrevEffectEnd = 1,    // Tin
  NextEffectBegin = 2,  // D - Tout
  SlideEnd = 3,         // D
};

// "SlideBegin", "PrevEffectEnd", "NextEffectBegin", "SlideEnd" (any case);
// anything else is SlideBegin.
TKeyFrameOrigin KeyFrameOriginFromName(std::string_view name);
const char* KeyFrameOriginName(TKeyFrameOrigin origin);
// The slide-local time of an anchor.
double AnchorTime(const TLumSlideTiming& timing, TKeyFrameOrigin origin);
// The whole milliseconds of a "Time" value: the text before the first ".",
// blanks skipped, read as a signed integer; 0 when it is not one.
int KeyFrameTimeValue(std::string_view text);

// A colour filter of a key frame: its section and, for a registered filter
// name, the filter made from it (null for an unknown name).
struct TKeyFrameFilter {
  std::string id;
  int64_t revision = 0;
  bool hasRevision = false;
  const TIniList* section = nullptr;
  TRef<TObjectFilter> filter;
};

class TLumKeyFrame {
 public:
  TLumKeyFrame(TLumObjectProps* owner, int index) : owner_(owner), index_(index) {}
  TLumKeyFrame(const TLumKeyFrame&) = delete;
  TLumKeyFrame& operator=(const TLumKeyFrame&) = delete;

  // Reads a "KeyPoint" section. groupMask is what the owner's kind allows;
  // the timing places the anchor. Modifiers and filters whose "id" and "$rev"
  // match ones already held at the same place are kept (not compiled again).
  void Load(const TIniList* section, uint8_t groupMask, const TLumSlideTiming& timing);

  TLumObjectProps* Owner() const { return owner_; }
  int Index() const { return index_; }
  const TIniList* Section() const { return section_; }

  double Time() const { return time_; }
  TKeyFrameOrigin Origin() const { return origin_; }
  // Whole ms after the anchor, as read ("Time").
  int Offset() const { return offset_; }
  uint8_t GroupMask() const { return groupMask_; }
  bool SetsGroup(int group) const { return (groupMask_ >> group) & 1; }

  // The value of field i at this key frame, in stored units (the field's
  // default when the frame does not set its group, the key is missing, or the
  // number is malformed).
  float Value(int field) const { return values_[field]; }
  // "Position" (0) and "CenterPos" (1) as read; NaN for an item that is no number.
  const std::vector<double>& PairList(int pairKey) const { return pairs_[pairKey]; }

  // Every modifier of the frame, document order.
  const std::vector<std::unique_ptr<TLumObjectMod>>& Mods() const { return mods_; }
  bool HasMods() const { return !mods_.empty(); }
  // Modifiers of a group's time fraction and of a field's value, in the order
  // they are applied (oldest, that is first in the document, first).
  const std::vector<TLumObjectMod*>& TimeChain(int group) const { return timeChains_[group]; }
  const std::vector<TLumObjectMod*>& ValueChain(int field) const { return valueChains_[field]; }
  const std::vector<TKeyFrameFilter>& Filters() const { return filters_; }
  // The enabled-or-not filters in document order; empty when the chain was
  // rejected (ChainError says why).
  const TFilterChain& FilterChain() const { return chain_; }
  const std::string& ChainError() const { return chainError_; }

 private:
  friend class TLumObjectProps;
  void ReadValues();
  void LoadMods();
  void LoadFilters();
  void BuildChain();

  TLumObjectProps* owner_;
  int index_;
  const TIniList* section_ = nullptr;
  double time_ = 0;
  TKeyFrameOrigin origin_ = TKeyFrameOrigin::SlideBegin;
  int offset_ = 0;
  uint8_t groupMask_ = 0;
  std::array<float, kAnimatedFieldCount> values_{};
  std::vector<double> pairs_[2];
  std::vector<std::unique_ptr<TLumObjectMod>> mods_;
  std::array<std::vector<TLumObjectMod*>, kAnimatedGroupCount> timeChains_;
  std::array<std::vector<TLumObjectMod*>, kAnimatedFieldCount> valueChains_;
  std::vector<TKeyFrameFilter> filters_;
  TFilterChain chain_;
  std::string chainError_;
};

using TLumKeyFrameArray = std::vector<std::unique_ptr<TLumKeyFrame>>;

}  // namespace lum
