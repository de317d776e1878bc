// The sound device, channels with their fades, the channel killer, the volume
// law and the audio clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "audio/output/music_player_class.h"
#include "audio/output/timer_channel.h"
#include "audio/output/wave_out_device.h"
#include "audio/sdl_audio_drivers.h"
#include "audio/synthetic_source.h"
#include "support/environment.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using namespace std::chrono_literals;

// A device whose output the test pulls by hand.
struct TManualDevice {
  TManualSoundBackend* backend = nullptr;
  std::unique_ptr<TwinWaveOutDevice> device;
  TManualDevice() {
    auto b = std::make_unique<TManualSoundBackend>();
    backend = b.get();
    std::vector<std::unique_ptr<TSoundBackend>> list;
    list.push_back(std::move(b));
    device = std::make_unique<TwinWaveOutDevice>(std::move(list));
  }
};

std::vector<std::unique_ptr<TSoundBackend>> ManualBackend(TManualSoundBackend** out) {
  auto b = std::make_unique<TManualSoundBackend>();
  *out = b.get();
  std::vector<std::unique_ptr<TSoundBackend>> list;
  list.push_back(std::move(b));
  return list;
}

template <class F>
bool WaitFor(F done, std::chrono::milliseconds limit = 5000ms) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

std::vector<int16_t> Pump(TManualSoundBackend* b, int32_t frames) {
  std::vector<int16_t> out(size_t(frames) * 2);
  b->Pump(frames, out.data());
  return out;
}

TEST(VolumeLaw, HalvingIsSixDecibelsAndSilenceIsTheFloor) {
  EXPECT_EQ(VolumeToAttenuation(0.5), -600);
  EXPECT_EQ(VolumeToAttenuation(0.25), -1200);
  EXPECT_EQ(VolumeToAttenuation(1.0), 0);
  EXPECT_EQ(VolumeToAttenuation(0.0), -10000);
  EXPECT_EQ(VolumeToAttenuation(-1.0), -10000);
  EXPECT_EQ(VolumeToAttenuation(1e-9), -10000);  // clamped, not past the floor
  EXPECT_EQ(VolumeToAttenuation(4.0), 0);        // no gain above unity
  EXPECT_DOUBLE_EQ(AttenuationToVolume(-600), 0.5);
  EXPECT_EQ(AttenuationToVolume(-10000), 0.0);
  EXPECT_DOUBLE_EQ(AttenuationToVolume(0), 1.0);
  for (double x : {0.9, 0.3, 0.07})
    EXPECT_NEAR(AttenuationToVolume(VolumeToAttenuation(x)), x, 0.01 * x);
}

TEST(SoundDevice, MixesBuffersWithVolumeLoopingAndStop) {
  TManualDevice d;
  ASSERT_TRUE(d.device->Available());
  auto a = d.device->CreateSoundBuffer(kDeviceFormat, 400);  // 100 frames
  auto b = d.device->CreateSoundBuffer(TSoundFormat{44100, 1, 8}, 50);
  ASSERT_TRUE(a && b);
  uint8_t *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(a->Lock(360, 80, &p1, &n1, &p2, &n2), TSoundResult::Ok);  // wraps
  EXPECT_EQ(n1, 40u);
  EXPECT_EQ(n2, 40u);
  EXPECT_EQ(p2, p1 - 360);
  a->Unlock();
  std::vector<int16_t> ramp(200);
  for (int i = 0; i < 200; ++i) ramp[size_t(i)] = int16_t(i * 100);
  ASSERT_EQ(a->Lock(0, 400, &p1, &n1, &p2, &n2), TSoundResult::Ok);
  std::memcpy(p1, ramp.data(), 400);
  a->Unlock();
  ASSERT_EQ(b->Lock(0, 50, &p1, &n1, &p2, &n2), TSoundResult::Ok);
  std::memset(p1, 128 + 10, 50);  // mono 8 bit: +10 << 8 on both sides
  b->Unlock();
  a->Play(true);
  b->Play(false);
  auto out = Pump(d.backend, 150);
  EXPECT_EQ(out[0], 0 + 2560);
  EXPECT_EQ(out[1], 100 + 2560);
  EXPECT_EQ(out[2 * 49], 9800 + 2560);
  EXPECT_EQ(out[2 * 50], 10000);  // the one-shot buffer has ended
  EXPECT_EQ(out[2 * 120], 4000);  // the looping one wrapped
  EXPECT_FALSE(b->Playing());
  uint32_t play = 0, write = 0;
  a->GetCurrentPosition(&play, &write);
  EXPECT_EQ(play, 200u);
  a->SetVolume(-600);
  a->SetCurrentPosition(0);
  out = Pump(d.backend, 2);
  EXPECT_EQ(out[2], 100);  // half of 200
  EXPECT_EQ(out[3], 150);
  a->Stop();
  out = Pump(d.backend, 2);
  EXPECT_EQ(out[0], 0);
}

