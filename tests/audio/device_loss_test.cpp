// The output player when its device goes away and comes back: the clock runs
// on the counter without a jump, the device is tried again every second, and
// the process's sound state says what happened.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "audio/output/music_player_class.h"
#include "audio/output/wave_out_device.h"

namespace lum {
namespace {

using namespace std::chrono_literals;
using TChange = TMusicPlayerClass::TDeviceChange;

struct TRig {
  int64_t now = 1000;
  TManualSoundBackend* backend = nullptr;
  std::unique_ptr<TMusicPlayerClass> player;

  TRig() {
    auto b = std::make_unique<TManualSoundBackend>();
    backend = b.get();
    std::vector<std::unique_ptr<TSoundBackend>> list;
    list.push_back(std::move(b));
    player = std::make_unique<TMusicPlayerClass>(std::move(list), [this] { return now; });
  }
  // ms of counter time, the card playing along when it is there.
  void Play(int ms) {
    for (int i = 0; i < ms / 10; ++i) {
      now += 10;
      if (backend->Alive()) backend->Pump(441);
    }
  }
  // Plays until the clock channel has seen its cursor move.
  bool ClockRunning() {
    for (int i = 0; i < 500 && !player->TimerChannel().Started(); ++i) {
      Play(10);
      std::this_thread::sleep_for(2ms);
    }
    return player->TimerChannel().Started();
  }
};

TEST(SoundDeviceLoss, TheClockRunsOnTheCounterAndTakesUpTheNewDeviceWithoutAJump) {
  TRig rig;
  ASSERT_TRUE(rig.player->Initialise());
  EXPECT_EQ(SoundDeviceState(), TSoundDeviceState::Open);
  rig.player->Clock();
  ASSERT_TRUE(rig.ClockRunning());
  rig.Play(500);
  EXPECT_EQ(rig.player->Watch(), TChange::None);

  rig.backend->SetAlive(false);
  rig.Play(100);
  EXPECT_EQ(rig.player->Watch(), TChange::Lost);
  EXPECT_TRUE(rig.player->DeviceLost());
  EXPECT_EQ(SoundDeviceState(), TSoundDeviceState::Lost);
  const double atLoss = rig.player->Clock();
  const int64_t lostAt = rig.now;
  // The counter alone: exactly its pace, whatever the cursor did.
  rig.Play(700);
  EXPECT_EQ(rig.player->Clock(), atLoss + 700);
  EXPECT_EQ(rig.player->Watch(), TChange::None) << "tried again before a second passed";
  rig.Play(400);
  EXPECT_EQ(rig.player->Watch(), TChange::None) << "back while still away";
  EXPECT_EQ(rig.player->Clock(), atLoss + 1100);

  rig.backend->SetAlive(true);
  rig.Play(1000);
  EXPECT_EQ(rig.player->Watch(), TChange::Back);
  EXPECT_FALSE(rig.player->DeviceLost());
  EXPECT_EQ(SoundDeviceState(), TSoundDeviceState::Open);
  EXPECT_EQ(rig.player->Clock(), atLoss + 2100) << "the counter until the new clock runs";
  ASSERT_TRUE(rig.ClockRunning());
  const double rejoined = rig.player->Clock();
  EXPECT_EQ(rejoined, atLoss + double(rig.now - lostAt));
  rig.Play(1000);
  EXPECT_NEAR(rig.player->Clock() - rejoined, 1000, 15);

  rig.player.reset();
  EXPECT_EQ(SoundDeviceState(), TSoundDeviceState::None);
}

// Pulled by hand, but counted as a card playing in real time.
class TRealTimeManualBackend : public TManualSoundBackend {
 public:
  bool RealTime() const override { return true; }
};

TEST(SoundDeviceLoss, ACardThatStopsAskingForSoundIsGoneThoughNotRemoved) {
  auto b = std::make_unique<TRealTimeManualBackend>();
  TRealTimeManualBackend* backend = b.get();
  std::vector<std::unique_ptr<TSoundBackend>> list;
  list.push_back(std::move(b));
  int64_t now = 1000;
  TMusicPlayerClass player(std::move(list), [&] { return now; });
  ASSERT_TRUE(player.Initialise());
  backend->Pump(441);
  std::this_thread::sleep_for(500ms);
  backend->Pump(441);
  now += 200;
  EXPECT_EQ(player.Watch(), TChange::None) << "pulling, if slowly";
  std::this_thread::sleep_for(2300ms);  // still there, silent
  now += 200;
  EXPECT_EQ(player.Watch(), TChange::Lost);
  EXPECT_EQ(SoundDeviceState(), TSoundDeviceState::Lost);
  now += 1100;
  EXPECT_EQ(player.Watch(), TChange::Back) << "tried again a second later";
}

TEST(SoundDevicePosition, ABufferStartedAfterThePullIsAtItsStartNotAtItsEnd) {
  auto b = std::make_unique<TRealTimeManualBackend>();
  TRealTimeManualBackend* backend = b.get();
  std::vector<std::unique_ptr<TSoundBackend>> list;
  list.push_back(std::move(b));
  TwinWaveOutDevice device(std::move(list));
  auto early = device.CreateSoundBuffer(kDeviceFormat, 176400);
  ASSERT_TRUE(early);
  early->Play(true);
  backend->Pump(4410);
  auto late = device.CreateSoundBuffer(kDeviceFormat, 176400);
  late->Play(true);
  uint32_t play = 1;
  ASSERT_EQ(late->GetCurrentPosition(&play, nullptr), TSoundResult::Ok);
  EXPECT_EQ(play, 0u) << "the last pull's lead was taken off a buffer it never mixed";
  // One mixed in that pull is somewhere inside it.
  ASSERT_EQ(early->GetCurrentPosition(&play, nullptr), TSoundResult::Ok);
  EXPECT_LE(play, 4410u * 4);
}

}  // namespace
}  // namespace lum
