#pragma once
// The audio clock: a silent looping buffer whose play cursor disciplines a
// millisecond counter. A poll every 10 ms moves the counter's base by at most
// 1 ms towards the cursor time, so the clock follows the sound card without
// jumps; the cursor itself is read on every tenth poll only.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/output/wave_out_device.h"

namespace lum {

class TwinTimerChannel {
 public:
  using TNow = std::function<int64_t()>;

  // Creates the silent buffer (two seconds of the device format); throws
  // ELumError "SoundBuffer = nil" when the device cannot make one.
  explicit TwinTimerChannel(TwinWaveOutDevice& device, TNow now = nullptr);
  ~TwinTimerChannel();
  TwinTimerChannel(const TwinTimerChannel&) = delete;
  TwinTimerChannel& operator=(const TwinTimerChannel&) = delete;

  // Plays the buffer looping; with pollThread the clock polls itself every 10 ms.
  void Start(bool pollThread = true);
  void Stop();
  bool Playing() const;

  // 0 until the cursor has left 0, then ms since then.
  double Clock() const;
  // One poll (what the poll thread does every 10 ms).
  void Poll();

  bool Started() const;
  // The counter value the clock counts from (moves by the slew).
  int64_t Base() const;
  // Cursor time minus clock at the last poll, and the largest base step of
  // one poll so far.
  double Drift() const;
  int64_t LargestStep() const;
  // Polls since the clock started.
  int64_t Polls() const;
  // Cursor time of the last poll: wraps + cursor + time since the cursor was read.
  double CursorTime() const;
  int64_t WrapMs() const;
  uint32_t BufferSize() const { return buffer_->Size(); }

 private:
  double CursorTimeAt(int64_t now) const;
  void ReadCursor(int64_t now);
  void PollLoop();

  TNow now_;
  std::unique_ptr<TSoundBuffer> buffer_;
  int32_t bytesPerSecond_;
  mutable std::mutex mutex_;
  int64_t base_ = 0;
  double offset_ = 0;
  uint32_t lastCursor_ = 0;
  int64_t lastRead_ = 0;
  int64_t wrap_ = 0;
  int64_t polls_ = 0;
  bool started_ = false;
  double lastT_ = 0;
  double drift_ = 0;
  int64_t largestStep_ = 0;

  std::thread thread_;
  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stop_ = false;
};

}  // namespace lum