TEST(SoundDevice, LostBuffersAreRestoredOnceTheOutputIsBack) {
  TManualDevice d;
  auto a = d.device->CreateSoundBuffer(kDeviceFormat, 400);
  a->Play(true);
  d.backend->SetAlive(false);
  EXPECT_FALSE(d.device->CheckAlive());
  EXPECT_TRUE(a->Lost());
  EXPECT_FALSE(a->Playing());
  EXPECT_EQ(a->Play(true), TSoundResult::Lost);
  EXPECT_EQ(a->Restore(), TSoundResult::Lost);
  d.backend->SetAlive(true);
  EXPECT_EQ(a->Restore(), TSoundResult::Ok);
  EXPECT_EQ(a->Play(true), TSoundResult::Ok);
}

TEST(SoundDevice, NoOutputMeansNoDeviceAndNoPlayer) {
  std::vector<std::unique_ptr<TSoundBackend>> list;
  list.push_back(CreateNullSoundBackend());
  TwinWaveOutDevice device(std::move(list));
  EXPECT_FALSE(device.Available());
  EXPECT_EQ(device.CreateSoundBuffer(kDeviceFormat, 400), nullptr);
  std::vector<std::unique_ptr<TSoundBackend>> list2;
  list2.push_back(CreateNullSoundBackend());
  EXPECT_EQ(CreateOutputPlayer(std::move(list2)), nullptr);
}

// A clock test drives time and the cursor by hand: every 10 ms of the
// counter the card plays rate × 10 ms of frames.
struct TClockRig {
  TManualDevice d;
  int64_t now = 1000;
  double owed = 0;
  std::unique_ptr<TwinTimerChannel> clock;
  TClockRig() {
    clock = std::make_unique<TwinTimerChannel>(*d.device, [this] { return now; });
    clock->Start(false);
  }
  void Step(double rate) {
    now += 10;
    owed += 441.0 * rate;
    int32_t frames = int32_t(owed);
    owed -= frames;
    d.backend->Pump(frames);
    clock->Poll();
  }
};

TEST(AudioClock, FollowsAFastCardInMillisecondStepsWithoutJumps) {
  TClockRig rig;
  EXPECT_EQ(rig.clock->Clock(), 0);
  rig.Step(1.01);
  ASSERT_TRUE(rig.clock->Started());
  double last = rig.clock->Clock();
  double largest = 0, smallest = 100;
  for (int i = 0; i < 6000; ++i) {  // one minute
    rig.Step(1.01);
    double c = rig.clock->Clock();
    largest = std::max(largest, c - last);
    smallest = std::min(smallest, c - last);
    last = c;
  }
  EXPECT_LE(largest, 11.0);
  EXPECT_GE(smallest, 9.0);
  // The card played 60.6 s in 60 s; the clock went with it.
  EXPECT_NEAR(last, 60600, 3);
  EXPECT_NEAR(last, rig.clock->CursorTime(), 3);
}

TEST(AudioClock, CursorWrapAddsExactlyTheBufferLength) {
  TClockRig rig;
  rig.Step(1.0);
  for (int i = 0; i < 190; ++i) rig.Step(1.0);  // 1.91 s: before the wrap
  EXPECT_EQ(rig.clock->WrapMs(), 0);
  double before = rig.clock->CursorTime();
  for (int i = 0; i < 20; ++i) rig.Step(1.0);  // past the end of the 2 s ring
  EXPECT_EQ(rig.clock->WrapMs(), 2000);
  EXPECT_NEAR(rig.clock->CursorTime() - before, 200, 1);
  for (int i = 0; i < 400; ++i) rig.Step(1.0);
  EXPECT_EQ(rig.clock->WrapMs(), 6000);
  EXPECT_NEAR(rig.clock->Clock(), 6100, 2);
}

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterSyntheticSource();
    player = std::make_unique<TMusicPlayerClass>(ManualBackend(&backend));
    ASSERT_TRUE(player->Initialise());
  }
  void TearDown() override { TChannelKiller::Instance().Hold(false); }

  // Pulls until the ring of the channel's current instance plays.
  void WaitHeard(TChannelMusic& c) {
    ASSERT_TRUE(WaitFor([&] { return c.CurrentHeard(); }));
  }

  TManualSoundBackend* backend = nullptr;
  std::unique_ptr<TMusicPlayerClass> player;
};

