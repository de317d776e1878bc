#include "audio/output/music_channel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/decoders/converter_factory.h"
#include "audio/decoders/pcm_resampler.h"
#include "audio/decoders/stream_opener.h"
#include "foundation/clock.h"
#include "foundation/errors.h"

namespace lum {

int32_t VolumeToAttenuation(double gain) {
  if (!(gain > 0)) return -10000;
  double a = std::round(-600.0 * std::log2(1.0 / gain));
  return int32_t(std::clamp(a, -10000.0, 0.0));
}

double AttenuationToVolume(int32_t attenuation) {
  if (attenuation <= -10000) return 0;
  return std::pow(2.0, attenuation / 600.0);
}

namespace {

TSoundFormat SoundFormatOf(const TWaveFormatEx& f) {
  return TSoundFormat{int32_t(f.samplesPerSec), int16_t(f.channels), int16_t(f.bitsPerSample)};
}

bool Playable(const TWaveFormatEx& f) {
  return f.formatTag == kWaveFormatPcm && (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
         (f.channels == 1 || f.channels == 2) && f.samplesPerSec >= 1000 &&
         f.samplesPerSec <= 384000;
}

std::unique_ptr<TStream> OpenSource(const std::string& name, const TMediaInfo& info) {
  if (IsCompositionText(name)) return nullptr;
  uint32_t window = info.type == kMediaMpeg && info.mpegInWave ? info.dataOffset : 0;
  return OpenSoundStream(name, window);
}

}  // namespace

// --- TMusicChannel ---

TRef<TMusicChannel> TMusicChannel::Create(TChannelMusic& owner, TwinWaveOutDevice& device) {
  TRef<TMusicChannel> inst(new TMusicChannel(owner));
  const TMediaInfo& info = owner.Info();
  inst->stream_ = OpenSource(owner.Name(), info);
  if (!inst->stream_ && !IsCompositionText(owner.Name())) return nullptr;
  try {
    inst->decoder_ = CreateWavConverter(inst->stream_.get(), owner.Name(), info);
    if (!inst->decoder_ || !inst->decoder_->Open(info)) return nullptr;
    TWaveFormatEx out = inst->decoder_->OutputFormat();
    // The rings take 8 or 16 bits in one or two channels at the device's
    // rate: other rates go through the decoders' resampler, as music does
    // (the mixer would only step to the nearest sample).
    const TWaveFormatEx mix = PcmFormat(kMixRate, out.channels == 1 ? 1 : 2, 16);
    if (!Playable(out) || (out.samplesPerSec != kMixRate && TPcmResampler::CanConvert(out, mix))) {
      out = mix;
      inst->decoder_->SetOutputFormat(out);
      out = inst->decoder_->OutputFormat();
      if (!Playable(out)) return nullptr;
    }
    inst->format_ = SoundFormatOf(out);
  } catch (const std::exception&) {
    return nullptr;
  }
  inst->buffer_ = TwinWaveOutBuffer::Create(device, inst->format_);
  if (!inst->buffer_) return nullptr;
  return inst;
}

TMusicChannel::~TMusicChannel() {
  Free();
}

void TMusicChannel::Free() {
  if (freed_.exchange(true)) return;
  if (buffer_) buffer_->Halt();
  decoder_.reset();
  if (stream_) CloseSoundStream(std::move(stream_));
}

void TMusicChannel::Seek(double ms) {
  if (state_ != TInstanceState::Prepared) return;
  ms = std::max(ms, 0.0);
  bool more = false;
  try {
    decoder_->Seek(ms);
    uint32_t n = buffer_->FirstFillBytes();
    more = decoder_->Fill(n);
    first_.assign(decoder_->Output().Data(), decoder_->Output().Data() + n);
    decoder_->Output().Consume(n);
  } catch (const std::exception&) {
    first_.assign(buffer_->FirstFillBytes(), format_.bits == 8 ? 128 : 0);
    more = false;
  }
  startOffset_ = ms;
  endOfData_ = !more;
  predecoded_ = true;
}

void TMusicChannel::Play(int32_t fadeMs) {
  if (state_ != TInstanceState::Prepared) return;
  if (!predecoded_) Seek(0);
  {
    std::lock_guard lock(buffer_->Lock());
    int64_t n = std::max<int64_t>(1, int64_t(fadeMs) * format_.rate / 1000);
    gain_ = 0;
    step_ = 1.0 / double(n);
    fadeIn_ = true;
    fadeOut_ = false;
    state_ = TInstanceState::Playing;
  }
  buffer_->Start(*this);
}

void TMusicChannel::Stop(int32_t fadeMs) {
  if (state_ != TInstanceState::Playing) return;
  {
    std::lock_guard lock(buffer_->Lock());
    int64_t n = std::max<int64_t>(1, int64_t(fadeMs) * format_.rate / 1000);
    step_ = 1.0 / double(n);
    fadeIn_ = false;
    fadeOut_ = true;
    stopRequest_ = true;
    state_ = TInstanceState::Stopping;
  }
  buffer_->Wake();
}

double TMusicChannel::Position() {
  if (state_ == TInstanceState::Prepared) return startOffset_;
  int64_t now = MsSinceStart();
  if (buffer_->Ring().Playing()) buffer_->UpdatePosition(now);
  return startOffset_ + buffer_->PositionMs(now);
}

void TMusicChannel::SetAttenuation(int32_t attenuation) {
  buffer_->Ring().SetVolume(attenuation);
}

int64_t TMusicChannel::QueuedMs() {
  return int64_t(std::llround(double(buffer_->Queued()) * 1000.0 / format_.BytesPerSecond()));
}

bool TMusicChannel::ApplyGain(uint8_t* data, uint32_t bytes) {
  if (!fadeIn_ && !fadeOut_) return true;
  const int32_t block = format_.BlockAlign();
  const int32_t samples = format_.channels;
  for (uint32_t off = 0; off + uint32_t(block) <= bytes; off += uint32_t(block)) {
    if (fadeOut_ && gain_ <= 0) {
      std::memset(data + off, format_.bits == 8 ? 128 : 0, bytes - off);
      return false;
    }
    uint8_t* frame = data + off;
    for (int32_t c = 0; c < samples; ++c) {
      if (format_.bits == 16) {
        int16_t s;
        std::memcpy(&s, frame + 2 * c, 2);
        s = int16_t(std::lround(gain_ * s));
        std::memcpy(frame + 2 * c, &s, 2);
      } else if (format_.bits == 8) {
        frame[c] = uint8_t(128 + std::lround(gain_ * (int32_t(frame[c]) - 128)));
      } else {
        AssertFailed("MusicChannel", "Unsupported sample size");
      }
    }
    if (fadeIn_) {
      gain_ += step_;
      if (gain_ >= 1.0) {
        gain_ = 1.0;
        fadeIn_ = false;
        return true;
      }
    } else {
      gain_ = std::max(0.0, gain_ - step_);
    }
  }
  return !(fadeOut_ && gain_ <= 0);
}

void TMusicChannel::ScheduleRelease(int64_t queuedBytes) {
  if (released_.exchange(true)) return;
  int64_t delay = std::llround(double(queuedBytes) * 1000.0 / format_.BytesPerSecond());
  if (delay <= 0) delay += 2000;
  TChannelKiller::Instance().Add(TRef<TMusicChannel>(this), delay + 20);
}

void TMusicChannel::WriteSilence(TwinWaveOutBuffer& buffer, uint32_t bytes) {
  if (bytes == 0) return;
  std::vector<uint8_t> silence(bytes, format_.bits == 8 ? 128 : 0);
  buffer.Write(silence.data(), bytes);
}

void TMusicChannel::FirstFill(TwinWaveOutBuffer& buffer) {
  uint32_t n = uint32_t(std::min<size_t>(first_.size(), buffer.FirstFillBytes()));
  bool audible = ApplyGain(first_.data(), n);
  buffer.SetWritePosition(0);
  buffer.Write(first_.data(), n);
  first_.clear();
  first_.shrink_to_fit();
  if (!audible) silent_ = true;
  if (endOfData_) {
    endedByItself_ = true;
    silent_ = true;
    ScheduleRelease(n);
  }
}

void TMusicChannel::Refill(TwinWaveOutBuffer& buffer) {
  const uint32_t size = buffer.Size();
  const uint32_t block = uint32_t(format_.BlockAlign());
  const uint32_t cursor = buffer.PlayCursor();
  const uint32_t write = buffer.WritePosition();
  if (stopRequest_) {
    stopRequest_ = false;
    // Rewrite what is queued beyond a safety lead with the falling gain.
    uint32_t lead = uint32_t(format_.BytesPerSecond() / 40);
    lead -= lead % block;
    uint32_t queued = (write + size - cursor) % size;
    uint32_t audible = lead;
    if (queued > lead && !silent_) {
      uint32_t from = (cursor + lead) % size;
      uint32_t bytes = queued - lead;
      bytes -= bytes % block;
      uint8_t *p1 = nullptr, *p2 = nullptr;
      uint32_t n1 = 0, n2 = 0;
      if (buffer.Ring().Lock(from, bytes, &p1, &n1, &p2, &n2) == TSoundResult::Ok) {
        double before = gain_;
        bool on = ApplyGain(p1, n1);
        if (on && p2 && n2) on = ApplyGain(p2, n2);
        buffer.Ring().Unlock();
        // Frames until the gain reached 0 are still heard.
        uint32_t faded = step_ > 0 ? uint32_t(before / step_ + 1) * block : bytes;
        audible += std::min(bytes, faded);
      }
    } else {
      audible = queued;
    }
    silent_ = true;
    ScheduleRelease(audible);
  } else {
    uint32_t free = (cursor + size - write) % size;
    uint32_t n = std::min(free, buffer.RefillBytes());
    n -= n % block;
    if (n > 0) {
      if (silent_) {
        WriteSilence(buffer, n);
      } else {
        bool more = false;
        try {
          more = decoder_->Fill(n);
          ApplyGain(decoder_->Output().Data(), n);
          buffer.Write(decoder_->Output().Data(), n);
          decoder_->Output().Consume(n);
        } catch (const std::exception&) {
          WriteSilence(buffer, n);
        }
        if (!more) {
          endOfData_ = true;
          endedByItself_ = true;
          silent_ = true;
          ScheduleRelease((buffer.WritePosition() + size - cursor) % size);
        }
      }
    }
  }
  buffer.UpdatePosition(MsSinceStart());
}

// --- TChannelKiller ---

TChannelKiller& TChannelKiller::Instance() {
  static TChannelKiller killer;
  return killer;
}

TChannelKiller::TChannelKiller() : thread_([this] { Run(); }) {}

TChannelKiller::~TChannelKiller() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  signal_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TChannelKiller::Add(TRef<TMusicChannel> instance, int64_t delayMs) {
  {
    std::lock_guard lock(mutex_);
    entries_.push_back({std::move(instance), MsSinceStart() + delayMs});
  }
  signal_.notify_all();
}

void TChannelKiller::Hold(bool hold) {
  {
    std::lock_guard lock(mutex_);
    hold_ = hold;
  }
  signal_.notify_all();
}

size_t TChannelKiller::Pending() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void TChannelKiller::Run() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    signal_.wait_for(lock, std::chrono::milliseconds(entries_.empty() ? 100 : 10));
    if (quit_) break;
    if (hold_) continue;
    int64_t now = MsSinceStart();
    std::vector<TRef<TMusicChannel>> due;
    std::erase_if(entries_, [&](TEntry& e) {
      if (e.due > now) return false;
      due.push_back(std::move(e.instance));
      return true;
    });
    if (due.empty()) continue;
    lock.unlock();
    for (auto& inst : due) {
      inst->Free();
      inst->Owner().RemoveInstance(inst.Get());
    }
    due.clear();
    lock.lock();
  }
  entries_.clear();
}

