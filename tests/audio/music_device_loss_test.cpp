// The music player across a lost sound device: its items hold still while
// the clock runs on, and once the device is back the music starts again
// where its clock is, free-running music included.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "audio/music_player.h"
#include "audio/synthetic_source.h"
#include "document/ini_file.h"
#include "project/lum_source.h"

namespace lum {
namespace {

using namespace std::chrono_literals;

// A player on a device that a thread of the test pulls in real time while
// the device is there.
struct TRig {
  TIniFile doc;
  std::unique_ptr<TLumSource> src;
  TManualSoundBackend* backend = nullptr;
  std::unique_ptr<TLumMusicPlayer> player;
  std::thread pump;
  std::atomic<bool> stop{false};

  // Two 10 s slides; main music of 15 s in the given mode.
  explicit TRig(bool synchronised) {
    test::RegisterSyntheticSource();
    doc.LoadText(std::string("[Main]\nopt_syncmode=") + (synchronised ? "1" : "0") +
                 "\nobject Music:Music\nobject T:TMusicTrack\nobject I:TMusicItem\n"
                 "FileName=a.wav\nDuration=15000\nend\nend\nend\n"
                 "[Times]\nopt_slidescount=2\nopt_synchpos1=10000\nopt_synchpos2=20000\n"
                 "[Slide1]\n[Slide2]\n");
    src = std::make_unique<TLumSource>(nullptr, doc, TLumSourceSettings{"a", 1});
    auto b = std::make_unique<TManualSoundBackend>();
    backend = b.get();
    std::vector<std::unique_ptr<TSoundBackend>> list;
    list.push_back(std::move(b));
    auto output = CreateOutputPlayer(std::move(list));
    EXPECT_TRUE(output);
    pump = std::thread([this] {
      while (!stop) {
        if (backend->Alive()) backend->Pump(441);
        std::this_thread::sleep_for(10ms);
      }
    });
    player = std::make_unique<TLumMusicPlayer>(src.get(), std::move(output));
    player->Start();
  }
  ~TRig() {
    stop = true;
    pump.join();
    player.reset();
  }
  template <class F>
  bool Until(F f, std::chrono::milliseconds limit = 8000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!f()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  std::optional<TChannelView> MainPlaying() {
    for (auto& v : player->Channels())
      if (!v.comment && v.playing) return v;
    return std::nullopt;
  }
  bool Lost() { return player->Output()->DeviceLost(); }
};

TEST(MusicDeviceLoss, MusicStartsAgainWhereTheClockIsOnceTheDeviceIsBack) {
  for (bool synchronised : {true, false}) {
    SCOPED_TRACE(synchronised ? "synchronised" : "free-running");
    TRig rig(synchronised);
    ASSERT_TRUE(rig.Until([&] { return rig.player->Ready(); }));
    rig.player->SetPlaying(true);
    ASSERT_TRUE(rig.Until([&] { return rig.MainPlaying().has_value(); }));
    ASSERT_TRUE(rig.Until([&] { return rig.player->Position() > 300; }));

    rig.backend->SetAlive(false);
    ASSERT_TRUE(rig.Until([&] { return rig.Lost(); }));
    const double lostAt = rig.player->Position();
    std::this_thread::sleep_for(1500ms);
    // The clock went on without the device.
    EXPECT_NEAR(rig.player->Position() - lostAt, 1500, 100);
    if (synchronised) EXPECT_FALSE(rig.MainPlaying().has_value()) << "held like a pause";

    rig.backend->SetAlive(true);
    ASSERT_TRUE(rig.Until([&] { return !rig.Lost(); }));
    // Both kinds of sequence started from 0 with the clock, so their music is where it is.
    ASSERT_TRUE(rig.Until([&] {
      auto v = rig.MainPlaying();
      return v && v->position > lostAt + 1500;
    })) << "the music is still where the device left it";
    std::this_thread::sleep_for(200ms);
    const auto v = rig.MainPlaying();
    ASSERT_TRUE(v.has_value());
    EXPECT_NEAR(v->position, rig.player->Position(), 120);
  }
}

}  // namespace
}  // namespace lum
