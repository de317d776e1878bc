#include "audio/output/music_player_class.h"

#include <algorithm>
#include <atomic>

#include "foundation/clock.h"
#include "foundation/log.h"

namespace lum {

namespace {

constexpr int64_t kWatchMs = 100;
constexpr int64_t kRetryMs = 1000;
// A device never seen is looked for less often: each failed try makes SDL
// probe every sound system it knows.
constexpr int64_t kLookMs = 5000;

std::atomic<int> gOpenPlayers{0}, gLostPlayers{0};

std::atomic<int>* Counter(TSoundDeviceState s) {
  if (s == TSoundDeviceState::Open) return &gOpenPlayers;
  if (s == TSoundDeviceState::Lost) return &gLostPlayers;
  return nullptr;
}

// Moves an output player from one count to another.
void Recount(TSoundDeviceState& counted, TSoundDeviceState now) {
  if (auto* c = Counter(counted)) --*c;
  if (auto* c = Counter(now)) ++*c;
  counted = now;
}

}  // namespace

TSoundDeviceState SoundDeviceState() {
  if (gLostPlayers.load() > 0) return TSoundDeviceState::Lost;
  if (gOpenPlayers.load() > 0) return TSoundDeviceState::Open;
  return TSoundDeviceState::None;
}

const char* SoundDeviceStateName(TSoundDeviceState state) {
  switch (state) {
    case TSoundDeviceState::Open:
      return "open";
    case TSoundDeviceState::Lost:
      return "lost";
    default:
      return "none";
  }
}

TMusicPlayerClass::TMusicPlayerClass(std::vector<std::unique_ptr<TSoundBackend>> backends,
                                     TwinTimerChannel::TNow now)
    : backends_(std::move(backends)), now_(std::move(now)) {}

TMusicPlayerClass::~TMusicPlayerClass() {
  std::vector<TRef<TChannelMusic>> channels;
  {
    std::lock_guard lock(mutex_);
    channels.swap(channels_);
  }
  for (auto& c : channels) {
    try {
      c->Destroy();
    } catch (const std::exception&) {
    }
  }
  FreeTimerChannel();
  device_.reset();
  Recount(counted_, TSoundDeviceState::None);
}

bool TMusicPlayerClass::Initialise() {
  if (!device_) device_ = std::make_unique<TwinWaveOutDevice>(std::move(backends_));
  if (!device_->Available()) return false;
  if (counted_ != TSoundDeviceState::None) return true;
  if (device_->OutputAlive()) {
    Recount(counted_, TSoundDeviceState::Open);
    return true;
  }
  {
    std::lock_guard lock(clockMutex_);
    fallback_ = lost_ = true;
    fallbackValue_ = 0;
    fallbackSince_ = Now();
  }
  Recount(counted_, TSoundDeviceState::Lost);
  lastTry_ = Now();
  retryMs_ = kLookMs;
  Log().Line("No sound device: the show plays silently on the system clock until one appears");
  return true;
}

TRef<TChannelMusic> TMusicPlayerClass::CreateChannel(const std::string& name, double startMs) {
  if (!device_ || !device_->Available()) return nullptr;
  TRef<TChannelMusic> channel(new TChannelMusic(*device_, name));
  if (!channel->Opened()) return nullptr;
  if (master_ != 1.0f) channel->SetMasterVolume(master_);
  if (startMs != -1) channel->Seek(startMs);
  std::lock_guard lock(mutex_);
  channels_.push_back(channel);
  return channel;
}

void TMusicPlayerClass::DestroyChannel(const TRef<TChannelMusic>& channel) {
  if (!channel) return;
  {
    std::lock_guard lock(mutex_);
    std::erase(channels_, channel);
  }
  channel->Destroy();
}

size_t TMusicPlayerClass::ChannelCount() {
  std::lock_guard lock(mutex_);
  return channels_.size();
}

TwinTimerChannel& TMusicPlayerClass::TimerChannel() {
  std::lock_guard lock(clockMutex_);
  if (!timer_) timer_ = std::make_unique<TwinTimerChannel>(*device_, now_);
  return *timer_;
}

void TMusicPlayerClass::FreeTimerChannel() {
  std::lock_guard lock(clockMutex_);
  timer_.reset();
}

double TMusicPlayerClass::Clock() {
  std::lock_guard lock(clockMutex_);
  if (fallback_) {
    const double wall = fallbackValue_ + double(Now() - fallbackSince_);
    if (lost_ || !timer_ || !timer_->Started()) return wall;
    shift_ = wall - timer_->Clock();
    fallback_ = false;
  }
  if (!timer_) timer_ = std::make_unique<TwinTimerChannel>(*device_, now_);
  if (!timer_->Playing()) timer_->Start();
  return timer_->Clock() + shift_;
}

bool TMusicPlayerClass::DeviceLost() const {
  std::lock_guard lock(clockMutex_);
  return lost_;
}

int64_t TMusicPlayerClass::Now() const {
  return now_ ? now_() : MsSinceStart();
}

TMusicPlayerClass::TDeviceChange TMusicPlayerClass::Watch() {
  if (!device_ || !device_->Available()) return TDeviceChange::None;
  const int64_t now = Now();
  if (now - lastWatch_ < kWatchMs) return TDeviceChange::None;
  lastWatch_ = now;
  if (!DeviceLost()) {
    if (device_->OutputAlive()) return TDeviceChange::None;
    {
      std::lock_guard lock(clockMutex_);
      if (!fallback_) {
        fallbackValue_ = timer_ && timer_->Started() ? timer_->Clock() + shift_ : 0.0;
        fallbackSince_ = now;
      }
      fallback_ = true;
      lost_ = true;
    }
    device_->ReleaseOutput();
    Recount(counted_, TSoundDeviceState::Lost);
    lastTry_ = now;
    retryMs_ = kRetryMs;
    Log().Line("Sound device lost: the show goes on silently on the system clock");
    return TDeviceChange::Lost;
  }
  if (now - lastTry_ < retryMs_) return TDeviceChange::None;
  lastTry_ = now;
  if (!device_->ReopenOutput()) return TDeviceChange::None;
  try {
    // A fresh clock channel: the old one's cursor stood still while away.
    std::lock_guard lock(clockMutex_);
    timer_ = std::make_unique<TwinTimerChannel>(*device_, now_);
    timer_->Start();
    lost_ = false;
  } catch (const std::exception&) {
    device_->ReleaseOutput();
    return TDeviceChange::None;
  }
  Recount(counted_, TSoundDeviceState::Open);
  Log().Line("Sound device back: the music resumes in step with the show");
  return TDeviceChange::Back;
}

void TMusicPlayerClass::SetMasterVolume(float volume) {
  std::lock_guard lock(mutex_);
  master_ = volume;
  for (auto& c : channels_) c->SetMasterVolume(volume);
}

void TMusicPlayerClass::SetStreamFunctions(TStreamOpenFunc open, TStreamCloseFunc close) {
  InstallStreamOpener(std::move(open), std::move(close));
}

std::unique_ptr<TMusicPlayerClass> CreateOutputPlayer(
    std::vector<std::unique_ptr<TSoundBackend>> backends, TwinTimerChannel::TNow now) {
  try {
    auto player = std::make_unique<TMusicPlayerClass>(std::move(backends), std::move(now));
    if (!player->Initialise()) return nullptr;
    player->TimerChannel();
    player->FreeTimerChannel();
    return player;
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace lum
