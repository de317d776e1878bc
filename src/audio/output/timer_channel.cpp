#include "audio/output/timer_channel.h"

#include <cmath>

#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"

namespace lum {

namespace {

void Bracket(const char* line) {
  Log().Line(line);
}

}  // namespace

TwinTimerChannel::TwinTimerChannel(TwinWaveOutDevice& device, TNow now)
    : now_(now ? std::move(now) : TNow(&MsSinceStart)),
      bytesPerSecond_(kDeviceFormat.BytesPerSecond()) {
  Bracket("-> FDirectSound.CreateSoundBuffer [TimerChannel, 129]");
  buffer_ = device.CreateSoundBuffer(kDeviceFormat, uint32_t(2 * bytesPerSecond_));
  Bracket("<- FDirectSound.CreateSoundBuffer [TimerChannel, 131]");
  if (!buffer_) {
    Bracket("!!! SoundBuffer = nil [TimerChannel, 133]");
    throw ELumError("SoundBuffer = nil");
  }
  // The buffer is made silent already; the lock and unlock pair keeps the
  // order of calls of the original device.
  uint8_t *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  Bracket("-> FDirectSoundBuffer.Lock [TimerChannel, 137]");
  TSoundResult r = buffer_->Lock(0, buffer_->Size(), &p1, &n1, &p2, &n2);
  Bracket("<- FDirectSoundBuffer.Lock [TimerChannel, 139]");
  if (r == TSoundResult::Ok) {
    Bracket("-> FDirectSoundBuffer.Unlock [TimerChannel, 143]");
    buffer_->Unlock();
    Bracket("<- FDirectSoundBuffer.Unlock [TimerChannel, 145]");
  }
}

TwinTimerChannel::~TwinTimerChannel() {
  Stop();
  Bracket("-> FDirectSoundBuffer.Stop [TimerChannel, 153]");
  buffer_->Stop();
  Bracket("<- FDirectSoundBuffer.Stop [TimerChannel, 155]");
  Bracket("-> FDirectSoundBuffer := nil [TimerChannel, 161]");
  buffer_.reset();
  Bracket("<- FDirectSoundBuffer := nil [TimerChannel, 163]");
}

void TwinTimerChannel::Start(bool pollThread) {
  Bracket("-> FDirectSoundBuffer.Play [TimerChannel, 177]");
  TSoundResult r = buffer_->Play(true);
  Bracket("<- FDirectSoundBuffer.Play [TimerChannel, 179]");
  // A lost buffer is restored and tried again every 10 ms (a second at most,
  // then the clock runs on the counter alone until the next start).
  for (int i = 0; r == TSoundResult::Lost && i < 100; ++i) {
    Bracket("-> FDirectSoundBuffer.Restore [TimerChannel, 181]");
    buffer_->Restore();
    Bracket("<- FDirectSoundBuffer.Restore [TimerChannel, 183]");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    r = buffer_->Play(true);
    Bracket("<- FDirectSoundBuffer.Play [TimerChannel, 186]");
  }
  if (pollThread && !thread_.joinable()) {
    {
      std::lock_guard lock(stopMutex_);
      stop_ = false;
    }
    thread_ = std::thread([this] { PollLoop(); });
  }
}

void TwinTimerChannel::Stop() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(stopMutex_);
      stop_ = true;
    }
    stopSignal_.notify_all();
    thread_.join();
  }
  if (!buffer_->Playing()) return;
  Bracket("-> FDirectSoundBuffer.Stop [TimerChannel, 326]");
  buffer_->Stop();
  Bracket("<- FDirectSoundBuffer.Stop [TimerChannel, 328]");
  Bracket("-> FDirectSoundBuffer.SetCurrentPosition [TimerChannel, 330]");
  buffer_->SetCurrentPosition(0);
  Bracket("<- FDirectSoundBuffer.SetCurrentPosition [TimerChannel, 332]");
}

bool TwinTimerChannel::Playing() const {
  return buffer_->Playing();
}

void TwinTimerChannel::PollLoop() {
  std::unique_lock lock(stopMutex_);
  while (!stop_) {
    lock.unlock();
    Poll();
    lock.lock();
    stopSignal_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stop_; });
  }
}

double TwinTimerChannel::CursorTimeAt(int64_t now) const {
  return double(wrap_) + double(lastCursor_) * 10.0 / (bytesPerSecond_ / 100.0) +
         double(now - lastRead_);
}

void TwinTimerChannel::ReadCursor(int64_t now) {
  uint32_t play = 0;
  bool log = Log().Enabled();
  if (log)
    Bracket(started_ ? "-> FDirectSoundBuffer.GetCurrentPosition [TimerChannel, 262]"
                     : "-> FDirectSoundBuffer.GetCurrentPosition [TimerChannel, 230]");
  TSoundResult r = buffer_->GetCurrentPosition(&play, nullptr);
  if (log)
    Bracket(started_ ? "<- FDirectSoundBuffer.GetCurrentPosition [TimerChannel, 264]"
                     : "<- FDirectSoundBuffer.GetCurrentPosition [TimerChannel, 232]");
  if (r != TSoundResult::Ok) return;
  if (play < lastCursor_) wrap_ += 2000;
  lastCursor_ = play;
  lastRead_ = now;
}

void TwinTimerChannel::Poll() {
  int64_t now = now_();
  std::lock_guard lock(mutex_);
  if (!started_) {
    ReadCursor(now);
    if (lastCursor_ == 0 && wrap_ == 0) return;
    started_ = true;
    base_ = now;
    offset_ = CursorTimeAt(now);
    polls_ = 0;
    lastT_ = offset_;
    return;
  }
  if (++polls_ % 10 == 0) ReadCursor(now);
  double t = CursorTimeAt(now);
  lastT_ = t;
  double c = double(now - base_);
  // A dead band of one step keeps the clock from dithering around the cursor.
  double diff = (t - offset_) - c;
  drift_ = diff;
  if (diff >= 1.0)
    base_ -= 1;
  else if (diff <= -1.0)
    base_ += 1;
  if (diff >= 1.0 || diff <= -1.0) largestStep_ = 1;
}

double TwinTimerChannel::Drift() const {
  std::lock_guard lock(mutex_);
  return drift_;
}

int64_t TwinTimerChannel::Polls() const {
  std::lock_guard lock(mutex_);
  return polls_;
}

int64_t TwinTimerChannel::LargestStep() const {
  std::lock_guard lock(mutex_);
  return largestStep_;
}

double TwinTimerChannel::Clock() const {
  int64_t now = now_();
  std::lock_guard lock(mutex_);
  return started_ ? double(now - base_) : 0.0;
}

int64_t TwinTimerChannel::Base() const {
  std::lock_guard lock(mutex_);
  return base_;
}

bool TwinTimerChannel::Started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

double TwinTimerChannel::CursorTime() const {
  std::lock_guard lock(mutex_);
  return lastT_ - offset_;
}

int64_t TwinTimerChannel::WrapMs() const {
  std::lock_guard lock(mutex_);
  return wrap_;
}

}  // namespace lum
