#include <cstdio>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
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

}  // namespace

int Info(const TInfoArgs& args) {
  auto loc = OpenShow(args.show);
  nlohmann::ordered_json info;
  info["source"] = SourceJson(*loc);
  if (args.json) {
    std::puts(info.dump(2).c_str());
    return 0;
  }
  for (const auto& [key, value] : info["source"].items()) {
    if (value.is_null()) continue;
    std::string text = value.is_string() ? value.get<std::string>() : value.dump();
    std::printf("%-13s %s\n", (key + ":").c_str(), text.c_str());
  }
  return 0;
}

}  // namespace lum::lumshow
