#pragma once
// Output channels. A channel (TChannelMusic) plays one file or composition;
// each play is a streaming instance (TMusicChannel) on its own ring, so that
// an instance fading out may overlap the next one fading in. Instances that
// have ended are freed by the process's channel killer once their last
// sound has been heard.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/decoders/media_info.h"
#include "audio/decoders/wav_converter.h"
#include "audio/output/wave_out_buffer.h"
#include "foundation/ref_object.h"
#include "foundation/thread_event_list.h"

namespace lum {

class TChannelMusic;

// Linear gain to attenuation in hundredths of a decibel (-6 dB per halving),
// -10000 .. 0, and back.
int32_t VolumeToAttenuation(double gain);
double AttenuationToVolume(int32_t attenuation);

enum class TInstanceState : int32_t { Prepared = 0, Playing = 1, Stopping = 2 };

// One streaming play of a channel's source.
class TMusicChannel : public TRefObject, public TBufferClient {
 public:
  // Nothing when the stream, decoder or ring cannot be made.
  static TRef<TMusicChannel> Create(TChannelMusic& owner, TwinWaveOutDevice& device);

  // Prepared state only: positions the decoder and decodes the first block.
  void Seek(double ms);
  void Play(int32_t fadeMs);
  void Stop(int32_t fadeMs);
  double Position();
  TInstanceState State() const { return state_.load(); }
  bool Released() const { return released_.load(); }
  bool EndedByItself() const { return endedByItself_; }
  void SetAttenuation(int32_t attenuation);
  int32_t Attenuation() { return buffer_->Ring().Volume(); }
  bool Heard() { return buffer_->Ring().Playing(); }
  // Sound still queued in the ring, in ms.
  int64_t QueuedMs();

  void FirstFill(TwinWaveOutBuffer& buffer) override;
  void Refill(TwinWaveOutBuffer& buffer) override;

  // The killer's work: stop the ring, free decoder and stream.
  void Free();
  TChannelMusic& Owner() const { return owner_; }

 protected:
  ~TMusicChannel() override;

 private:
  TMusicChannel(TChannelMusic& owner) : owner_(owner) {}
  // Applies the running fade to whole frames; false once a fade-out reached 0.
  bool ApplyGain(uint8_t* data, uint32_t bytes);
  void ScheduleRelease(int64_t queuedBytes);
  void WriteSilence(TwinWaveOutBuffer& buffer, uint32_t bytes);

  TChannelMusic& owner_;
  std::unique_ptr<TStream> stream_;
  std::unique_ptr<TWavConverter> decoder_;
  std::unique_ptr<TwinWaveOutBuffer> buffer_;
  TSoundFormat format_;
  std::vector<uint8_t> first_;
  bool predecoded_ = false;
  std::atomic<TInstanceState> state_{TInstanceState::Prepared};
  double gain_ = 1.0;
  double step_ = 0;
  bool fadeIn_ = false;
  bool fadeOut_ = false;
  bool stopRequest_ = false;
  bool silent_ = false;  // everything from here on is silence
  double startOffset_ = 0;
  bool endOfData_ = false;
  bool endedByItself_ = false;
  std::atomic<bool> released_{false};
  std::atomic<bool> freed_{false};
};

// Frees instances once their queued sound has played: one thread for the process.
class TChannelKiller {
 public:
  static TChannelKiller& Instance();
  ~TChannelKiller();
  // Frees the instance after delayMs from now.
  void Add(TRef<TMusicChannel> instance, int64_t delayMs);
  size_t Pending();
  // While held, nothing is freed (tests look at fades before the instance goes).
  void Hold(bool hold);

 private:
  TChannelKiller();
  void Run();

  struct TEntry {
    TRef<TMusicChannel> instance;
    int64_t due;
  };
  std::mutex mutex_;
  std::condition_variable signal_;
  std::vector<TEntry> entries_;
  bool quit_ = false;
  bool hold_ = false;
  std::thread thread_;
};

// Base of output channels.
class TCustomChannel : public TRefObject {
 public:
  virtual bool Play(int32_t fadeMs) = 0;
  virtual bool Stop(int32_t fadeMs) = 0;
  virtual void Seek(double ms) = 0;
  virtual double Position() = 0;
  virtual double Length() const = 0;
  virtual bool IsPlaying() = 0;
  virtual float Volume() const = 0;
  virtual void SetVolume(float volume) = 0;
};

class TChannelMusic : public TCustomChannel {
 public:
  using TEndCallback = std::function<void(TChannelMusic&)>;

  // Opens the source to read its media info; Opened() tells whether the first
  // instance could be made.
  TChannelMusic(TwinWaveOutDevice& device, std::string name);

  bool Play(int32_t fadeMs) override;
  bool Stop(int32_t fadeMs) override;
  void Seek(double ms) override;
  double Position() override;
  double Length() const override { return info_.durationMs; }
  bool IsPlaying() override;
  float Volume() const override { return volume_; }
  void SetVolume(float volume) override;
  void SetMasterVolume(float master);

  bool Opened() const { return opened_; }
  const std::string& Name() const { return name_; }
  const TMediaInfo& Info() const { return info_; }
  size_t InstanceCount();
  // True once the current instance's ring is being played by the device.
  bool CurrentHeard();
  // Attenuation given to the rings.
  int32_t Attenuation() const;
  void SetEndCallback(TEndCallback callback) { onEnd_ = std::move(callback); }

  // Fades every playing instance out over 10 ms, drops the others and waits
  // until the killer has freed them all.
  void Destroy();

  // Called by the killer.
  void RemoveInstance(TMusicChannel* instance);

 private:
  TRef<TMusicChannel> NewInstance();
  TRef<TMusicChannel> Current();

  TwinWaveOutDevice& device_;
  std::string name_;
  TMediaInfo info_;
  std::recursive_mutex mutex_;
  std::vector<TRef<TMusicChannel>> instances_;
  double saved_ = 0;
  float volume_ = 1.0f;
  float master_ = 1.0f;
  bool opened_ = false;
  TEndCallback onEnd_;
};

}  // namespace lum