// --- TChannelMusic ---

TChannelMusic::TChannelMusic(TwinWaveOutDevice& device, std::string name)
    : device_(device), name_(std::move(name)) {
  std::unique_ptr<TStream> stream;
  if (!IsCompositionText(name_)) stream = OpenSoundStream(name_);
  TMediaInfo info;
  bool ok = false;
  try {
    ok = (stream || IsCompositionText(name_)) && DetectMediaInfo(stream.get(), name_, info);
  } catch (const std::exception&) {
    ok = false;
  }
  if (stream) CloseSoundStream(std::move(stream));
  if (!ok) return;
  info_ = info;
  NewInstance();
  opened_ = instances_.size() == 1;
}

TRef<TMusicChannel> TChannelMusic::NewInstance() {
  TRef<TMusicChannel> inst = TMusicChannel::Create(*this, device_);
  if (!inst) return inst;
  inst->SetAttenuation(Attenuation());
  std::lock_guard lock(mutex_);
  instances_.push_back(inst);
  return inst;
}

TRef<TMusicChannel> TChannelMusic::Current() {
  std::lock_guard lock(mutex_);
  return instances_.empty() ? TRef<TMusicChannel>() : instances_.back();
}

bool TChannelMusic::Play(int32_t fadeMs) {
  std::lock_guard lock(mutex_);
  TRef<TMusicChannel> cur = Current();
  if (cur && cur->State() == TInstanceState::Playing && !cur->Released()) return false;
  if (!cur || cur->State() != TInstanceState::Prepared) {
    cur = NewInstance();
    if (!cur) return false;
    cur->Seek(saved_);
  }
  cur->Play(fadeMs);
  return true;
}

