#pragma once
// The sound device: one output stream at 44100 Hz, 2 channels, 16 bits that
// mixes any number of secondary buffers. A secondary buffer is a ring of PCM
// bytes with a play cursor; writers lock a range ahead of the cursor, fill it
// and unlock it; the device plays it looping (or once), and it can be
// stopped, repositioned and attenuated in hundredths of a decibel.
//
// The stream is pulled by a back end chosen from a table at run time (SDL2,
// then the null back end that has no output). A manual back end lets the
// caller pull the stream itself (tests, offline rendering).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lum {

struct TSoundFormat {
  int32_t rate = 44100;
  int16_t channels = 2;
  int16_t bits = 16;

  int32_t BlockAlign() const { return channels * (bits / 8); }
  int32_t BytesPerSecond() const { return BlockAlign() * rate; }
  bool operator==(const TSoundFormat&) const = default;
};

// The device's own output format.
inline constexpr TSoundFormat kDeviceFormat{44100, 2, 16};

enum class TSoundResult { Ok, Lost, Failed };

// Pulls the device's mixed output: frames of 2 × 16-bit samples.
using TRenderFunction = std::function<void(int16_t* frames, int32_t count)>;

class TSoundBackend {
 public:
  virtual ~TSoundBackend() = default;
  virtual const char* Name() const = 0;
  // Starts calling render from the back end's own thread; false without output.
  virtual bool Open(TRenderFunction render) = 0;
  virtual void Close() = 0;
  // False once the output went away (device unplugged, server gone).
  virtual bool Alive() const { return true; }
  // True when the output is pulled in chunks over real time, so that a play
  // cursor read between two pulls is moved on by the time since the last one.
  virtual bool RealTime() const { return true; }
  // Lets go of an output that went away; nothing is pulled until Reopen.
  virtual void Release() {}
  // Opens the output again with the render function of Open; false while
  // there is still none.
  virtual bool Reopen() { return false; }
  // True when an output that would not open may appear later (a card plugged
  // in, a sound server started): Reopen then opens it.
  virtual bool MayAppear() const { return false; }
};

// The caller pulls the output with Pump (tests, rendering faster than real time).
class TManualSoundBackend : public TSoundBackend {
 public:
  const char* Name() const override { return "manual"; }
  bool Open(TRenderFunction render) override;
  void Close() override;
  bool Alive() const override { return alive_; }
  bool RealTime() const override { return false; }
  bool Reopen() override { return alive_; }
  // Mixes count frames; out (2 × count samples) may be null.
  void Pump(int32_t count, int16_t* out = nullptr);
  // Makes the output disappear or come back (the lost-buffer path).
  void SetAlive(bool alive) { alive_ = alive; }

 private:
  std::mutex mutex_;
  TRenderFunction render_;
  bool alive_ = true;
};

// Back ends in the order they are tried: the one named by LUM_SOUND_BACKEND
// ("sdl", "null") first, then SDL2, then null. Test hook: while a file exists
// at $LUM_TEST_SOUND_UNPLUGGED (read once), the SDL output counts as removed.
std::vector<std::unique_ptr<TSoundBackend>> SoundBackends();
std::unique_ptr<TSoundBackend> CreateSdlSoundBackend();
// Frees what the back ends keep for the calling thread (SDL's error text and
// thread-local slots); a thread that opened or reopened outputs calls it as
// it ends, as SDL frees them only for threads it started itself.
void ReleaseSoundThreadData();
std::unique_ptr<TSoundBackend> CreateNullSoundBackend();

class TwinWaveOutDevice;

class TSoundBuffer {
 public:
  ~TSoundBuffer();
  TSoundBuffer(const TSoundBuffer&) = delete;
  TSoundBuffer& operator=(const TSoundBuffer&) = delete;

  uint32_t Size() const { return uint32_t(data_.size()); }
  const TSoundFormat& Format() const { return format_; }

