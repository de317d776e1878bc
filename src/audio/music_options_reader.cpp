#include "audio/music_options_reader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <random>
#include <unordered_map>

#include <fmt/format.h>

#include "foundation/case_fold.h"
#include "foundation/errors.h"
#include "model/video_clip.h"

namespace lum {

namespace {

constexpr std::string_view kMarker = "9213AB40-17BB-458F-9C4C-1806F44BEB65";

bool IsClass(const TIniObject* o, std::string_view cls) {
  return o && FoldedEquals(o->ClassName(), cls);
}

TIniObject* FindByClass(const TIniList* list, std::string_view cls) {
  if (!list) return nullptr;
  for (TIniObject* o : list->Objects())
    if (IsClass(o, cls)) return o;
  return nullptr;
}

void AppendEnvelope(std::string& text, const std::string& owner, size_t e, const TEnvelope& env) {
  for (size_t k = 0; k < env.size(); ++k) {
    text +=
        fmt::format("[Vol_{}_{}_{}]\r\n0={}\r\n1={}\r\n", owner, e, k, env[k].time, env[k].level);
  }
}

}  // namespace

std::string TMusicComposition::ToText() const {
  std::string text(kMarker);
  text += fmt::format("\r\n[Main]\r\nDuration={}\r\n", duration);
  for (size_t i = 0; i < items.size(); ++i) {
    const TCompositionItem& it = items[i];
    text += fmt::format(
        "[{}]\r\nFileName={}\r\nTimeLine={}\r\nBeginTime={}\r\nDuration={}\r\nFadeCount={}\r\n", i,
        it.fileName, it.timeLine, it.beginTime, it.duration, it.envelopes.size());
    for (size_t e = 0; e < it.envelopes.size(); ++e)
      AppendEnvelope(text, std::to_string(i), e, it.envelopes[e]);
  }
  if (!mainVolume.empty()) {
    text += fmt::format("[MainVolume]\r\nFadeCount={}\r\n", mainVolume.size());
    for (size_t e = 0; e < mainVolume.size(); ++e)
      AppendEnvelope(text, "MainVolume", e, mainVolume[e]);
  }
  return text;
}

bool IsEmptySoundName(std::string_view name) {
  size_t a = name.find_first_not_of(" \t");
  if (a == std::string_view::npos) return true;
  size_t slash = name.find_last_of("\\/");
  std::string_view part = slash == std::string_view::npos ? name : name.substr(slash + 1);
  size_t dot = part.rfind('.');
  if (dot != std::string_view::npos) part = part.substr(0, dot);
  return FoldedEquals(part, "error");
}

TEnvelope FadeEnvelope(int64_t fadeIn, int64_t fadeOut, int64_t level, int64_t length) {
  TEnvelope env;
  if (fadeIn > 0) {
    env.push_back({0, 0});
    env.push_back({fadeIn, level});
  }
  if (fadeOut > 0) {
    env.push_back({length - fadeOut, level});
    env.push_back({length, 0});
  }
  if (level != 1000 && env.empty()) {
    env.push_back({0, level});
    env.push_back({length, level});
  }
  return env;
}

namespace {

bool ParseInt(std::string_view s, int64_t& v) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  if (s.empty() || s.size() > 18) return false;
  size_t i = 0;
  bool neg = false;
  if (s[0] == '-' || s[0] == '+') {
    neg = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return false;
  int64_t r = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    r = r * 10 + (s[i] - '0');
  }
  v = neg ? -r : r;
  return true;
}

}  // namespace

