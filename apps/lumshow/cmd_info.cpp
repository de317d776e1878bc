#include <algorithm>
#include <cstdio>
#include <set>
#include <unordered_set>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "foundation/case_fold.h"
#include "foundation/file_stream.h"
#include "project/lum_source.h"
#include "project/show_options.h"
#include "show_open.h"
#include "video/video_source.h"

namespace lum::lumshow {

namespace {

const char* TrailerName(TTrailerForm f) {
  return f == TTrailerForm::Short ? "short" : f == TTrailerForm::Long ? "long" : "none";
}

nlohmann::ordered_json SourceJson(const TLumShowLocator& loc) {
  nlohmann::ordered_json j;
  const TLumUnpack* u = loc.Unpack();
  j["kind"] = u ? "container" : "folder";
  j["path"] = loc.Path();
  if (u) {
    j["trailer"] = TrailerName(u->Trailer().form);
    j["base"] = u->Trailer().base;
    j["directoryPos"] = u->Trailer().directoryPos;
    j["shift"] = u->Shift();
    j["members"] = u->Members().size();
    j["lumVersion"] = u->LumVersion();
  } else {
    j["trailer"] = nullptr;
    j["base"] = nullptr;
    j["directoryPos"] = nullptr;
    j["shift"] = nullptr;
    j["members"] = nullptr;
    j["lumVersion"] = loc.LumVersion();
  }
  return j;
}

// Whole milliseconds print as integers.
nlohmann::ordered_json Number(double v) {
  if (v == double(int64_t(v))) return int64_t(v);
  return v;
}

const char* EndBehaviourName(TEndBehaviour b) {
  return b == TEndBehaviour::Close ? "close" : b == TEndBehaviour::Stop ? "stop" : "repeat";
}

const char* EndActionName(TSlideEndAction a) {
  return a == TSlideEndAction::Pause ? "pause" : a == TSlideEndAction::Loop ? "loop" : "none";
}

nlohmann::ordered_json ShowJson(const TLumSource& src) {
  nlohmann::ordered_json j;
  j["slides"] = src.SlideCount();
  j["duration"] = Number(src.Duration());
  j["endBehaviour"] = EndBehaviourName(src.EndBehaviour());
  j["screenSaver"] = src.ScreenSaver();
  j["designWidth"] = src.EffectManager().DesignWidth();
  j["designHeight"] = src.EffectManager().DesignHeight();
  return j;
}

nlohmann::ordered_json TransitionJson(TLumSource& src, int32_t index) {
  TTransitionChoice c = src.Transition(index);
  if (!c.effect) return nullptr;
  nlohmann::ordered_json j;
  j["ref"] = src.EffectManager().SlideProp(index)->Name();
  j["type"] = c.effect->type;
  j["duration"] = Number(c.duration);
  j["smoothness"] = c.smoothness;
  j["flags"] = nlohmann::ordered_json::array();
  for (bool f : c.effect->flags) j["flags"].push_back(f);
  j["ints"] = c.effect->ints;
  j["floats"] = nlohmann::ordered_json::array();
  for (float f : c.effect->floats) j["floats"].push_back(double(f));
  return j;
}

nlohmann::ordered_json SlideJson(TLumSource& src, int32_t i) {
  TLumSlideRecord r = src.Slide(i);
  TSlideEnd end = src.EndAction(i);
  auto program = src.Program(i);
  nlohmann::ordered_json j;
  j["index"] = i;
  j["name"] = r.name;
  j["start"] = Number(r.start);
  j["end"] = Number(r.end);
  j["transitionIn"] = Number(r.transitionIn);
  j["nextTransition"] = Number(r.nextTransition);
  j["endWithNext"] = Number(r.endWithNext);
  j["endAction"] = EndActionName(end.action);
  j["loopLength"] = Number(end.loopLength);
  j["runApp"] = program ? nlohmann::ordered_json(*program) : nlohmann::ordered_json(nullptr);
  j["transition"] = TransitionJson(src, i);
  return j;
}

nlohmann::ordered_json OptionValue(const TShowOption& o, const std::string& v) {
  switch (o.type) {
    case TOptionType::Integer:
      return ValueToInt(v, 0);
    case TOptionType::Boolean:
      return v == "1";
    case TOptionType::Float:
      return Number(ValueToFloat(v, 0));
    default:
      return v;
  }
}

nlohmann::ordered_json OptionsJson(const TLumSource& src) {
  nlohmann::ordered_json j;
  for (const TShowOption& o : ShowOptions()) {
    std::string v = EffectiveOption(src.Main(), o);
    // Listings never reveal the show's password.
    if (std::string_view(o.key) == kPasswordOption) v = v.empty() ? "" : "(set)";
    j[o.key] = OptionValue(o, v);
  }
  return j;
}

// Video files of the show: the clips of "Tracks", then the files of video
// objects not linked to one; each (file, from disk) once. One pass over the
// objects, whatever their number or depth.
std::vector<std::pair<std::string, bool>> VideoFiles(const TLumSource& src) {
  const TIniList* tracks = src.Document().Section("Tracks");
  // What a "ClipGUID" may name: a clip's own "ClipGUID" or its object name.
  std::unordered_set<std::string, TFoldedHash, TFoldedEqual> clips;
  if (tracks)
    for (const TIniObject* c : tracks->Objects()) {
      clips.insert(ReadString(c, "ClipGUID", ""));
      clips.insert(std::string(c->Name()));
    }
  std::vector<std::pair<std::string, bool>> out;
  std::set<std::pair<std::string, bool>> seen;
  auto visit = [&](const TIniObject* o, int) {
    const bool video = FoldedEquals(o->ClassName(), "Video") ||
                       FoldedEquals(o->ClassName(), "TVideoClip2") ||
                       FoldedEquals(o->ClassName(), "TLumVideo");
    if (!video) return true;
    std::pair<std::string, bool> entry{ReadString(o, "FileName", ""),
                                       ReadInteger(o, "LoadFromDisk", 0) == 1};
    const std::string clip = ReadString(o, "ClipGUID", "");
    const bool linked = !clip.empty() && clips.count(clip);
    if (!entry.first.empty() && (!linked || o->Owner() == tracks) && seen.insert(entry).second)
      out.push_back(entry);
    return true;
  };
  WalkObjects(tracks, visit);
  for (int32_t i = 0; i < src.SlideCount(); ++i) WalkObjects(src.SlideSection(i), visit);
  return out;
}

nlohmann::ordered_json ClipJson(const TFileAccessor& accessor, const std::string& file,
                                bool fromDisk) {
  nlohmann::ordered_json j;
  j["file"] = file;
  j["from_disk"] = fromDisk;
  std::unique_ptr<TStream> stream;
  try {
    if (fromDisk) {
      const std::string path = accessor.FindFileOnDisk(file);
      if (!path.empty()) stream = TFileStream::TryOpenRead(path);
    } else {
      stream = accessor.OpenMember(file);
    }
  } catch (const std::exception&) {
  }
  std::string why;
  TRef<TWinVideoSource> s =
      TWinVideoSource::Open(TFFMpegDll::Acquire(), file, std::move(stream), &why);
  if (!s) {
    j["error"] = why;
    return j;
  }
  j["format"] = s->FormatName();
  j["codec"] = VideoCodecName(s->Codec());
  j["width"] = s->Width();
  j["height"] = s->Height();
  j["frame_rate"] = fmt::format("{}/{}", s->RateNum(), s->RateDen());
  j["duration_ms"] = Number(s->DurationMs());
  j["interlaced"] = !s->Interlaced()     ? "progressive"
                    : s->TopFieldFirst() ? "top field first"
                                         : "bottom field first";
  return j;
}

nlohmann::ordered_json ClipsJson(const TLumSource& src) {
  nlohmann::ordered_json j = nlohmann::ordered_json::array();
  for (const auto& [file, disk] : VideoFiles(src))
    j.push_back(ClipJson(*src.Accessor(), file, disk));
  return j;
}

// Text form of the info: every string in it comes from the show, so each is
// printed through Printable.
void PrintText(const nlohmann::ordered_json& info) {
  auto str = [](const nlohmann::ordered_json& v) {
    return Printable(v.is_string() ? v.get<std::string>() : v.dump());
  };
  for (const char* part : {"source", "show"}) {
    for (const auto& [key, value] : info[part].items()) {
      if (value.is_null()) continue;
      std::printf("%-13s %s\n", (key + ":").c_str(), str(value).c_str());
    }
  }
  for (const auto& s : info["slides"]) {
    const auto& t = s["transition"];
    std::string transition =
        t.is_null() ? "-" : fmt::format("{} {} ms", str(t["ref"]), t["duration"].dump());
    std::printf("%4d  %10s - %-10s %-24s %s\n", s["index"].get<int>(), s["start"].dump().c_str(),
                s["end"].dump().c_str(), str(s["name"]).c_str(), transition.c_str());
  }
  for (const auto& c : info["clips"]) {
    if (c.contains("error")) {
      std::printf("clip          %s: %s\n", str(c["file"]).c_str(), str(c["error"]).c_str());
      continue;
    }
    std::printf("clip          %s: %s %dx%d %s fps, %s (%s)\n", str(c["file"]).c_str(),
                str(c["codec"]).c_str(), c["width"].get<int>(), c["height"].get<int>(),
                str(c["frame_rate"]).c_str(), str(c["interlaced"]).c_str(),
                str(c["format"]).c_str());
  }
}

}  // namespace

int Info(const TInfoArgs& args) {
  auto loc = OpenShow(args.show);
  nlohmann::ordered_json info;
  info["source"] = SourceJson(*loc);
  // Transitions are chosen deterministically so that listings can be compared.
  TLumSource src(loc->Accessor(), loc->Document(), {loc->Path(), 0});
  src.Rotation().SetDeterministic(true);
  info["show"] = ShowJson(src);
  info["slides"] = nlohmann::ordered_json::array();
  for (int32_t i = 0; i < src.SlideCount(); ++i) info["slides"].push_back(SlideJson(src, i));
  info["options"] = OptionsJson(src);
  info["clips"] = ClipsJson(src);
  if (args.json) {
    std::puts(JsonText(info).c_str());
    return 0;
  }
  PrintText(info);
  return 0;
}

}  // namespace lum::lumshow
