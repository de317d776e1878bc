#include "audio/output/wave_out_device.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "foundation/log.h"

namespace lum {

namespace {

class TSdlSoundBackend : public TSoundBackend {
 public:
  ~TSdlSoundBackend() override { Close(); }
  const char* Name() const override { return "sdl"; }

  bool Open(TRenderFunction render) override {
    render_ = std::move(render);
    if (Initialise() && OpenDevice()) return true;
    Close();
    return false;
  }

  void Close() override {
    Release();
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    initialised_ = false;
  }

  void Release() override {
    if (SDL_AudioDeviceID d = device_.exchange(0); d != 0) SDL_CloseAudioDevice(d);
  }

  bool Reopen() override {
    Release();
    if (Initialise() && OpenDevice()) return true;
    // Not opened at all yet: leave SDL's audio as it found it for the next try.
    if (!everOpened_) Close();
    return false;
  }

  bool MayAppear() const override { return true; }

  bool Alive() const override {
    return device_ != 0 && !Unplugged() && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_PLAYING;
  }

 private:
  bool Initialise() {
    if (Unplugged()) return false;
    if (!initialised_ && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    initialised_ = true;
    return true;
  }

  // The default output device, playing.
  bool OpenDevice() {
    SDL_AudioSpec want{};
    want.freq = kDeviceFormat.rate;
    want.format = AUDIO_S16SYS;
    want.channels = uint8_t(kDeviceFormat.channels);
    want.samples = 512;  // ~12 ms: the play cursor (and the clock) moves in steps this fine
    want.callback = &TSdlSoundBackend::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) return false;
    SDL_PauseAudioDevice(device_, 0);
    everOpened_ = true;
    return true;
  }

  // The test hook: SDL's dummy driver has no device to pull out.
  static bool Unplugged() {
    static const std::string flag = [] {
      const char* v = std::getenv("LUM_TEST_SOUND_UNPLUGGED");
      return std::string(v ? v : "");
    }();
    return !flag.empty() && access(flag.c_str(), F_OK) == 0;
  }

  static void Callback(void* user, Uint8* stream, int len) {
    auto* self = static_cast<TSdlSoundBackend*>(user);
    self->render_(reinterpret_cast<int16_t*>(stream), len / kDeviceFormat.BlockAlign());
  }