bool ParseVolumeParams(std::string_view text, int64_t startTime, int64_t duration, TEnvelope& out) {
  TEnvelope points;
  bool havePrev = false;
  int64_t prevMs = 0;
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view pair = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    size_t colon = pair.find(':');
    if (colon == std::string_view::npos) return false;
    int64_t x = 0, y = 0;
    if (!ParseInt(pair.substr(0, colon), x) || !ParseInt(pair.substr(colon + 1), y)) return false;
    int64_t ms = std::llround(double(x) / 44100.0 * 1000.0);
    if (havePrev && ms <= prevMs) ms = prevMs + 1;
    prevMs = ms;
    havePrev = true;
    int64_t level = std::llround(double(y) / 65536.0 * 1000.0);
    points.push_back({ms - startTime, level});
  }
  for (size_t k = 0; k < points.size(); ++k) {
    if (points[k].time < duration) {
      out.push_back(points[k]);
      continue;
    }
    int64_t level = points[k].level;
    if (k > 0) {
      const TVolumePoint& a = points[k - 1];
      const TVolumePoint& b = points[k];
      double f = double(duration - a.time) / double(b.time - a.time);
      level = std::llround(a.level + f * double(b.level - a.level));
    }
    out.push_back({duration, level});
    break;
  }
  return true;
}

TMusicOptionsReader::TMusicOptionsReader(const TLumSource& source)
    : source_(source), doc_(source.Document()) {
  const TIniList* times = doc_.Section("Times");
  int32_t count = std::max(0, ReadInteger(times, "opt_slidescount", 0));
  count = std::min(count, 1 << 20);
  double prev = 0;
  for (int32_t n = 1; n <= count; ++n) {
    double v = ReadFloat(times, "opt_synchpos" + std::to_string(n), prev);
    if (v < prev) v = prev;
    synch_.push_back(v);
    prev = v;
  }
}

double TMusicOptionsReader::SlideStart(int32_t n) const {
  if (n <= 1 || synch_.empty()) return 0;
  return synch_[size_t(std::min<int32_t>(n - 1, int32_t(synch_.size())) - 1)];
}

TIniObject* TMusicOptionsReader::MusicObject() const {
  return FindByClass(doc_.Section("Main"), "Music");
}

bool TMusicOptionsReader::MusicDisabled() const {
  return ReadInteger(MusicObject(), "music_disable", 0) == 1;
}

void TMusicOptionsReader::Walk(const TIniList* list, std::vector<TEntry>& out,
                               TIniObject*& comment) {
  // Tracks are walked into where they stand; nothing else is.
  WalkObjects(list, [&](TIniObject* o, int) {
    if (IsClass(o, "TMusicItem")) {
      out.push_back({o});
    } else if (IsClass(o, "TMusicOptions")) {
      repeat_ = ReadInteger(o, "IsRepeat", 0) == 1;
    } else if (IsClass(o, "TSoundComment")) {
      comment = o;
    } else if (IsClass(o, "TMusicTrack") && ReadInteger(o, "IsMute", 0) != 1) {
      out.push_back({nullptr, ReadInteger(o, "IsRandom", 0) == 1});
      return true;
    }
    return false;
  });
}

void TMusicOptionsReader::Shuffle(std::vector<TEntry>& list) {
  bool enabled =
      randomOrder_ && ReadInteger(doc_.Section("Main"), "opt_disablemusicrandom", 0) != 1;
  if (!enabled) return;
  if (randomTable_.empty()) {
    std::mt19937 gen(uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<uint32_t> dist(1, 16776960);
    for (int i = 0; i < 256; ++i) randomTable_.push_back(dist(gen));
  }
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].object || !list[i].random) continue;
    size_t end = i + 1;
    while (end < list.size() && list[end].object) ++end;
    std::vector<std::pair<uint32_t, TEntry>> keyed;
    for (size_t k = i + 1; k < end; ++k)
      keyed.push_back({randomTable_[randomCounter_++ % 256], list[k]});
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t k = i + 1; k < end; ++k) list[k] = keyed[k - i - 1].second;
  }
}

void TMusicOptionsReader::ReadLinks() {
  if (linksRead_) return;
  linksRead_ = true;
  for (int32_t n = 1; n <= int32_t(synch_.size()); ++n) {
    std::string text = ReadString(doc_.Section("Slide" + std::to_string(n)), "LinkedAudio", "");
    size_t p = 0;
    while (p < text.size() && text[p] == '{') {
      size_t close = text.find('}', p);
      if (close == std::string::npos) break;
      std::string guid = FoldCase(text.substr(p, close - p + 1));
      links_.emplace(guid, n);  // the first slide naming it wins
      p = close + 1;
    }
  }
}

