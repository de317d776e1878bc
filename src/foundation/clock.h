#pragma once
// Program clock: milliseconds since program start (steady), and the local
// wall-clock start time for log banners.
#include <chrono>
#include <cstdint>
#include <string>

namespace lum {

// Milliseconds since the program started (the stand-in for the system tick).
int64_t MsSinceStart();
// The local time the program started.
std::chrono::system_clock::time_point ProgramStartTime();
// "DD.MM.YYYY HH:MM:SS.mmm" in local time.
std::string FormatLogTime(std::chrono::system_clock::time_point t);

}  // namespace lum
