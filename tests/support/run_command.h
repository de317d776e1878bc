#pragma once
// Runs a program with arguments (no shell) and captures what it printed.
#include <string>
#include <vector>

namespace lum::test {

struct TCommandResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
  long peakRssKb = 0;  // the most resident memory the program had
  double cpuSeconds = 0;  // user and system time it took, all its threads
};

TCommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = {});

}  // namespace lum::test
