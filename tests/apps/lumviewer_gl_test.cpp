// lumviewer on a driver too old to draw with (a lower version forced on Mesa):
// its message box names what it needs and what the driver offers, instead
// of a black window; and a player that draws keeps its GL error count at 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "support/player_run.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPlayer;
using test::TTempDir;

std::string Joined(const json& texts) {
  std::string all;
  for (const json& t : texts) all += t.get<std::string>() + "\n";
  return all;
}

TEST(LumviewerGL, AnOldDriverGetsAMessageNamingItAndStatus1) {
  TTempDir dir;
  const std::string show = test::PackedShow(dir, "old.lumshow", 2);
  TPlayer p(dir.Path(), show, {}, {"MESA_GL_VERSION_OVERRIDE=3.0"});
  START(p);
  bool met = false;
  const json s = p.WaitFor([](const json& s) { return s["dialog"].is_object(); }, 10000, &met);
  ASSERT_TRUE(met) << s.dump() << "\n" << p.LogTail();
  const std::string text = Joined(s["dialog"]["texts"]);
  EXPECT_NE(text.find("This player needs OpenGL 3.3 (core profile)"), std::string::npos) << text;
  // Mesa's software drivers: llvmpipe unless the run picked another.
  const char* gallium = std::getenv("GALLIUM_DRIVER");
  EXPECT_NE(text.find(std::string("Driver: ") + (gallium ? gallium : "llvmpipe")),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("OpenGL version: 3.0"), std::string::npos) << text;
  EXPECT_EQ(s["show"], "");  // no show was opened behind it
  p.Request({{"command", "key"}, {"key", "Return"}});
  EXPECT_EQ(p.Stop(), 1);
  EXPECT_NE(p.Log().find("lumviewer: This player needs OpenGL 3.3"), std::string::npos)
      << p.LogTail();
}

TEST(LumviewerGL, PlayingCountsNoGLErrorsAndLogsTheDriver) {
  TTempDir dir;
  const std::string show = test::PackedShow(dir, "plays.lumshow", 2);
  TPlayer p(dir.Path(), show, {}, {"LUM_GL_DEBUG=1"});
  START(p);
  bool met = false;
  const json s =
      p.WaitFor([](const json& s) { return s["framesDrawn"].get<int64_t>() >= 10; }, 10000, &met);
  ASSERT_TRUE(met) << s.dump() << "\n" << p.LogTail();
  EXPECT_EQ(s["glErrors"], 0);
  EXPECT_EQ(p.Stop(), 0);
  // -log tells a bug report the driver, the context and the extensions used.
  const std::string log = p.Log();
  for (const char* line :
       {"T3DEngineGL: renderer: ", "T3DEngineGL: context: OpenGL ",
        "core, forward-compatible, debug", "T3DEngineGL: extension GL_KHR_debug"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

}  // namespace
}  // namespace lum
