#pragma once
// The music of a show as the player schedules it: the main play list (the
// main composition) and one sound comment per slide.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/music_options_reader.h"
#include "project/lum_source.h"

namespace lum {

struct TMusicItemInfo {
  std::string fileName;
  double start = 0;     // ms on the sequence timeline
  double offset = 0;    // ms into the file
  double duration = 0;  // ms
};

class TPlayList {
 public:
  // Appends at the current Total with offset 0.
  void Add(const std::string& name, double duration);
  void Add(const TMusicItemInfo& item);
  int32_t Count() const { return int32_t(items_.size()); }
  double Total() const { return total_; }
  bool Repeat() const { return repeat_; }
  void SetRepeat(bool repeat) { repeat_ = repeat; }
  size_t Capacity() const { return items_.capacity(); }
  // Item i; past the end of a repeating list item i mod n, moved by (i div n) × Total.
  TMusicItemInfo Item(int64_t i) const;

 private:
  std::vector<TMusicItemInfo> items_;
  double total_ = 0;
  bool repeat_ = false;
};

struct TSlideMusicInfo {
  TLumSlideRecord slide;
  int32_t next = 0;     // index of the next slide, 0 after the last
  std::string comment;  // composition text or file name; empty: none
  double length = 0;    // ms, never negative
};

class TLumMusicSource {
 public:
  explicit TLumMusicSource(const TLumSource& source, bool randomOrder = false);

  const TLumSource& Source() const { return source_; }
  // Nothing when the show has no main music.
  const TPlayList* PlayList() const { return playList_.get(); }
  std::shared_ptr<TPlayList> SharedPlayList() const { return playList_; }
  bool SyncMode() const { return syncMode_; }
  int32_t SlideCount() const { return int32_t(slides_.size()); }
  // Any index: repetitions continue past the end (times shifted by show lengths).
  TSlideMusicInfo Slide(int64_t index) const;
  // The main composition (empty when music is disabled).
  const TMusicComposition& Main() const { return main_; }

 private:
  const TLumSource& source_;
  std::shared_ptr<TPlayList> playList_;
  TMusicComposition main_;
  std::vector<TSlideMusicInfo> slides_;
  bool syncMode_ = false;
};

}  // namespace lum
