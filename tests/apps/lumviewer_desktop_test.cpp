// The player in a real desktop session, X11 or Wayland (run under a virtual
// X server and under a headless compositor): the display kept awake only
// while a show plays, and system dialogs at the desktop's scale.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

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
using Clock = std::chrono::steady_clock;

constexpr int kPatienceMs = 20000;

std::string Driver() {
  const char* d = std::getenv("SDL_VIDEODRIVER");
  return d ? d : "";
}

// The desktop's screen saver as a stand-in on the test's bus: it answers
// Inhibit and UnInhibit and counts the inhibits held.
class TFakeScreenSaver {
 public:
  explicit TFakeScreenSaver(const std::string& address) {
    int r = sd_bus_new(&bus_);
    if (r >= 0) r = sd_bus_set_address(bus_, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus_, 1);
    if (r >= 0) r = sd_bus_start(bus_);
    if (r >= 0)
      r = sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/ScreenSaver",
                                   "org.freedesktop.ScreenSaver", kVtable, this);
    if (r >= 0) r = sd_bus_request_name(bus_, "org.freedesktop.ScreenSaver", 0);
    ok_ = r >= 0;
    if (ok_) thread_ = std::jthread([this](std::stop_token stop) { Loop(stop); });
  }
  ~TFakeScreenSaver() {
    thread_ = {};
    sd_bus_flush_close_unref(bus_);
  }
  bool Ok() const { return ok_; }
  int Held() {
    std::lock_guard g(lock_);
    return held_;
  }
  std::vector<std::string> Calls() {
    std::lock_guard g(lock_);
    return calls_;
  }
  // Waits until the inhibits held are n.
  bool WaitHeld(int n) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (Clock::now() < deadline) {
      if (Held() == n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  void Loop(std::stop_token stop) {
    while (!stop.stop_requested()) {
      while (sd_bus_process(bus_, nullptr) > 0) {
      }
      sd_bus_wait(bus_, 20000);
    }
  }
  static int Inhibit(sd_bus_message* m, void* u, sd_bus_error*) {
    const char *app = nullptr, *reason = nullptr;
    if (sd_bus_message_read(m, "ss", &app, &reason) < 0) return -EINVAL;
    auto* self = static_cast<TFakeScreenSaver*>(u);
    std::lock_guard g(self->lock_);
    ++self->held_;
    self->calls_.push_back(std::string("Inhibit ") + app + " / " + reason);
    return sd_bus_reply_method_return(m, "u", uint32_t(++self->cookie_));
  }
  static int UnInhibit(sd_bus_message* m, void* u, sd_bus_error*) {
    uint32_t cookie = 0;
    if (sd_bus_message_read(m, "u", &cookie) < 0) return -EINVAL;
    auto* self = static_cast<TFakeScreenSaver*>(u);
    std::lock_guard g(self->lock_);
    --self->held_;
    self->calls_.push_back("UnInhibit");
    return sd_bus_reply_method_return(m, "");
  }
  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Inhibit", "ss", "u", Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("UnInhibit", "u", "", UnInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END};

  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::mutex lock_;
  int held_ = 0;
  uint32_t cookie_ = 0;
  std::vector<std::string> calls_;
  std::jthread thread_;
};

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Driver() == "x11" || Driver() == "wayland")
        << "these tests run in a desktop session: under xvfb-run or weston";
  }
  test::TTempDir dir_;
};

TEST_F(Desktop, TheDisplayStaysAwakeOnlyWhileAShowPlays) {
  test::TSessionBus bus;
  ASSERT_FALSE(bus.Address().empty()) << bus.Error();
  TFakeScreenSaver saver(bus.Address());
  ASSERT_TRUE(saver.Ok());
  const std::vector<std::string> env = {"DBUS_SESSION_BUS_ADDRESS=" + bus.Address()};
  TPlayer player(dir_.Path(), test::PackedShow(dir_, "loop.lumshow", 3), {}, env);
  START(player);
  ASSERT_TRUE(saver.WaitHeld(1)) << player.LogTail();
  EXPECT_EQ(saver.Calls().front(), "Inhibit Lum show player / Playing a slide show");
  player.Request({{"command", "pause"}});
  EXPECT_TRUE(saver.WaitHeld(0)) << "released on pause";
  player.Request({{"command", "play"}});
  EXPECT_TRUE(saver.WaitHeld(1)) << "held again on play";
  EXPECT_EQ(player.Stop(), 0);
  EXPECT_TRUE(saver.WaitHeld(0)) << "released when the player ends";

  // A show that stops at its end lets the display sleep there.
  TPlayer once(dir_.Path(), test::PackedShow(dir_, "once.lumshow", 2, "opt_repeat=stop\n"), {},
               env);
  START(once);
  ASSERT_TRUE(saver.WaitHeld(1)) << once.LogTail();
  bool ended = false;
  once.WaitFor([](const json& s) { return s["ended"].get<bool>(); }, kPatienceMs, &ended);
  EXPECT_TRUE(ended);
  EXPECT_TRUE(saver.WaitHeld(0)) << "released at the end";
  EXPECT_EQ(once.Status()["ended"], true);
}

TEST_F(Desktop, SystemDialogsFollowTheDesktopScale) {
  // Under X11 the desktop's scale travels as Xft.dpi; a Wayland compositor
  // scales the dialog's window itself.
  int expected = 96;
  if (Driver() == "x11") {
    const std::string xrdb = test::FindProgram("xrdb");
    ASSERT_FALSE(xrdb.empty()) << "xrdb is missing: run scripts/install-deps";
    ASSERT_EQ(test::RunCommand({xrdb, "-merge"}, "Xft.dpi: 144\n").status, 0);
    expected = 144;
  }
  TPlayer player(dir_.Path(),
                 test::PackedShow(dir_, "locked.lumshow", 2, "opt_usepass=1\nopt_pass=x\n"));
  START(player);
  bool met = false;
  const json s = player.WaitFor([](const json& s) { return !s["dialog"].is_null(); }, kPatienceMs,
                                &met);
  ASSERT_TRUE(met) << s.dump();
  EXPECT_EQ(s["dialog"]["dpi"], expected) << s["dialog"].dump();
  if (Driver() == "x11") test::RunCommand({test::FindProgram("xrdb"), "-merge"}, "Xft.dpi: 96\n");
}

}  // namespace
}  // namespace lum