bool TChannelMusic::Stop(int32_t fadeMs) {
  std::lock_guard lock(mutex_);
  TRef<TMusicChannel> cur = Current();
  if (!cur || cur->State() != TInstanceState::Playing) return false;
  saved_ = cur->Position();
  cur->Stop(fadeMs);
  return true;
}

void TChannelMusic::Seek(double ms) {
  std::lock_guard lock(mutex_);
  saved_ = ms;
  TRef<TMusicChannel> cur = Current();
  if (cur && cur->State() == TInstanceState::Prepared) {
    cur->Seek(ms);
    return;
  }
  bool playing = cur && cur->State() == TInstanceState::Playing;
  if (playing) cur->Stop(10);
  TRef<TMusicChannel> next = NewInstance();
  if (!next) return;
  next->Seek(ms);
  if (playing) next->Play(10);
}

double TChannelMusic::Position() {
  std::lock_guard lock(mutex_);
  TRef<TMusicChannel> cur = Current();
  if (cur && cur->State() == TInstanceState::Playing) return cur->Position();
  return saved_;
}

bool TChannelMusic::IsPlaying() {
  TRef<TMusicChannel> cur = Current();
  return cur && cur->State() == TInstanceState::Playing && !cur->Released();
}

int32_t TChannelMusic::Attenuation() const {
  return VolumeToAttenuation(double(volume_) * master_);
}

