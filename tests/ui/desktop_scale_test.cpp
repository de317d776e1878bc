// The desktop's scale setting as X resource databases carry it.
#include <gtest/gtest.h>

#include "ui/desktop_scale.h"

namespace lum {
namespace {

TEST(DesktopScale, XftDpiIsReadFromTheResourceLinesAndCheckedForSense) {
  const struct {
    const char* resources;
    std::optional<double> dpi;
  } cases[] = {
      {"Xft.antialias:\t1\nXft.dpi:\t192\nXft.hinting:\t1\n", 192},
      {"Xft.dpi:\t120", 120},
      {"Xft.dpi: 144.5\n", 144.5},
      {"Xcursor.size:\t24\n", std::nullopt},
      {"", std::nullopt},
      {"Xft.dpi:\tbig\n", std::nullopt},
      {"Xft.dpi:\t0\n", std::nullopt},
      {"Xft.dpi:\t1e9\n", std::nullopt},
      {"Xft.dpi:\tnan\n", std::nullopt},
      {"MyXft.dpi:\t192\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(XftDpi(c.resources), c.dpi) << c.resources;
}

}  // namespace
}  // namespace lum
