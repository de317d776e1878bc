#pragma once
// Runs the lumshow built beside the tests (LUMSHOW_PATH) as a user would.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/run_command.h"

namespace lum::test {

inline TCommandResult Lumshow(std::vector<std::string> args) {
  args.insert(args.begin(), LUMSHOW_PATH);
  return RunCommand(args);
}

// The JSON a successful run printed.
inline nlohmann::json Json(const TCommandResult& r) {
  EXPECT_EQ(r.status, 0) << r.err;
  return nlohmann::json::parse(r.out);
}

}  // namespace lum::test
