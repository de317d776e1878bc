#pragma once
// The output player: the sound device, the channels made on it, the master
// volume and the audio clock. Made through CreateOutputPlayer, which gives
// nothing when there is no output and none can appear; the music player then
// runs silent on the millisecond counter.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/decoders/stream_opener.h"
#include "audio/output/music_channel.h"
#include "audio/output/timer_channel.h"
#include "audio/output/wave_out_device.h"

namespace lum {

// What the process's sound output is doing: no output player, all of them
// playing, or one of them lost its device.
enum class TSoundDeviceState { None, Open, Lost };
TSoundDeviceState SoundDeviceState();
const char* SoundDeviceStateName(TSoundDeviceState state);

class TMusicPlayerClass {
 public:
  explicit TMusicPlayerClass(std::vector<std::unique_ptr<TSoundBackend>> backends = SoundBackends(),
                             TwinTimerChannel::TNow now = nullptr);
  ~TMusicPlayerClass();
  TMusicPlayerClass(const TMusicPlayerClass&) = delete;
  TMusicPlayerClass& operator=(const TMusicPlayerClass&) = delete;

  // True when the device produces output, or may once it appears: the player
  // then starts as if the device were lost, on the millisecond counter.
  bool Initialise();
  // A channel for a file or composition, sought to startMs unless it is -1;
  // nothing when the source cannot be opened.
  TRef<TChannelMusic> CreateChannel(const std::string& name, double startMs);
  // Fades the channel out and frees it (waits for its instances).
  void DestroyChannel(const TRef<TChannelMusic>& channel);
  size_t ChannelCount();

  // The audio clock in ms; the clock channel is made and started on first use.
  // While the device is lost it runs on the millisecond counter from where
  // it stood, and it takes up the new device's clock without a jump.
  double Clock();

  enum class TDeviceChange { None, Lost, Back };
  // Looks at the device at most every 100 ms: a device gone (removed, or no
  // longer pulling sound) is let go and tried again every second; one absent
  // from the start is looked for every five seconds. Returns
  // what changed; the caller re-times its channels when the device is back.
  TDeviceChange Watch();
  bool DeviceLost() const;
  // Makes the clock channel once, without starting it (the factory's check).
  TwinTimerChannel& TimerChannel();
  void FreeTimerChannel();

  float MasterVolume() const { return master_; }
  void SetMasterVolume(float volume);
  // Every stream of the channels is opened and released through these.
  void SetStreamFunctions(TStreamOpenFunc open, TStreamCloseFunc close);

  TwinWaveOutDevice& Device() { return *device_; }

 private:
  int64_t Now() const;

  std::vector<std::unique_ptr<TSoundBackend>> backends_;
  TwinTimerChannel::TNow now_;
  std::unique_ptr<TwinWaveOutDevice> device_;
  std::mutex mutex_;
  std::vector<TRef<TChannelMusic>> channels_;
  float master_ = 1.0f;
  mutable std::mutex clockMutex_;
  std::unique_ptr<TwinTimerChannel> timer_;
  // Guarded by clockMutex_: the clock is timer + shift, or while the device
  // is away (and until the new clock channel runs) fallback from the counter.
  double shift_ = 0;
  bool lost_ = false;
  bool fallback_ = false;
  double fallbackValue_ = 0;
  int64_t fallbackSince_ = 0;
  // The watch's own (one thread).
  int64_t lastWatch_ = -1000000;
  int64_t lastTry_ = 0;
  int64_t retryMs_ = 0;
  TSoundDeviceState counted_ = TSoundDeviceState::None;
};

// Makes and initialises an output player and checks that it can make its clock
// channel; any failure means no output (nothing).
std::unique_ptr<TMusicPlayerClass> CreateOutputPlayer(
    std::vector<std::unique_ptr<TSoundBackend>> backends = SoundBackends(),
    TwinTimerChannel::TNow now = nullptr);

}  // namespace lum
