#include "audio/music_source.h"

#include <algorithm>

namespace lum {

void TPlayList::Add(const std::string& name, double duration) {
  Add(TMusicItemInfo{name, total_, 0, duration});
}

void TPlayList::Add(const TMusicItemInfo& item) {
  if (items_.size() == items_.capacity()) {
    size_t cap = items_.capacity();
    items_.reserve(cap == 0 ? 1 : cap == 1 ? 8 : cap * 2);
  }
  items_.push_back(item);
  total_ = std::max(total_, item.start + item.duration);
}

TMusicItemInfo TPlayList::Item(int64_t i) const {
  const int64_t n = int64_t(items_.size());
  if (n == 0 || i < 0) return {};
  if (i < n) return items_[size_t(i)];
  if (!repeat_) return {};
  TMusicItemInfo item = items_[size_t(i % n)];
  item.start += double(i / n) * total_;
  return item;
}

TLumMusicSource::TLumMusicSource(const TLumSource& source, bool randomOrder) : source_(source) {
  TMusicOptionsReader reader(source);
  reader.SetRandomOrder(randomOrder);
  syncMode_ = ReadInteger(source.Main(), "opt_syncmode", 0) == 1;
  if (!reader.MusicDisabled()) {
    main_ = reader.ReadMain();
    if (main_.duration > 0) {
      playList_ = std::make_shared<TPlayList>();
      playList_->Add(main_.ToText(), double(main_.duration));
      bool repeat = reader.Repeat();
      // Synchronised music longer than the show would repeat into the next cycle.
      if (syncMode_ && playList_->Total() + 200 > source.Duration()) repeat = false;
      playList_->SetRepeat(repeat);
    }
  }
  for (int32_t i = 0; i < source.SlideCount(); ++i) {
    TSlideMusicInfo info;
    info.slide = source.Slide(i);
    info.next = i + 1 < source.SlideCount() ? i + 1 : 0;
    TSlideComment c = reader.ReadComment(i);
    info.comment = c.name;
    info.length = std::max(0.0, c.length);
    slides_.push_back(std::move(info));
  }
}

TSlideMusicInfo TLumMusicSource::Slide(int64_t index) const {
  const int64_t n = int64_t(slides_.size());
  if (n == 0 || index < 0) return {};
  TSlideMusicInfo info = slides_[size_t(index % n)];
  double shift = double(index / n) * source_.Duration();
  info.slide.start += shift;
  info.slide.end += shift;
  info.slide.endWithNext += shift;
  return info;
}

}  // namespace lum
