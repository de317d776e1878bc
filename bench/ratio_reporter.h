#pragma once
// Console output plus the CPU time per iteration of each benchmark; with
// repetitions the median, which shrugs off a busy machine best. The programs
// print their ratios from it.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace lum::bench {

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") median_[name] = run.GetAdjustedCPUTime();
      } else {
        last_[name] = run.GetAdjustedCPUTime();
      }
    }
  }
  double Time(const std::string& name) const {
    if (auto it = median_.find(name); it != median_.end()) return it->second;
    auto it = last_.find(name);
    return it == last_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> median_, last_;
};

}  // namespace lum::bench
