#include "audio/output/wave_out_buffer.h"

#include <algorithm>
#include <cstring>

#include "foundation/clock.h"

namespace lum {

TDSEventThread::TDSEventThread(TwinWaveOutBuffer& buffer, TBufferClient& client)
    : buffer_(buffer), client_(client), thread_([this] { Run(); }) {}

TDSEventThread::~TDSEventThread() {
  Terminate();
}

void TDSEventThread::Wake() {
  {
    std::lock_guard lock(mutex_);
    wake_ = true;
  }
  signal_.notify_all();
}

void TDSEventThread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  signal_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TDSEventThread::Run() {
  {
    std::lock_guard lock(buffer_.Lock());
    client_.FirstFill(buffer_);
  }
  buffer_.PlayLooping();
  buffer_.UpdatePosition(MsSinceStart());
  std::unique_lock lock(mutex_);
  while (!stop_) {
    signal_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_ || wake_; });
    if (stop_) break;
    wake_ = false;
    lock.unlock();
    {
      std::lock_guard refill(buffer_.Lock());
      client_.Refill(buffer_);
    }
    lock.lock();
  }
}

std::unique_ptr<TwinWaveOutBuffer> TwinWaveOutBuffer::Create(TwinWaveOutDevice& device,
                                                             const TSoundFormat& format) {
  auto ring = device.CreateSoundBuffer(format, uint32_t(2 * format.BytesPerSecond()));
  if (!ring) return nullptr;
  return std::unique_ptr<TwinWaveOutBuffer>(
      new TwinWaveOutBuffer(std::move(ring), format, device.Backend()->RealTime()));
}

TwinWaveOutBuffer::TwinWaveOutBuffer(std::unique_ptr<TSoundBuffer> ring, TSoundFormat format,
                                     bool realTime)
    : ring_(std::move(ring)), format_(format), realTime_(realTime) {}

TwinWaveOutBuffer::~TwinWaveOutBuffer() {
  Halt();
}

uint32_t TwinWaveOutBuffer::FirstFillBytes() const {
  uint32_t n = Size() / 4 * 3;
  return n - n % uint32_t(format_.BlockAlign());
}

uint32_t TwinWaveOutBuffer::RefillBytes() const {
  uint32_t n = uint32_t(format_.BytesPerSecond() / 2);
  return n - n % uint32_t(format_.BlockAlign());
}

void TwinWaveOutBuffer::Start(TBufferClient& client) {
  std::lock_guard g(threadLock_);
  if (!thread_) thread_ = std::make_unique<TDSEventThread>(*this, client);
}

void TwinWaveOutBuffer::Wake() {
  // Channels are stopped from other threads while the buffer may be halting.
  std::lock_guard g(threadLock_);
  if (thread_) thread_->Wake();
}

void TwinWaveOutBuffer::Halt() {
  std::unique_ptr<TDSEventThread> thread;
  {
    std::lock_guard g(threadLock_);
    thread = std::move(thread_);
  }
  if (thread) thread->Terminate();
  thread.reset();
  ring_->Stop();
}

void TwinWaveOutBuffer::Write(const uint8_t* data, uint32_t bytes) {
  if (bytes == 0) return;
  uint8_t *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (ring_->Lock(write_, bytes, &p1, &n1, &p2, &n2) != TSoundResult::Ok) return;
  std::memcpy(p1, data, n1);
  if (p2 && n2) std::memcpy(p2, data + n1, n2);
  ring_->Unlock();
  write_ = (write_ + bytes) % Size();
}

bool TwinWaveOutBuffer::PlayLooping() {
  for (int i = 0; i < 100; ++i) {
    TSoundResult r = ring_->Play(true);
    if (r == TSoundResult::Ok) return true;
    if (r != TSoundResult::Lost) return false;
    ring_->Restore();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

uint32_t TwinWaveOutBuffer::PlayCursor() {
  uint32_t play = 0;
  ring_->GetCurrentPosition(&play, nullptr);
  return play;
}

uint32_t TwinWaveOutBuffer::Queued() {
  return (write_ + Size() - PlayCursor()) % Size();
}

void TwinWaveOutBuffer::UpdatePosition(int64_t now) {
  std::lock_guard lock(positionLock_);
  uint32_t cursor = PlayCursor();
  if (lastRead_ >= 0 && cursor < lastCursor_) wrapMs_ += 2000;
  lastCursor_ = cursor;
  lastRead_ = now;
}

double TwinWaveOutBuffer::PositionMs(int64_t now) {
  std::lock_guard lock(positionLock_);
  if (lastRead_ < 0) return 0;
  // Between reads the cursor is taken to move on in real time; a device
  // pulled by hand moves only when pulled.
  double since = realTime_ ? double(now - lastRead_) : 0.0;
  return double(wrapMs_) + double(lastCursor_) * 10.0 / (format_.BytesPerSecond() / 100.0) + since;
}

}  // namespace lum
