#include <cstdio>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "project/lum_source.h"
#include "project/show_options.h"
#include "show_open.h"

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

void PrintText(const nlohmann::ordered_json& info) {
  for (const char* part : {"source", "show"}) {
    for (const auto& [key, value] : info[part].items()) {
      if (value.is_null()) continue;
      std::string text = value.is_string() ? value.get<std::string>() : value.dump();
      std::printf("%-13s %s\n", (key + ":").c_str(), text.c_str());
    }
  }
  for (const auto& s : info["slides"]) {
    const auto& t = s["transition"];
    std::string transition =
        t.is_null() ? "-"
                    : fmt::format("{} {} ms", t["ref"].get<std::string>(), t["duration"].dump());
    std::printf("%4d  %10s - %-10s %-24s %s\n", s["index"].get<int>(), s["start"].dump().c_str(),
                s["end"].dump().c_str(), s["name"].get<std::string>().c_str(), transition.c_str());
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
  if (args.json) {
    std::puts(info.dump(2).c_str());
    return 0;
  }
  PrintText(info);
  return 0;
}

}  // namespace lum::lumshow