  TRenderFunction render_;
  std::atomic<SDL_AudioDeviceID> device_{0};  // read by the watch, changed by it too
  bool initialised_ = false;
  bool everOpened_ = false;
};

class TNullSoundBackend : public TSoundBackend {
 public:
  const char* Name() const override { return "null"; }
  bool Open(TRenderFunction) override { return false; }
  void Close() override {}
};

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Attenuation in hundredths of a decibel as a linear factor.
double GainOf(int32_t volume) {
  if (volume <= -10000) return 0;
  return std::pow(10.0, volume / 2000.0);
}

}  // namespace

bool TManualSoundBackend::Open(TRenderFunction render) {
  std::lock_guard lock(mutex_);
  render_ = std::move(render);
  return true;
}

void TManualSoundBackend::Close() {
  std::lock_guard lock(mutex_);
  render_ = nullptr;
}

void TManualSoundBackend::Pump(int32_t count, int16_t* out) {
  std::vector<int16_t> scratch;
  if (!out) {
    scratch.resize(size_t(count) * 2);
    out = scratch.data();
  }
  std::lock_guard lock(mutex_);
  if (render_) render_(out, count);
}

std::unique_ptr<TSoundBackend> CreateSdlSoundBackend() {
  return std::make_unique<TSdlSoundBackend>();
}

void ReleaseSoundThreadData() {
  SDL_TLSCleanup();
}

std::unique_ptr<TSoundBackend> CreateNullSoundBackend() {
  return std::make_unique<TNullSoundBackend>();
}

std::vector<std::unique_ptr<TSoundBackend>> SoundBackends() {
  std::vector<std::unique_ptr<TSoundBackend>> list;
  const char* choice = std::getenv("LUM_SOUND_BACKEND");
  std::string_view want = choice ? choice : "";
  if (want == "null") list.push_back(CreateNullSoundBackend());
  list.push_back(CreateSdlSoundBackend());
  list.push_back(CreateNullSoundBackend());
  return list;
}

// --- TSoundBuffer ---

TSoundBuffer::TSoundBuffer(TwinWaveOutDevice* device, TSoundFormat format, uint32_t bytes)
    : device_(device), format_(format) {
  bytes -= bytes % uint32_t(format.BlockAlign());
  data_.assign(bytes, format.bits == 8 ? 128 : 0);
}

TSoundBuffer::~TSoundBuffer() {
  if (device_) device_->Remove(this);
}

TSoundResult TSoundBuffer::Lock(uint32_t offset, uint32_t bytes, uint8_t** p1, uint32_t* n1,
                                uint8_t** p2, uint32_t* n2) {
  if (data_.empty() || offset >= Size() || bytes > Size()) return TSoundResult::Failed;
  mutex_.lock();
  if (lost_) {
    mutex_.unlock();
    return TSoundResult::Lost;
  }
  locked_ = true;
  uint32_t first = std::min(bytes, Size() - offset);
  *p1 = data_.data() + offset;
  *n1 = first;
  if (p2) *p2 = first < bytes ? data_.data() : nullptr;
  if (n2) *n2 = bytes - first;
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::Unlock() {
  if (!locked_) return TSoundResult::Failed;
  locked_ = false;
  mutex_.unlock();
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::Play(bool looping) {
  std::lock_guard lock(mutex_);
  if (lost_) return TSoundResult::Lost;
  playing_ = true;
  looping_ = looping;
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::Stop() {
  std::lock_guard lock(mutex_);
  playing_ = false;
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::SetCurrentPosition(uint32_t position) {
  std::lock_guard lock(mutex_);
  if (position >= Size()) return TSoundResult::Failed;
  cursor_ = double(position / uint32_t(format_.BlockAlign()));
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write) {
  std::lock_guard lock(mutex_);
  if (lost_) return TSoundResult::Lost;
  double frames = cursor_;
  if (playing_ && device_ && device_->realTime_ && mixedPull_ == device_->pulls_.load()) {
    // The last pull mixed ahead; the sound card is somewhere inside that chunk
    // (a buffer started since then was not in it).
    int32_t pulled = device_->pullFrames_.load();
    double elapsed = double(SteadyNs() - device_->pullTime_.load()) * 1e-9 * kDeviceFormat.rate;
    double step = double(format_.rate) / kDeviceFormat.rate;
    frames -= step * (pulled - std::clamp(elapsed, 0.0, double(pulled)));
    double total = double(data_.size() / size_t(format_.BlockAlign()));
    if (frames < 0) frames += looping_ ? total : -frames;
  }
  uint32_t p = uint32_t(int64_t(frames) * format_.BlockAlign()) % std::max<uint32_t>(Size(), 1);
  if (play) *play = p;
  if (write) {
    uint32_t ahead = uint32_t(format_.BytesPerSecond() / 100);
    ahead -= ahead % uint32_t(format_.BlockAlign());
    *write = (p + ahead) % std::max<uint32_t>(Size(), 1);
  }
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::SetVolume(int32_t volume) {
  std::lock_guard lock(mutex_);
  volume_ = std::clamp(volume, -10000, 0);
  gain_ = GainOf(volume_);
  return TSoundResult::Ok;
}

int32_t TSoundBuffer::Volume() const {
  std::lock_guard lock(mutex_);
  return volume_;
}

bool TSoundBuffer::Playing() const {
  std::lock_guard lock(mutex_);
  return playing_;
}

bool TSoundBuffer::Lost() const {
  std::lock_guard lock(mutex_);
  return lost_;
}

TSoundResult TSoundBuffer::Restore() {
  if (device_ && !device_->CheckAlive()) return TSoundResult::Lost;
  std::lock_guard lock(mutex_);
  lost_ = false;
  return TSoundResult::Ok;
}

int32_t TSoundBuffer::SampleAt(int64_t frame, int channel) const {
  const uint8_t* p = data_.data() + frame * format_.BlockAlign();
  int c = format_.channels == 1 ? 0 : channel;
  if (format_.bits == 8) return (int32_t(p[c]) - 128) << 8;
  int16_t s;
  std::memcpy(&s, p + 2 * c, 2);
  return s;
}

void TSoundBuffer::MixInto(int32_t* acc, int32_t frames) {
  if (!playing_ || lost_ || data_.empty()) return;
  mixedPull_ = device_ ? device_->pulls_.load() : -1;
  const int64_t total = int64_t(data_.size()) / format_.BlockAlign();
  const double step = double(format_.rate) / kDeviceFormat.rate;
  const bool unity = volume_ == 0;
  for (int32_t i = 0; i < frames; ++i) {
    int64_t f = int64_t(cursor_);
    int32_t l = SampleAt(f, 0), r = SampleAt(f, 1);
    if (!unity) {
      l = int32_t(std::lround(l * gain_));
      r = int32_t(std::lround(r * gain_));
    }
    acc[2 * i] += l;
    acc[2 * i + 1] += r;
    cursor_ += step;
    if (cursor_ >= double(total)) {
      cursor_ -= double(total);
      if (!looping_) {
        cursor_ = 0;
        playing_ = false;
        return;
      }
    }
  }
}

// --- TwinWaveOutDevice ---

TwinWaveOutDevice::TwinWaveOutDevice(std::vector<std::unique_ptr<TSoundBackend>> backends) {
  TLog& log = Log();
  bool first = true;
  std::unique_ptr<TSoundBackend> waiting;
  for (auto& b : backends) {
    // The first back end is the preferred interface, the others its fallbacks.
    log.Line(first ? "-> DirectSoundCreate8 [MusicClasses, 158]"
                   : "-> DirectSoundCreate [MusicClasses, 167]");
    realTime_ = b->RealTime();
    bool opened = b->Open([this](int16_t* out, int32_t frames) { Render(out, frames); });
    log.Line(first ? "<- DirectSoundCreate8 [MusicClasses, 160]"
                   : "<- DirectSoundCreate [MusicClasses, 169]");
    if (opened) {
      if (first) log.Line("DirectSound8 <> nil [MusicClasses, 163]");
      backend_ = std::move(b);
      break;
    }
    if (first && b->MayAppear()) waiting = std::move(b);
    first = false;
  }
  if (!backend_) {
    log.Line("!!! FDirectSound = nil [MusicClasses, 173]");
    // The show starts silent; the watch opens the output once it appears.
    backend_ = std::move(waiting);
    return;
  }
  log.Line("-> FDirectSound.SetCooperativeLevel [MusicClasses, 184]");
  if (!backend_->Alive()) {
    log.Line("<- !!! FDirectSound.SetCooperativeLevel [MusicClasses, 186]");
    backend_->Close();
    backend_.reset();
    return;
  }
  log.Line("<- FDirectSound.SetCooperativeLevel [MusicClasses, 189]");
  pullTime_ = SteadyNs();
}

TwinWaveOutDevice::~TwinWaveOutDevice() {
  if (!backend_) return;
  Log().Line("-> FDirectSound := nil [MusicClasses, 216]");
  backend_->Close();
  {
    std::lock_guard lock(mutex_);
    for (TSoundBuffer* b : buffers_) b->device_ = nullptr;
    buffers_.clear();
  }
  backend_.reset();
  Log().Line("<- FDirectSound := nil [MusicClasses, 218]");
}

std::unique_ptr<TSoundBuffer> TwinWaveOutDevice::CreateSoundBuffer(const TSoundFormat& format,
                                                                   uint32_t bytes) {
  if (!backend_) return nullptr;
  if ((format.bits != 8 && format.bits != 16) || (format.channels != 1 && format.channels != 2) ||
      format.rate < 1000 || format.rate > 384000 || bytes < uint32_t(format.BlockAlign()) ||
      bytes > (64u << 20))
    return nullptr;
  std::unique_ptr<TSoundBuffer> b(new TSoundBuffer(this, format, bytes));
  std::lock_guard lock(mutex_);
  buffers_.push_back(b.get());
  return b;
}

void TwinWaveOutDevice::Remove(TSoundBuffer* buffer) {
  std::lock_guard lock(mutex_);
  std::erase(buffers_, buffer);
}

bool TwinWaveOutDevice::CheckAlive() {
  if (!backend_) return false;
  if (backend_->Alive()) return true;
  std::lock_guard lock(mutex_);
  for (TSoundBuffer* b : buffers_) {
    std::lock_guard bl(b->mutex_);
    b->lost_ = true;
    b->playing_ = false;
  }
  return false;
}

bool TwinWaveOutDevice::OutputAlive() const {
  if (!backend_ || !backend_->Alive()) return false;
  // A device that stopped asking for sound is as gone as one pulled out; two
  // seconds, so that a busy machine's scheduling gaps are not taken for it.
  constexpr int64_t kSilentNs = 2'000'000'000;
  return !realTime_ || SteadyNs() - pullTime_.load() < kSilentNs;
}

void TwinWaveOutDevice::ReleaseOutput() {
  // Not under mutex_: closing waits for a pull in progress, which takes it.
  if (backend_) backend_->Release();
}

bool TwinWaveOutDevice::ReopenOutput() {
  if (!backend_ || !backend_->Reopen()) return false;
  pullTime_ = SteadyNs();
  std::lock_guard lock(mutex_);
  for (TSoundBuffer* b : buffers_) {
    std::lock_guard bl(b->mutex_);
    b->lost_ = false;
  }
  return true;
}

void TwinWaveOutDevice::Render(int16_t* out, int32_t frames) {
  std::lock_guard lock(mutex_);
  pullTime_ = SteadyNs();
  pullFrames_ = frames;
  ++pulls_;
  acc_.assign(size_t(frames) * 2, 0);
  for (TSoundBuffer* b : buffers_) {
    std::lock_guard bl(b->mutex_);
    b->MixInto(acc_.data(), frames);
  }
  for (size_t i = 0; i < acc_.size(); ++i) out[i] = int16_t(std::clamp(acc_[i], -32768, 32767));
}

}  // namespace lum
