// What lumshow tells of the OpenGL driver: --gl-info for bug reports, and a
// clear refusal where the driver lacks what drawing needs (a lower version
// forced on Mesa through its own override variables).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TTempDir;

// Sets an environment variable for the commands run while it lives.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~TScopedEnv() { had_ ? (void)setenv(name_, old_.c_str(), 1) : (void)unsetenv(name_); }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(LumshowGL, InfoNamesDriverContextAndExtensions) {
  // The tests run with LUM_GL_DEBUG=1: the context is a debug one.
  TScopedEnv debug("LUM_GL_DEBUG", "1");
  test::TCommandResult r = Lumshow({"render", "--gl-info"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"\nrenderer: ", "\nversion: ", "\nshading language: ",
                           "core, forward-compatible, debug", "\nextension GL_KHR_debug: yes",
                           "\nextension GL_ARB_texture_filter_anisotropic: ", "\nstatus: ready"})
    EXPECT_NE(("\n" + r.out).find(line), std::string::npos) << line << " in\n" << r.out;
  EXPECT_EQ(r.err, "");
}

TEST(LumshowGL, DriversLackingWhatWeDrawWithAreNamedAndRefused) {
  struct TCase {
    const char* override;  // MESA_GL_VERSION_OVERRIDE
    const char* offered;   // what the driver then says of its version
    const char* lack;
  };
  const TCase cases[] = {
      {"3.0", "version: 3.0", "no OpenGL 3.3 core context"},
      {"3.3COMPAT", "Compatibility Profile", "the context is not a core profile"},
  };
  const std::string need = "OpenGL 3.3 (core profile) with GLSL 3.30";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.override);
    TScopedEnv version("MESA_GL_VERSION_OVERRIDE", c.override);
    test::TCommandResult info = Lumshow({"render", "--gl-info"});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find(c.offered), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("renderer: "), std::string::npos) << info.out;
    EXPECT_NE(info.err.find(need), std::string::npos) << info.err;
    EXPECT_NE(info.err.find(c.lack), std::string::npos) << info.err;

    // A frame is refused with the same words, and no picture is written.
    TTempDir dir;
    const std::string out = dir / "frame.png";
    test::TCommandResult frame =
        Lumshow({"render", DEMO_SHOW_PATH, "--time", "1000", "--size", "64x36", "-o", out});
    EXPECT_EQ(frame.status, 1);
    EXPECT_EQ(frame.err.rfind("lumshow: ", 0), 0u) << frame.err;
    EXPECT_NE(frame.err.find(need), std::string::npos) << frame.err;
    EXPECT_NE(frame.err.find(c.lack), std::string::npos) << frame.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST(LumshowGL, RenderWithoutShowTimeOrOutputIsAUsageError) {
  EXPECT_EQ(Lumshow({"render"}).status, 2);
  EXPECT_EQ(Lumshow({"render", DEMO_SHOW_PATH, "-o", "x.png"}).status, 2);
  EXPECT_EQ(Lumshow({"render", DEMO_SHOW_PATH, "--time", "0"}).status, 2);
}

}  // namespace
}  // namespace lum
