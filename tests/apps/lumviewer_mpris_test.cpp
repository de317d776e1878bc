// The player's media controls as desktops use them: playerctl and dbus-send
// against a private session bus, the player's own state read back through
// its control socket.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/environment.h"
#include "support/player_run.h"
#include "support/run_command.h"
#include "support/session_bus.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPlayer;

constexpr int kPatienceMs = 20000;
constexpr const char* kPlayerPath = "/org/mpris/MediaPlayer2";

// Four named four-second slides of flat colours; mainExtra goes into [Main].
std::string Show(const test::TTempDir& dir, const std::string& mainExtra = "") {
  std::string s =
      "[Main]\nLumVersion=5.6\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\n"
      "opt_scr_height=240\nopt_withoutborder=1\nopt_repeat=repeat\nopt_scr_caption=Holiday\n" +
      mainExtra + "[Times]\nopt_slidescount=4\n";
  for (int i = 1; i <= 4; ++i)
    s += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(4000 * i) + "\n";
  const char* names[] = {"Alpha", "Beta", "Gamma", "Delta"};
  const char* colours[] = {"255", "65280", "16711680", "65535"};  // red, green, blue, yellow
  for (int i = 0; i < 4; ++i)
    s += "[Slide" + std::to_string(i + 1) + "]\nslideid=" + names[i] +
         "\nbstyle=1\nbcolor=" + colours[i] + "\nobject Container:Root\nend\n";
  const std::string project = dir.Write("src/Project.lum", s);
  const test::TCommandResult r = test::Lumshow({"pack", project, "-o", dir / "holiday.lumshow"});
  EXPECT_EQ(r.status, 0) << r.err;
  return dir / "holiday.lumshow";
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

class MediaControls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(playerctl_.empty()) << "playerctl is missing: run scripts/install-deps";
    ASSERT_FALSE(dbusSend_.empty()) << "dbus-send is missing: run scripts/install-deps";
    ASSERT_FALSE(bus_.Address().empty()) << bus_.Error();
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_.Address().c_str(), 1);
    runtime_ = dir_ / "run";
    mkdir(runtime_.c_str(), 0700);
  }

  // Starts the player on show and waits until playerctl finds it.
  void Start(TPlayer& player) {
    START(player);
    name_ = "lumviewer.instance" + std::to_string(player.Pid());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (test::RunCommand({playerctl_, "-l"}).out.find(name_) != std::string::npos) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << name_ << " never came on the bus:\n" << player.LogTail();
  }
  TPlayer Player(const std::string& show) {
    return TPlayer(dir_.Path(), show, {}, {"XDG_RUNTIME_DIR=" + runtime_});
  }

  std::string Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {playerctl_, "-p", name_});
    const test::TCommandResult r = test::RunCommand(args);
    EXPECT_EQ(r.status, 0) << args[3] << ": " << r.err;
    return Trimmed(r.out);
  }
  // What playerctl reads once it says want (the player publishes its state
  // about every 100 ms), or what it last read after the patience ran out.
  std::string Read(std::vector<std::string> args,
                   const std::function<bool(const std::string&)>& done) {
    args.insert(args.begin(), {playerctl_, "-p", name_});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    std::string got;
    while (!done(got = Trimmed(test::RunCommand(args).out)) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return got;
  }
  std::string Read(const std::vector<std::string>& args, const std::string& want) {
    return Read(args, [&](const std::string& got) { return got == want; });
  }
  std::string Meta(const std::string& key, const std::string& want) {
    return Read({"metadata", key}, want);
  }

  // A raw call, for the values playerctl never sends.
  test::TCommandResult Send(const std::string& member, std::vector<std::string> args) {
    std::vector<std::string> argv = {dbusSend_,       "--session",
                                     "--print-reply", "--dest=org.mpris.MediaPlayer2." + name_,
                                     kPlayerPath,     member};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunCommand(argv);
  }

  json WaitFor(TPlayer& p, const std::function<bool(const json&)>& done, const std::string& what) {
    return p.Expect(done, what, kPatienceMs);
  }

  test::TTempDir dir_;
  test::TEnvironmentOverride env_{{"DBUS_SESSION_BUS_ADDRESS"}};
  test::TSessionBus bus_;
  std::string playerctl_ = test::FindProgram("playerctl");
  std::string dbusSend_ = test::FindProgram("dbus-send");
  std::string runtime_, name_;
};

