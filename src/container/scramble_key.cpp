#include "container/scramble_key.h"

#include <cstdlib>

#include "scramble_key_config.h"

namespace lum {

const std::string& BuiltInScrambleKey() {
  static const std::string key(kBuiltInScrambleKey);
  return key;
}

const std::string& ScrambleKey() {
  static const std::string key = [] {
    const char* env = std::getenv("LUM_SCRAMBLE_KEY");
    return env && *env ? std::string(env) : BuiltInScrambleKey();
  }();
  return key;
}

}  // namespace lum