int64_t TMusicOptionsReader::LinkedStart(const TIniObject* item) const {
  std::string guid = FoldCase(ReadString(item, "GUID", ""));
  if (guid.empty()) return -1;
  auto bare = guid;
  if (bare.front() != '{') bare = "{" + bare + "}";
  auto it = links_.find(bare);
  if (it == links_.end()) return -1;
  int64_t start = int64_t(SlideStart(it->second));
  int64_t mode = ReadInteger(item, "CrossMode", 0);
  if (mode == 0) start -= std::max<int64_t>(0, ReadInteger(item, "Cross", 0));
  if (mode == 1) start += std::max<int64_t>(0, ReadInteger(item, "Pause", 0));
  return std::max<int64_t>(start, 0);
}

TMusicComposition TMusicOptionsReader::ReadMain() {
  TMusicComposition comp;
  TIniObject* music = MusicObject();
  if (!music) return comp;
  std::vector<TEntry> list;
  TIniObject* comment = nullptr;
  Walk(music, list, comment);
  Shuffle(list);
  // Separators between tracks: runs collapse, a trailing one goes.
  std::vector<std::vector<const TIniObject*>> tracks(1);
  for (const TEntry& e : list) {
    if (e.object) {
      tracks.back().push_back(e.object);
    } else if (!tracks.back().empty()) {
      tracks.emplace_back();
    }
  }
  ReadLinks();
  for (const auto& track : tracks) {
    std::vector<int64_t> linked;
    for (const TIniObject* it : track) linked.push_back(LinkedStart(it));
    std::vector<int64_t> limits(track.size(), kNoLimit);
    int64_t later = kNoLimit;
    for (size_t k = track.size(); k-- > 0;) {
      limits[k] = later;
      if (linked[k] >= 0) later = std::min(later, linked[k]);
    }
    int64_t pos = 0;
    for (size_t k = 0; k < track.size(); ++k) {
      const TIniObject* item = track[k];
      int64_t length = ReadInteger(item, "Duration", 0);
      int64_t level = int64_t(ReadInteger(item, "Volume", 100)) * 10;
      int64_t mode = ReadInteger(item, "CrossMode", 0);
      int64_t cross = ReadInteger(item, "Cross", 0);
      int64_t pause = ReadInteger(item, "Pause", 0);
      int64_t startTime = ReadInteger(item, "StartTime", 0);
      if (linked[k] >= 0) {
        pos = linked[k];
        mode = cross = pause = 0;
      }
      int64_t candidate = mode == 0   ? pos - std::max<int64_t>(cross, 0)
                          : mode == 1 ? pos + std::max<int64_t>(pause, 0)
                                      : pos;
      if (limits[k] < candidate + length) length = std::max<int64_t>(limits[k] - candidate, 0);
      if (mode == 1 && pause > 0) pos += pause;
      TCompositionItem ci;
      ci.fileName = ReadString(item, "FileName", "");
      ci.timeLine = pos;
      ci.beginTime = startTime;
      ci.duration = length;
      TEnvelope fade = FadeEnvelope(ReadInteger(item, "FadeIn", 0), ReadInteger(item, "FadeOut", 0),
                                    level, length);
      if (!fade.empty()) ci.envelopes.push_back(fade);
      TEnvelope crossEnv;
      if (mode == 0 && cross > 0) {
        crossEnv.push_back({0, 0});
        crossEnv.push_back({cross, 1000});
        if (k > 0) {
          pos -= cross;
          ci.timeLine = std::max<int64_t>(ci.timeLine - cross, 0);
        }
      }
      if (k + 1 < track.size() && linked[k + 1] < 0) {
        const TIniObject* next = track[k + 1];
        int64_t nextCross = ReadInteger(next, "Cross", 0);
        if (ReadInteger(next, "CrossMode", 0) == 0 && nextCross > 0) {
          crossEnv.push_back({length - nextCross, 1000});
          crossEnv.push_back({length, 0});
        }
      }
      if (!crossEnv.empty()) ci.envelopes.push_back(crossEnv);
      std::string params = ReadString(item, "VolumeParams", "");
      if (!params.empty()) {
        TEnvelope free;
        // A malformed envelope is left out; the item still plays.
        if (ParseVolumeParams(params, startTime, length, free) && !free.empty())
          ci.envelopes.push_back(free);
      }
      pos += length;
      comp.duration = std::max(comp.duration, pos);
      if (level != 0 && !IsEmptySoundName(ci.fileName)) comp.items.push_back(std::move(ci));
    }
  }
  return comp;
}