  // Locks bytes from offset (wrapping at the end) for writing, in at most two
  // pieces; Unlock must follow. The mixer waits while a range is locked.
  TSoundResult Lock(uint32_t offset, uint32_t bytes, uint8_t** p1, uint32_t* n1, uint8_t** p2,
                    uint32_t* n2);
  TSoundResult Unlock();
  TSoundResult Play(bool looping);
  TSoundResult Stop();
  TSoundResult SetCurrentPosition(uint32_t position);
  // Play cursor and the first byte that is safe to write (10 ms ahead).
  TSoundResult GetCurrentPosition(uint32_t* play, uint32_t* write);
  // Hundredths of a decibel, -10000 .. 0.
  TSoundResult SetVolume(int32_t volume);
  int32_t Volume() const;
  bool Playing() const;
  bool Lost() const;
  // Brings a lost buffer back (contents kept, stopped); Lost while the output is gone.
  TSoundResult Restore();

 private:
  friend class TwinWaveOutDevice;
  TSoundBuffer(TwinWaveOutDevice* device, TSoundFormat format, uint32_t bytes);
  // Called by the device's mixer with the buffer lock held.
  void MixInto(int32_t* acc, int32_t frames);
  int32_t SampleAt(int64_t frame, int channel) const;

  TwinWaveOutDevice* device_;
  TSoundFormat format_;
  std::vector<uint8_t> data_;
  mutable std::recursive_mutex mutex_;
  bool locked_ = false;
  bool playing_ = false;
  bool looping_ = false;
  bool lost_ = false;
  double cursor_ = 0;       // frames
  int64_t mixedPull_ = -1;  // the device's pull that last mixed this buffer
  int32_t volume_ = 0;
  double gain_ = 1.0;
};

// The device: owns the back end and the buffers it mixes.
class TwinWaveOutDevice {
 public:
  // Takes the first back end of the list that opens. When none does, keeps
  // the first if its output may appear later: the device is then available
  // but not alive until ReopenOutput succeeds.
  explicit TwinWaveOutDevice(
      std::vector<std::unique_ptr<TSoundBackend>> backends = SoundBackends());
  ~TwinWaveOutDevice();
  TwinWaveOutDevice(const TwinWaveOutDevice&) = delete;
  TwinWaveOutDevice& operator=(const TwinWaveOutDevice&) = delete;

  // True when a back end produces output, or may once its device appears.
  bool Available() const { return backend_ != nullptr; }
  const char* BackendName() const { return backend_ ? backend_->Name() : "none"; }
  TSoundBackend* Backend() const { return backend_.get(); }

  // A silent buffer of the format; nothing when the device has no output or the
  // format is not 8/16-bit PCM with 1 or 2 channels at 1000 .. 384000 Hz.
  std::unique_ptr<TSoundBuffer> CreateSoundBuffer(const TSoundFormat& format, uint32_t bytes);

  // Marks every buffer lost when the back end's output went away.
  bool CheckAlive();
  // False once the output went away: the back end says so, or a real-time
  // output has pulled nothing for two seconds. Buffers are left as they are.
  bool OutputAlive() const;
  // Stops pulling from an output that went away, and opens it again (true
  // when it is back: the buffers are played from where they stood).
  void ReleaseOutput();
  bool ReopenOutput();
  void Render(int16_t* out, int32_t frames);

 private:
  friend class TSoundBuffer;
  void Remove(TSoundBuffer* buffer);

  std::unique_ptr<TSoundBackend> backend_;
  std::mutex mutex_;
  std::vector<TSoundBuffer*> buffers_;
  std::vector<int32_t> acc_;
  bool realTime_ = false;
  // When the last pull began (steady ns) and how many frames it mixed.
  std::atomic<int64_t> pullTime_{0};
  std::atomic<int32_t> pullFrames_{0};
  std::atomic<int64_t> pulls_{0};
};

}  // namespace lum
