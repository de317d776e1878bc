#pragma once
// What the machine offers the tests, asked of the system itself and never of
// the code under test: a test skips only when one of these says no, so that a
// broken player fails its tests instead of skipping them.
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lum::test {

// Restores the named environment variables to what they were at construction.
class TEnvironmentOverride {
 public:
  explicit TEnvironmentOverride(std::vector<std::string> names) {
    for (std::string& n : names) {
      const char* v = std::getenv(n.c_str());
      saved_.emplace_back(std::move(n), v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  ~TEnvironmentOverride() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  TEnvironmentOverride(const TEnvironmentOverride&) = delete;
  TEnvironmentOverride& operator=(const TEnvironmentOverride&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The file of an installed font family in a style ("Regular", "Bold"), as
// fontconfig lists it; "" when there is none.
std::string InstalledFontFile(const std::string& family, const std::string& style);

// The path of an executable of that name on the search path; "" when none.
std::string FindProgram(const std::string& name);

}  // namespace lum::test
