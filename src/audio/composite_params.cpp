#include "audio/composite_params.h"

#include <charconv>
#include <map>

#include "audio/decoders/media_info.h"
#include "document/ini_file.h"

namespace lum {

namespace {

bool ParseInt(std::string_view s, int64_t& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

// "Vol_" sections by owner ("7" or "MainVolume"), envelope and point index.
using TPointSections = std::map<std::string, std::map<int64_t, std::map<int64_t, TIniList*>>>;

TPointSections IndexVolumeSections(const TIniFile& doc) {
  TPointSections out;
  for (TIniSection* s : doc.Sections()) {
    std::string_view name = s->Name();
    if (name.size() < 4) continue;
    if (!(name[0] == 'V' || name[0] == 'v') || !(name[1] == 'o' || name[1] == 'O') ||
        !(name[2] == 'l' || name[2] == 'L') || name[3] != '_')
      continue;
    name.remove_prefix(4);
    size_t b = name.rfind('_');
    if (b == std::string_view::npos || b == 0) continue;
    size_t a = name.rfind('_', b - 1);
    if (a == std::string_view::npos) continue;
    int64_t e, k;
    if (!ParseInt(name.substr(a + 1, b - a - 1), e) || !ParseInt(name.substr(b + 1), k)) continue;
    if (e < 0 || k < 0) continue;
    std::string owner(name.substr(0, a));
    for (char& c : owner) c = char(std::tolower(static_cast<unsigned char>(c)));
    out[owner][e][k] = s;
  }
  return out;
}

std::vector<std::vector<TVolumeItem>> ReadEnvelopes(const TPointSections& index,
                                                    const std::string& owner, int32_t fadeCount) {
  std::vector<std::vector<TVolumeItem>> out;
  if (fadeCount <= 0 || fadeCount > kMaxFadeCount) return out;
  auto it = index.find(owner);
  // Envelopes that have no points leave the gain alone; only those present count.
  if (it == index.end()) return out;
  for (const auto& [e, points] : it->second) {
    if (e >= fadeCount) break;
    std::vector<TVolumeItem> env;
    for (int64_t k = 0;; ++k) {
      auto p = points.find(k);
      if (p == points.end()) break;
      int32_t level = ReadInteger(p->second, "1", -1);
      if (level == -1) break;
      env.push_back({ReadInteger(p->second, "0", 0), level});
    }
    out.push_back(std::move(env));
  }
  return out;
}

bool ParseOne(std::string_view text, int64_t offset, TCompositeParams& out, int64_t& duration) {
  TIniFile doc;
  doc.LoadText(std::string(text));
  duration = std::max<int32_t>(0, ReadInteger(doc.Section("Main"), "Duration", 0));
  TPointSections vol = IndexVolumeSections(doc);
  for (size_t i = 0;; ++i) {
    TIniList* s = doc.Section(std::to_string(i));
    std::string file = ReadString(s, "FileName", "");
    if (!s || file.empty()) break;
    TCompositeItemParams item;
    item.fileName = file;
    item.timeLine = ReadInteger(s, "TimeLine", 0) + offset;
    item.beginTime = std::max<int32_t>(0, ReadInteger(s, "BeginTime", 0));
    item.duration = std::max<int32_t>(0, ReadInteger(s, "Duration", 0));
    item.envelopes = ReadEnvelopes(vol, std::to_string(i), ReadInteger(s, "FadeCount", 0));
    item.compositionEnd = offset + duration;
    out.items.push_back(std::move(item));
  }
  if (TIniList* m = doc.Section("MainVolume")) {
    TMainVolumeParams mv;
    mv.start = offset;
    mv.duration = duration;
    mv.envelopes = ReadEnvelopes(vol, "mainvolume", ReadInteger(m, "FadeCount", 0));
    if (!mv.envelopes.empty()) out.mainVolume.push_back(std::move(mv));
  }
  return true;
}

}  // namespace

bool TCompositeParams::Parse(std::string_view text) {
  items.clear();
  mainVolume.clear();
  duration = 0;
  if (!IsCompositionText(text)) return false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t body = pos + kCompositionMarker.size();
    size_t next = text.find(kCompositionMarker, body);
    std::string_view part =
        text.substr(body, next == std::string_view::npos ? std::string_view::npos : next - body);
    int64_t d = 0;
    ParseOne(part, duration, *this, d);
    duration += d;
    if (next == std::string_view::npos) break;
    pos = next;
  }
  return true;
}

std::string TCompositeParams::ToText() const {
  std::string t(kCompositionMarker);
  t += "\r\n[Main]\r\nDuration=" + std::to_string(duration) + "\r\n";
  auto envelopes = [&t](const std::string& owner,
                        const std::vector<std::vector<TVolumeItem>>& envs) {
    for (size_t e = 0; e < envs.size(); ++e)
      for (size_t k = 0; k < envs[e].size(); ++k)
        t += "[Vol_" + owner + "_" + std::to_string(e) + "_" + std::to_string(k) +
             "]\r\n0=" + std::to_string(envs[e][k].ms) +
             "\r\n1=" + std::to_string(envs[e][k].level) + "\r\n";
  };
  for (size_t i = 0; i < items.size(); ++i) {
    const TCompositeItemParams& it = items[i];
    t += "[" + std::to_string(i) + "]\r\nFileName=" + it.fileName +
         "\r\nTimeLine=" + std::to_string(it.timeLine) +
         "\r\nBeginTime=" + std::to_string(it.beginTime) +
         "\r\nDuration=" + std::to_string(it.duration) +
         "\r\nFadeCount=" + std::to_string(it.envelopes.size()) + "\r\n";
    envelopes(std::to_string(i), it.envelopes);
  }
  for (const TMainVolumeParams& mv : mainVolume) {
    // One composition holds one main section; later ones are written merged.
    t += "[MainVolume]\r\nFadeCount=" + std::to_string(mv.envelopes.size()) + "\r\n";
    envelopes("MainVolume", mv.envelopes);
    break;
  }
  return t;
}

}  // namespace lum