TEST_F(ChannelTest, PlaysTheSourceWithATenMillisecondFadeIn) {
  auto c = player->CreateChannel(test::SyntheticName(3000), -1);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Length(), 3000);
  EXPECT_TRUE(c->Play(10));
  EXPECT_FALSE(c->Play(10));  // already playing
  WaitHeard(*c);
  auto out = Pump(backend, 4410);
  EXPECT_EQ(out[0], 0);                                                // gain 0 at the first frame
  EXPECT_NEAR(out[2 * 220], test::SynthLeft(220) * 220.0 / 441.0, 1);  // half way through the fade
  for (int f = 441; f < 4410; f += 97) {
    ASSERT_EQ(out[size_t(2 * f)], test::SynthLeft(f)) << f;
    ASSERT_EQ(out[size_t(2 * f + 1)], test::SynthRight(f)) << f;
  }
  EXPECT_NEAR(c->Position(), 100, 1);
  player->DestroyChannel(c);
}

TEST_F(ChannelTest, StopThenPlayOverlapsTheFadesAndResumesAtTheSavedPosition) {
  auto c = player->CreateChannel(test::SyntheticName(5000), -1);
  ASSERT_TRUE(c);
  c->Play(10);
  WaitHeard(*c);
  Pump(backend, 4410);
  TChannelKiller::Instance().Hold(true);
  const size_t pending = TChannelKiller::Instance().Pending();
  EXPECT_TRUE(c->Stop(10));
  EXPECT_FALSE(c->IsPlaying());
  EXPECT_TRUE(c->Play(10));
  EXPECT_EQ(c->InstanceCount(), 2u);  // the old one still fading out
  WaitHeard(*c);
  // Let the old instance's refill rewrite its queued sound before pulling.
  ASSERT_TRUE(WaitFor([&] { return TChannelKiller::Instance().Pending() > pending; }));
  auto out = Pump(backend, 4410);
  // After the old instance's lead and fade (35 ms) only the new one sounds,
  // continuing from 100 ms.
  for (int f = 1764; f < 4410; f += 89)
    ASSERT_EQ(out[size_t(2 * f)], test::SynthLeft(4410 + f)) << f;
  TChannelKiller::Instance().Hold(false);
  ASSERT_TRUE(WaitFor([&] { return c->InstanceCount() == 1; }));
  EXPECT_TRUE(c->IsPlaying());
  player->DestroyChannel(c);
  EXPECT_EQ(c->InstanceCount(), 0u);
}

TEST_F(ChannelTest, DestroyWhilePlayingFadesOutOverTenMilliseconds) {
  auto c = player->CreateChannel(test::SyntheticName(5000), -1);
  ASSERT_TRUE(c);
  c->Play(10);
  WaitHeard(*c);
  Pump(backend, 4410);
  TChannelKiller::Instance().Hold(true);
  const size_t pending = TChannelKiller::Instance().Pending();
  auto done = std::async(std::launch::async, [&] { player->DestroyChannel(c); });
  ASSERT_TRUE(WaitFor([&] { return TChannelKiller::Instance().Pending() > pending; }));
  auto out = Pump(backend, 4410);
  const int lead = 1102;  // 25 ms of sound already queued play unchanged
  for (int f = 0; f < lead; f += 37) ASSERT_EQ(out[size_t(2 * f)], test::SynthLeft(4410 + f));
  for (int k = 0; k < 441; k += 21) {
    double gain = 1.0 - double(k) / 441.0;
    ASSERT_NEAR(out[size_t(2 * (lead + k))], gain * test::SynthLeft(4410 + lead + k), 2) << k;
  }
  for (int f = lead + 442; f < 4410; f += 13) ASSERT_EQ(out[size_t(2 * f)], 0) << f;
  EXPECT_EQ(done.wait_for(0ms), std::future_status::timeout);  // waits for the killer
  TChannelKiller::Instance().Hold(false);
  done.get();
  EXPECT_EQ(c->InstanceCount(), 0u);
}

TEST_F(ChannelTest, VolumeAndMasterVolumeMultiply) {
  auto c = player->CreateChannel(test::SyntheticName(1000), 250);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Position(), 250);
  c->SetVolume(0.5f);
  player->SetMasterVolume(0.5f);
  EXPECT_EQ(c->Attenuation(), -1200);
  EXPECT_EQ(player->CreateChannel("no such file.wav", -1), nullptr);
  player->DestroyChannel(c);
}

TEST_F(ChannelTest, ASourceThatEndsReleasesItsInstance) {
  auto c = player->CreateChannel(test::SyntheticName(200), -1);
  ASSERT_TRUE(c);
  c->Play(10);
  WaitHeard(*c);
  for (int i = 0; i < 10; ++i) Pump(backend, 4410);
  ASSERT_TRUE(WaitFor([&] { return c->InstanceCount() == 0; }));
  EXPECT_FALSE(c->IsPlaying());
  player->DestroyChannel(c);
}

