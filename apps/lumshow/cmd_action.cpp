#include <cstdio>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "project/lum_action_info.h"

namespace lum::lumshow {

int Action(const TActionArgs& args) {
  TLumActionInfo a = ParseActionText(args.text);
  if (args.json) {
    nlohmann::ordered_json j;
    j["type"] = a.type;
    j["int"] = a.intArg;
    j["text"] = a.textArg;
    std::puts(j.dump(2).c_str());
    return 0;
  }
  std::printf("type: %d (%s)\nint:  %d\ntext: %s\n", a.type, ActionTypeName(a.type), a.intArg,
              a.textArg.c_str());
  return 0;
}

}  // namespace lum::lumshow