TEST_F(MediaControls, PlayerctlSteersThePlayerAndReadsItsState) {
  TPlayer player = Player(Show(dir_));
  Start(player);
  WaitFor(
      player, [](const json& s) { return !s["paused"].get<bool>(); }, "playing");
  EXPECT_EQ(Read({"status"}, "Playing"), "Playing");

  Ctl({"play-pause"});
  WaitFor(
      player, [](const json& s) { return s["paused"].get<bool>(); }, "paused by play-pause");
  EXPECT_EQ(Read({"status"}, "Paused"), "Paused");

  // playerctl quotes object paths.
  EXPECT_EQ(Meta("mpris:trackid", "'/org/lumviewer/Show1/Slide0'"),
            "'/org/lumviewer/Show1/Slide0'");
  EXPECT_EQ(Meta("xesam:title", "Holiday \u2013 Alpha"), "Holiday \u2013 Alpha");
  EXPECT_EQ(Meta("mpris:length", "16000000"), "16000000");

  Ctl({"next"});
  WaitFor(
      player, [](const json& s) { return s["slide"] == 1; }, "on the second slide");
  EXPECT_EQ(Meta("xesam:title", "Holiday \u2013 Beta"), "Holiday \u2013 Beta");
  EXPECT_EQ(Meta("mpris:trackid", "'/org/lumviewer/Show1/Slide1'"),
            "'/org/lumviewer/Show1/Slide1'");

  // Absolute positions go through SetPosition with the slide's track id.
  Ctl({"position", "9.5"});
  json s = WaitFor(
      player, [](const json& s) { return s["slide"] == 2; }, "sought to 9.5 s");
  EXPECT_NEAR(s["position"].get<double>(), 9500, 50);
  const auto near = [](double want, double tolerance) {
    return [=](const std::string& got) {
      return std::abs(std::strtod(got.c_str(), nullptr) - want) < tolerance;
    };
  };
  EXPECT_NEAR(std::strtod(Read({"position"}, near(9.5, 0.2)).c_str(), nullptr), 9.5, 0.2);

  Ctl({"volume", "0.25"});
  WaitFor(
      player, [](const json& s) { return std::abs(s["volume"].get<double>() - 0.25) < 1e-6; },
      "volume set");
  EXPECT_NEAR(std::strtod(Read({"volume"}, near(0.25, 1e-6)).c_str(), nullptr), 0.25, 1e-6);

  // The slide's picture, once made, shows the slide (blue) and lies in
  // the runtime folder until the player ends.
  std::string art;
  for (int i = 0;
       i < 100 &&
       (art = Trimmed(test::RunCommand({playerctl_, "-p", name_, "metadata", "mpris:artUrl"}).out))
           .empty();
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(art.rfind("file://" + runtime_ + "/", 0), 0u) << art;
  const std::string file = art.substr(7);
  const test::TPixels pic = test::ReadPicture(file);
  ASSERT_GT(pic.width, 0);
  const test::TRgb mid = pic.At(pic.width / 2, pic.height / 2);
  EXPECT_TRUE(mid.r < 30 && mid.g < 30 && mid.b > 220)
      << int(mid.r) << "," << int(mid.g) << "," << int(mid.b);
  // Quit over the bus ends the player normally.
  EXPECT_EQ(Send("org.mpris.MediaPlayer2.Quit", {}).status, 0);
  for (int i = 0; i < 400 && player.Running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_FALSE(player.Running());
  EXPECT_EQ(player.Stop(), 0);
  struct stat st;
  EXPECT_NE(stat(file.c_str(), &st), 0) << "the slide picture outlived the player";
}

TEST_F(MediaControls, SignalsAnnounceEveryChange) {
  TPlayer player = Player(Show(dir_));
  Start(player);
  test::TLineReader status({playerctl_, "-p", name_, "--follow", "status"});
  test::TLineReader title({playerctl_, "-p", name_, "--follow", "metadata", "xesam:title"});
  const auto is = [](const char* want) {
    return [want](const std::string& line) { return line == want; };
  };
  EXPECT_TRUE(status.WaitFor(is("Playing"), kPatienceMs));
  player.Request({{"command", "pause"}});
  EXPECT_TRUE(status.WaitFor(is("Paused"), kPatienceMs));
  player.Request({{"command", "play"}});
  EXPECT_TRUE(
      status.WaitFor([&](const std::string&) { return status.Lines().size() >= 3; }, kPatienceMs));
  player.Request({{"command", "key"}, {"key", "Right"}});
  EXPECT_TRUE(title.WaitFor(is("Holiday \u2013 Beta"), kPatienceMs));
  EXPECT_EQ(status.Lines(), (std::vector<std::string>{"Playing", "Paused", "Playing"}));
}

// Values no client should send are clamped or ignored as the interface
// says; the player stays steerable.
TEST_F(MediaControls, OutOfRangeValuesAreClampedOrIgnored) {
  TPlayer player = Player(Show(dir_));
  Start(player);
  player.Request({{"command", "pause"}});
  player.Request({{"command", "seek"}, {"position", 5000}});
  WaitFor(
      player, [](const json& s) { return s["paused"] && s["slide"] == 1; }, "at 5 s");
  const std::string track = "objpath:/org/lumviewer/Show1/Slide1";
  struct TCase {
    const char* what;
    std::string member;
    std::vector<std::string> args;
    double position;  // where the player then stands, ms
  } cases[] = {
      {"a stale track id",
       "org.mpris.MediaPlayer2.Player.SetPosition",
       {"objpath:/org/lumviewer/Show1/Slide3", "int64:1000000"},
       5000},
      {"a negative position",
       "org.mpris.MediaPlayer2.Player.SetPosition",
       {track, "int64:-1000000"},
       5000},
      {"a position past the end",
       "org.mpris.MediaPlayer2.Player.SetPosition",
       {track, "int64:16000001"},
       5000},
      {"a seek before the start",
       "org.mpris.MediaPlayer2.Player.Seek",
       {"int64:-9223372036854775807"},
       0},
  };
  for (const TCase& c : cases) {
    const test::TCommandResult r = Send(c.member, c.args);
    EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
    json s = WaitFor(
        player, [&](const json& s) { return s["position"] == c.position; }, c.what);
  }
  // Past the end acts as Next: the second slide from the first.
  Send("org.mpris.MediaPlayer2.Player.Seek", {"int64:9223372036854775807"});
  WaitFor(
      player, [](const json& s) { return s["slide"] == 1; }, "next after a seek past the end");

  const auto setVolume = [&](const std::string& v) {
    return test::RunCommand(
        {dbusSend_, "--session", "--print-reply", "--dest=org.mpris.MediaPlayer2." + name_,
         kPlayerPath, "org.freedesktop.DBus.Properties.Set", "string:org.mpris.MediaPlayer2.Player",
         "string:Volume", "variant:double:" + v});
  };
  for (auto [sent, kept] : {std::pair{"1e9", 1.0}, {"-3", 0.0}, {"0.5", 0.5}}) {
    EXPECT_EQ(setVolume(sent).status, 0) << sent;
    WaitFor(
        player, [kept = kept](const json& s) { return s["volume"] == kept; },
        std::string("volume ") + sent);
  }
  EXPECT_EQ(Read({"status"}, "Paused"), "Paused");
  EXPECT_TRUE(player.Running());
}

TEST_F(MediaControls, AShowThatForbidsControlIsNotSteered) {
  TPlayer player = Player(Show(dir_, "opt_synchpermitcontrol=0\n"));
  Start(player);
  const std::string can = Send("org.freedesktop.DBus.Properties.Get",
                               {"string:org.mpris.MediaPlayer2.Player", "string:CanControl"})
                              .out;
  EXPECT_NE(can.find("boolean false"), std::string::npos) << can;
  for (const char* call : {"Pause", "Next", "Stop"})
    EXPECT_EQ(Send(std::string("org.mpris.MediaPlayer2.Player.") + call, {}).status, 0) << call;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const json s = player.Status();
  EXPECT_FALSE(s["paused"].get<bool>());
  EXPECT_EQ(s["slide"], 0);
}

TEST_F(MediaControls, ThePlayerPlaysOnWithoutABus) {
  TPlayer player = Player(Show(dir_));
  Start(player);
  bus_.Kill();
  json s = WaitFor(
      player, [](const json& s) { return s["slide"] == 1; }, "playing on");
  EXPECT_NE(player.Log().find("MPRIS: the session bus went away"), std::string::npos)
      << player.LogTail();
  EXPECT_EQ(player.Stop(), 0);

  // No bus from the start: nothing to offer, nothing to complain about.
  TPlayer lonely(
      dir_.Path(), Show(dir_), {},
      {"XDG_RUNTIME_DIR=" + runtime_, "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir_ / "no-bus")});
  START(lonely);
  WaitFor(
      lonely, [](const json& s) { return s["framesDrawn"] > 0; }, "drawing");
  EXPECT_NE(lonely.Log().find("media controls off"), std::string::npos) << lonely.LogTail();
  EXPECT_EQ(lonely.Stop(), 0);
}

}  // namespace
}  // namespace lum
