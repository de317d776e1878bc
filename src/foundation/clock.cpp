#include "foundation/clock.h"

#include <ctime>

#include <fmt/format.h>

namespace lum {

namespace {
// Captured during static initialisation, as close to program start as we get.
const auto gStartSteady = std::chrono::steady_clock::now();
const auto gStartSystem = std::chrono::system_clock::now();
}  // namespace

int64_t MsSinceStart() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               gStartSteady)
      .count();
}

std::chrono::system_clock::time_point ProgramStartTime() {
  return gStartSystem;
}

std::string FormatLogTime(std::chrono::system_clock::time_point t) {
  std::time_t secs = std::chrono::system_clock::to_time_t(t);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
  if (ms < 0) ms += 1000;
  std::tm tm{};
  localtime_r(&secs, &tm);
  return fmt::format("{:02}.{:02}.{:04} {:02}:{:02}:{:02}.{:03}", tm.tm_mday, tm.tm_mon + 1,
                     tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

}  // namespace lum
