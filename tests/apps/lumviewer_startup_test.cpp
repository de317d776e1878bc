// lumviewer at start: a show that cannot be played is told in the player's
// own message box (a file manager shows no terminal), the window never
// appears for it, and the player ends with status 1 once the box is closed;
// where to start when the command line names both a slide and a time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/player_run.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPlayer;
using test::TTempDir;

constexpr int kPatienceMs = 20000;

json WaitFor(TPlayer& p, const std::function<bool(const json&)>& done) {
  return p.Expect(done, {}, kPatienceMs);
}

json Dialog(TPlayer& p) {
  return p.Dialog(kPatienceMs);
}

// Waits for the player to end by itself; its exit status.
int Ended(TPlayer& p) {
  for (int i = 0; i < 200 && p.Running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(p.Running()) << p.LogTail();
  return p.Stop();
}

// Flips bytes of the container's directory, which lies before the trailer.
void Corrupt(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t i = bytes.size() - 40; i < bytes.size() - 20; ++i) bytes[i] ^= 0x5A;
  std::ofstream(to, std::ios::binary) << bytes;
}

struct TBrokenStart {
  const char* what;
  std::vector<std::string> args;  // after the show
  std::string show;
  std::vector<std::string> texts;  // the box's lines (the first a prefix), its button last
  const char* closeKey;
};

TEST(LumviewerStartup, AShowThatCannotPlayIsToldInABoxAndEndsWithStatus1) {
  TTempDir dir;
  const std::string good = test::PackedShow(dir, "good.lumshow", 2);
  Corrupt(good, dir / "damaged.lumshow");
  std::filesystem::create_directories(dir / "folder.lum");
  const std::string missing = dir / "missing.lumshow";
  const std::vector<TBrokenStart> cases = {
      {"missing", {}, missing, {"Slideshow File not Found", "\"" + missing + "\"", "OK"}, "Return"},
      {"damaged container",
       {},
       dir / "damaged.lumshow",
       {"", "\"" + dir / "damaged.lumshow" + "\"", "OK"},
       "Escape"},
      {"unreadable project",
       {"-filename", dir / "folder.lum"},
       "",
       {"Can`t Load .lum File", "\"" + dir / "folder.lum" + "\"", "OK"},
       "Return"},
  };
  for (const TBrokenStart& c : cases) {
    SCOPED_TRACE(c.what);
    TPlayer p(dir.Path(), c.show, c.args);
    START(p);
    const json d = Dialog(p);
    EXPECT_EQ(d["caption"], "Slideshow Error");
    ASSERT_EQ(d["texts"].size(), c.texts.size()) << d.dump();
    EXPECT_EQ(d["texts"][0].get<std::string>().rfind(c.texts[0], 0), 0u) << d.dump();
    EXPECT_NE(d["texts"][0], "") << d.dump();
    for (size_t i = 1; i < c.texts.size(); ++i) EXPECT_EQ(d["texts"][i], c.texts[i]);
    // The box waits for the user.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(p.Running());
    ASSERT_EQ(p.Request({{"command", "key"}, {"key", c.closeKey}})["ok"], true);
    EXPECT_EQ(Ended(p), 1);
    const std::string log = p.Log();
    EXPECT_NE(log.find("lumviewer: "), std::string::npos) << log;
    EXPECT_NE(log.find(c.texts[0]), std::string::npos) << log;
    // Nothing but the box was ever on the screen.
    EXPECT_EQ(log.find("window shown"), std::string::npos) << log;
  }
}

TEST(LumviewerStartup, AWrongPasswordIsToldAndACancelEndsQuietly) {
  TTempDir dir;
  const std::string show =
      test::PackedShow(dir, "guarded.lumshow", 2, "opt_usepass=1\nopt_pass=Open Sesame\n");
  TPlayer wrong(dir.Path(), show);
  START(wrong);
  Dialog(wrong);
  ASSERT_EQ(wrong.Request({{"command", "type"}, {"text", "open sesame"}})["ok"], true);
  ASSERT_EQ(wrong.Request({{"command", "key"}, {"key", "Return"}})["ok"], true);
  const json d = WaitFor(wrong, [](const json& s) {
    return !s["dialog"].is_null() && s["dialog"]["caption"] == "Slideshow Error";
  })["dialog"];
  EXPECT_EQ(d["texts"], json::array({"Wrong password:", "\"" + show + "\"", "OK"}));
  ASSERT_EQ(wrong.Request({{"command", "key"}, {"key", "Return"}})["ok"], true);
  EXPECT_EQ(Ended(wrong), 1);

  // Cancelling is the user's own answer: no box follows it.
  TPlayer cancel(dir.Path(), show);
  START(cancel);
  Dialog(cancel);
  ASSERT_EQ(cancel.Request({{"command", "key"}, {"key", "Escape"}})["ok"], true);
  EXPECT_EQ(Ended(cancel), 1);
  EXPECT_NE(cancel.Log().find("password was not given"), std::string::npos) << cancel.LogTail();
}

TEST(LumviewerStartup, WithoutADisplayStderrSaysWhatIsWrongWithTheShow) {
  TTempDir dir;
  const std::string missing = dir / "missing.lumshow";
  const test::TCommandResult r =
      test::RunCommand({"/usr/bin/env", "SDL_VIDEODRIVER=no-such-driver", "/usr/bin/timeout", "20",
                        LUMVIEWER_PATH, missing});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("lumviewer: no display to play on"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("lumviewer: " + missing + ": Slideshow File not Found"), std::string::npos)
      << r.err;
}

TEST(LumviewerStartup, ASlideWinsOverATime) {
  TTempDir dir;
  const std::string show = test::PackedShow(dir, "a.lumshow", 4);
  struct TStart {
    std::vector<std::string> args;
    int slide;  // where it starts: one second from slide * 1000
  };
  // A slide that is not a number still leaves the time unused.
  for (const TStart& t : std::vector<TStart>{{{"-time", "2500", "-slide", "4"}, 3},
                                             {{"-slide", "2", "-time", "3500"}, 1},
                                             {{"-time", "3500", "-slide", "x"}, 0},
                                             {{"-time", "2500"}, 2}}) {
    SCOPED_TRACE(t.args[0] + " " + t.args[1] + " " + t.args[2 % t.args.size()]);
    TPlayer p(dir.Path(), show, t.args);
    START(p);
    ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
    const json s = WaitFor(p, [](const json& s) { return s["framesDrawn"] > 0; });
    EXPECT_GE(s["position"].get<double>(), 1000 * t.slide) << s.dump();
    EXPECT_LT(s["position"].get<double>(), 1000 * t.slide + 1000) << s.dump();
  }
}

}  // namespace
}  // namespace lum