// The sox program (install-deps installs it).
std::string Sox() {
  const std::string sox = test::FindProgram("sox");
  EXPECT_FALSE(sox.empty()) << "sox is not installed";
  return sox;
}

// sox's RMS level in dB of 44100 Hz stereo samples, after its effects.
double SoxRmsDb(const std::vector<int16_t>& samples, std::vector<std::string> effects) {
  test::TTempDir dir;
  const std::string raw = dir / "out.raw";
  {
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size() * 2));
  }
  std::vector<std::string> argv = {Sox(), "-t", "raw", "-r", "44100", "-e", "signed",
                                   "-b",  "16", "-c",  "2",  raw,     "-n"};
  argv.insert(argv.end(), effects.begin(), effects.end());
  argv.push_back("stats");
  const test::TCommandResult r = test::RunCommand(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  const size_t at = r.err.find("RMS lev dB");
  return at == std::string::npos ? 0 : std::atof(r.err.c_str() + at + 10);
}

TEST_F(ChannelTest, SoundsAtOtherRatesAreResampledAsMusicIs) {
  // A 1 kHz tone at 22050 Hz: stepping to the nearest sample mirrors it
  // round 21 kHz about 23 dB down; resampled, all but the tone stays below
  // -60 dB (sox's band-reject filter around 1 kHz measures the rest).
  test::TTempDir dir;
  const std::string wav = dir / "tone.wav";
  const test::TCommandResult made =
      test::RunCommand({Sox(), "-n", "-r", "22050", "-c", "1", "-b", "16", wav, "synth", "3",
                        "sine", "1000", "vol", "0.5"});
  ASSERT_EQ(made.status, 0) << made.err;
  auto c = player->CreateChannel(wav, -1);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Length(), 3000);
  c->Play(10);
  WaitHeard(*c);
  const std::vector<int16_t> out = Pump(backend, 44100);
  const double tone = SoxRmsDb(out, {"trim", "0.2", "0.6"});
  const double rest =
      SoxRmsDb(out, {"sinc", "-a", "120", "-t", "100", "1200-800", "trim", "0.2", "0.6"});
  EXPECT_NEAR(tone, -9.03, 0.1);  // half scale, as made
  EXPECT_LT(rest - tone, -60);
  player->DestroyChannel(c);
}

// The real-time path: SDL's disk driver writes what the device plays.
TEST(RealTimeOutput, DiskDriverReceivesTheSourceUnchanged) {
  if (!test::SdlHasAudioDriver("disk")) GTEST_SKIP() << "SDL has no disk audio driver here";
  test::TTempDir dir;
  std::string file = dir / "out.raw";
  struct TDummyAgain {
    ~TDummyAgain() { setenv("SDL_AUDIODRIVER", "dummy", 1); }
  } dummyAgain;
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  test::RegisterSyntheticSource();
  {
    std::vector<std::unique_ptr<TSoundBackend>> list;
    list.push_back(CreateSdlSoundBackend());
    auto player = CreateOutputPlayer(std::move(list));
    ASSERT_TRUE(player) << "the disk audio driver did not open";
    auto c = player->CreateChannel(test::SyntheticName(600), -1);
    ASSERT_TRUE(c);
    c->Play(10);
    ASSERT_TRUE(WaitFor([&] { return c->InstanceCount() == 0; }, 10000ms));
    player->DestroyChannel(c);
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::string raw = test::ReadFile(file);
  std::vector<int16_t> s(raw.size() / 2);
  std::memcpy(s.data(), raw.data(), s.size() * 2);
  // Find the start: the first frame after the fade-in equals the source.
  size_t first = 0;
  while (first < s.size() && s[first] == 0) ++first;
  ASSERT_LT(first + 2 * 26460, s.size());
  size_t f0 = first / 2;  // the fade's first audible frame is frame 1 of the source
  ASSERT_GE(f0, 1u);
  f0 -= 1;
  for (int64_t f = 441; f < 26000; f += 7) {
    ASSERT_EQ(s[2 * (f0 + size_t(f))], test::SynthLeft(f)) << f;
    ASSERT_EQ(s[2 * (f0 + size_t(f)) + 1], test::SynthRight(f)) << f;
  }
  // And silence after the source's end.
  for (size_t f = f0 + 26460 + 10; f < f0 + 26460 + 400 && 2 * f < s.size(); ++f)
    ASSERT_EQ(s[2 * f], 0);
}

}  // namespace
}  // namespace lum
