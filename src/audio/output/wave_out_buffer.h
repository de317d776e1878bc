#pragma once
// A streaming ring of two seconds on the sound device with its refill
// thread. The thread writes the first block, starts the ring looping and
// then refills every 100 ms or when woken; what to write comes from the
// client (the channel instance). The play-cursor bookkeeping gives the
// position of what is being heard.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/output/wave_out_device.h"

namespace lum {

class TwinWaveOutBuffer;

// What a refill thread serves.
class TBufferClient {
 public:
  virtual ~TBufferClient() = default;
  // Writes the first block at offset 0 (under the buffer's lock).
  virtual void FirstFill(TwinWaveOutBuffer& buffer) = 0;
  // One refill (under the buffer's lock).
  virtual void Refill(TwinWaveOutBuffer& buffer) = 0;
};

// The refill thread: waits on its stop and wake signals with a 100 ms time-out.
class TDSEventThread {
 public:
  TDSEventThread(TwinWaveOutBuffer& buffer, TBufferClient& client);
  ~TDSEventThread();
  void Wake();
  // Ends the thread and waits for it.
  void Terminate();

 private:
  void Run();

  TwinWaveOutBuffer& buffer_;
  TBufferClient& client_;
  std::mutex mutex_;
  std::condition_variable signal_;
  bool wake_ = false;
  bool stop_ = false;
  std::thread thread_;
};

class TwinWaveOutBuffer {
 public:
  // Nothing when the device cannot make a ring of that format.
  static std::unique_ptr<TwinWaveOutBuffer> Create(TwinWaveOutDevice& device,
                                                   const TSoundFormat& format);
  ~TwinWaveOutBuffer();

  const TSoundFormat& Format() const { return format_; }
  uint32_t Size() const { return ring_->Size(); }
  // 3/4 of the ring, and at most half a second, in whole frames.
  uint32_t FirstFillBytes() const;
  uint32_t RefillBytes() const;

  // Starts the refill thread for the client.
  void Start(TBufferClient& client);
  void Wake();
  // Stops the thread and the ring.
  void Halt();

  // The refill lock: held by the refill thread, taken by stop requests.
  std::mutex& Lock() { return lock_; }

  // Writes bytes at the write position (wrapping) and moves it on.
  void Write(const uint8_t* data, uint32_t bytes);
  // Plays the ring looping; a lost ring is restored and tried again every
  // 10 ms (for up to a second).
  bool PlayLooping();
  uint32_t WritePosition() const { return write_; }
  void SetWritePosition(uint32_t p) { write_ = p; }
  // Bytes from the play cursor up to the write position.
  uint32_t Queued();
  uint32_t PlayCursor();
  TSoundBuffer& Ring() { return *ring_; }

  // Reads the play cursor: a cursor below the last adds 2000 ms.
  void UpdatePosition(int64_t now);
  // Wraps + cursor + time since it was read, in ms.
  double PositionMs(int64_t now);

 private:
  TwinWaveOutBuffer(std::unique_ptr<TSoundBuffer> ring, TSoundFormat format, bool realTime);

  std::unique_ptr<TSoundBuffer> ring_;
  TSoundFormat format_;
  std::mutex lock_;
  uint32_t write_ = 0;
  std::mutex positionLock_;
  uint32_t lastCursor_ = 0;
  int64_t lastRead_ = -1;
  int64_t wrapMs_ = 0;
  bool realTime_;
  std::mutex threadLock_;  // guards thread_ alone
  std::unique_ptr<TDSEventThread> thread_;
};

}  // namespace lum