void TChannelMusic::SetVolume(float volume) {
  std::lock_guard lock(mutex_);
  volume_ = volume;
  for (auto& i : instances_) i->SetAttenuation(Attenuation());
}

void TChannelMusic::SetMasterVolume(float master) {
  std::lock_guard lock(mutex_);
  master_ = master;
  for (auto& i : instances_) i->SetAttenuation(Attenuation());
}

bool TChannelMusic::CurrentHeard() {
  TRef<TMusicChannel> cur = Current();
  return cur && cur->Heard();
}

size_t TChannelMusic::InstanceCount() {
  std::lock_guard lock(mutex_);
  return instances_.size();
}

void TChannelMusic::RemoveInstance(TMusicChannel* instance) {
  auto find = [&] {
    return std::find_if(instances_.begin(), instances_.end(),
                        [&](const TRef<TMusicChannel>& r) { return r.Get() == instance; });
  };
  bool ended = false;
  {
    std::lock_guard lock(mutex_);
    auto it = find();
    if (it == instances_.end()) return;
    ended = (*it)->EndedByItself();
  }
  // The instance stays counted until the end callback is done: Destroy waits
  // for the count, so this channel outlives the call.
  if (ended && onEnd_) onEnd_(*this);
  std::lock_guard lock(mutex_);
  if (auto it = find(); it != instances_.end()) instances_.erase(it);
}

void TChannelMusic::Destroy() {
  std::vector<TRef<TMusicChannel>> drop;
  {
    std::lock_guard lock(mutex_);
    for (auto& i : instances_) {
      if (i->State() == TInstanceState::Playing)
        i->Stop(10);
      else if (i->State() == TInstanceState::Prepared)
        drop.push_back(i);
    }
    for (auto& i : drop) std::erase(instances_, i);
  }
  for (auto& i : drop) i->Free();
  drop.clear();
  for (int check = 0; InstanceCount() > 0; ++check) {
    if (check >= 300) AssertFailed("MusicClasses", "Channel instances were not freed");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace lum