TIniList* TMusicOptionsReader::Slide(int32_t index) const {
  return source_.SlideSection(index);
}

TIniObject* TMusicOptionsReader::SlideMusic(int32_t index) const {
  return FindByClass(Slide(index), "Music");
}

bool TMusicOptionsReader::HasCommentFile(int32_t index) const {
  TIniObject* comment = FindByClass(SlideMusic(index), "TSoundComment");
  return comment && !IsEmptySoundName(ReadString(comment, "FileName", ""));
}

void TMusicOptionsReader::CollectVideos(const TIniList* list,
                                        std::vector<const TIniObject*>& out) const {
  WalkObjects(list, [&](const TIniObject* o, int) {
    if (IsClass(o, "Video")) out.push_back(o);
    return true;
  });
}

int32_t TMusicOptionsReader::NextCommentSlide(int32_t index) {
  if (nextComment_.empty()) {
    const int32_t n = source_.SlideCount();
    nextComment_.assign(size_t(n), -1);
    for (int32_t j = n - 1; j > 0; --j)
      nextComment_[j - 1] = HasCommentFile(j) ? j : nextComment_[j];
  }
  return nextComment_[size_t(index)];
}

bool TMusicOptionsReader::SlideComposition(int32_t index, TMusicComposition& out) {
  out = {};
  if (index < 0 || index >= source_.SlideCount()) AssertFailed("LumMusicPlayer", "Slide not Found");
  const TLumSlideRecord slide = source_.Slide(index);
  const TIniList* main = doc_.Section("Main");
  const bool fully = ReadInteger(main, "opt_fullyplaysound", 0) == 1;
  int64_t limit = int64_t(slide.end - slide.start);
  if (fully) {
    const int32_t next = NextCommentSlide(index);
    const double to = next >= 0 ? source_.Slide(next).start : source_.Duration();
    limit = int64_t(to - slide.start);
  }

  // Video clips with sound become extra items.
  std::vector<TCompositionItem> extras;
  std::vector<const TIniObject*> videos;
  CollectVideos(Slide(index), videos);
  const TIniList* tracks = doc_.Section("Tracks");
  // Clip upkeep may write "Tracks" from a slide loader meanwhile.
  std::unique_lock<std::mutex> tracksLock(TracksLock());
  // A video's clip is the first whose "ClipGUID" or name is the video's
  // "ClipGUID": indexed once, not searched per video.
  std::unordered_map<std::string, const TIniObject*, TFoldedHash, TFoldedEqual> clips;
  if (tracks && !videos.empty())
    for (const TIniObject* c : tracks->Objects()) {
      clips.emplace(ReadString(c, "ClipGUID", ""), c);
      clips.emplace(std::string(c->Name()), c);
    }
  for (const TIniObject* v : videos) {
    const std::string guid = ReadString(v, "ClipGUID", "");
    auto found = guid.empty() ? clips.end() : clips.find(guid);
    const TIniObject* clip = found == clips.end() ? nullptr : found->second;
    const TIniObject* src = clip ? clip : v;
    if (ReadInteger(src, "Mute", 0) == 1 || ReadInteger(v, "Mute", 0) == 1) continue;
    if (ReadFloat(src, "FPSMultiplier", 1.0) != 1.0) continue;
    std::string file = ReadString(src, "FileName", "");
    if (file.empty() ||
        FoldedEquals(std::string_view(file).substr(file.size() >= 4 ? file.size() - 4 : 0), ".gif"))
      continue;
    if (clip) {
      int32_t startIdx = ReadInteger(clip, "StartSlideIdx", 0);
      double clipStart = 0;
      if (startIdx > 0)
        clipStart = ReadFloat(doc_.Section("Times"), "opt_synchpos" + std::to_string(startIdx), 0);
      if (clipStart < slide.start) continue;
      std::string key = FoldCase(guid);
      if (std::find(usedClips_.begin(), usedClips_.end(), key) != usedClips_.end()) continue;
      usedClips_.push_back(key);
    }
    TCompositionItem item;
    item.fileName = (ReadInteger(src, "LoadFromDisk", 0) == 1 ? "LoadFromDisk:" : "") + file;
    item.timeLine = ReadInteger(src, "StartLUMTime", 0);
    item.beginTime = ReadInteger(src, "StartVideoTime", 0);
    item.duration = ReadInteger(src, "Duration", 0);
    if (!clip) {
      int64_t visible = int64_t(slide.end - slide.start + slide.nextTransition) - item.timeLine;
      item.duration = std::min(item.duration, visible);
    }
    if (item.duration <= 0) continue;
    extras.push_back(std::move(item));
  }
  tracksLock.unlock();

  TIniObject* music = SlideMusic(index);
  if (!music && extras.empty()) return false;
  TIniObject* comment = FindByClass(music, "TSoundComment");
  int64_t pause = std::max<int64_t>(0, ReadInteger(comment, "Pause", 0));
  int64_t total = ReadInteger(comment, "Duration", 0) + pause;
  if (limit > 0 && limit < total) total = limit;
  std::string file = ReadString(comment, "FileName", "");
  int64_t level = int64_t(ReadInteger(comment, "Volume", 100)) * 10;
  if (comment && !IsEmptySoundName(file) && total - pause > 0 && level != 0) {
    TCompositionItem item;
    item.fileName = file;
    item.timeLine = pause;
    item.beginTime = ReadInteger(comment, "StartTime", 0);
    item.duration = total - pause;
    TEnvelope fade = FadeEnvelope(ReadInteger(comment, "FadeIn", 0),
                                  ReadInteger(comment, "FadeOut", 0), level, item.duration);
    if (!fade.empty()) item.envelopes.push_back(fade);
    std::string params = ReadString(comment, "VolumeParams", "");
    TEnvelope free;
    if (!params.empty() && ParseVolumeParams(params, item.beginTime, item.duration, free) &&
        !free.empty())
      item.envelopes.push_back(free);
    out.items.push_back(std::move(item));
  }
  out.duration = std::max<int64_t>(total, 0);
  for (TCompositionItem& e : extras) {
    out.duration = std::max(out.duration, e.timeLine + e.duration);
    out.items.push_back(std::move(e));
  }
  return true;
}

TSlideComment TMusicOptionsReader::ReadComment(int32_t index) {
  TSlideComment c;
  TMusicComposition comp;
  if (SlideComposition(index, comp)) {
    if (comp.duration > 0) {
      c.name = comp.ToText();
      c.length = double(comp.duration);
    }
    return c;
  }
  // Older per-slide keys.
  const TIniList* section = Slide(index);
  std::string sound = ReadString(section, "Sound", "");
  if (sound.empty() || sound == "@") return c;
  double length = ReadInteger(section, "SoundLength", -1);
  const TLumSlideRecord slide = source_.Slide(index);
  if (ReadInteger(doc_.Section("Main"), "opt_fullyplaysound", 0) != 1)
    length = std::min(length, slide.end - slide.start);
  // A length that is not known leaves the slide without its comment.
  if (!(length >= 0)) return c;
  c.name = sound;
  c.length = length;
  return c;
}

}  // namespace lum
