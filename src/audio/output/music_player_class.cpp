#include "audio/output/music_player_class.h"

#include <algorithm>

namespace lum {

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
}

bool TMusicPlayerClass::Initialise() {
  if (!device_) device_ = std::make_unique<TwinWaveOutDevice>(std::move(backends_));
  return device_->Available();
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
  if (!timer_) timer_ = std::make_unique<TwinTimerChannel>(*device_, now_);
  if (!timer_->Playing()) timer_->Start();
  return timer_->Clock();
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
