#pragma once
#include <string>

namespace lum {

// The key of scrambled (method 2) members: the build's LUM_SCRAMBLE_KEY, unless
// the environment variable LUM_SCRAMBLE_KEY names another (non-empty) one.
const std::string& ScrambleKey();
// The key the build was configured with.
const std::string& BuiltInScrambleKey();

}  // namespace lum
