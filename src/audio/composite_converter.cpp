#include "audio/composite_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "audio/decoders/converter_factory.h"
#include "audio/decoders/stream_opener.h"

namespace lum {

namespace {

int64_t FrameOfMs(double ms) {
  return MixBytesOfMs(ms) / kMixFrameBytes;
}

TVolumeParamsList MakeEnvelopes(const std::vector<std::vector<TVolumeItem>>& envs, double lengthMs,
                                bool automatic) {
  TVolumeParamsList list;
  for (const auto& points : envs) list.Add(TVolumeParams(points));
  if (automatic) {
    // Every item fades in and out over 10 ms, so no item starts or stops with a click.
    int32_t len = int32_t(std::lround(lengthMs));
    int32_t f = int32_t(TCompositeConverter::kAutoFadeMs);
    list.Add(TVolumeParams({{0, 0}, {f, 1000}, {len - f, 1000}, {len, 0}}, true));
  }
  list.Prepare(lengthMs);
  return list;
}

// Applies a gain to a sample with the mixer's bands: unity passes unchanged,
// a gain at or below `silent` contributes nothing.
inline int32_t Banded(int32_t s, double g, bool allUnity, double silent) {
  if (allUnity || (g > 0.99 && g < 1.01)) return s;
  if (g <= silent) return 0;
  double v = g * s;
  return int32_t(v >= 0 ? v + 0.5 : v - 0.5);
}

}  // namespace

TCompositeItem::~TCompositeItem() {
  Close();
}

int64_t TCompositeItem::StartByte() const {
  return MixBytesOfMs(double(params_.timeLine));
}

double TCompositeItem::EndMs() const {
  if (params_.duration > 0) return double(params_.timeLine + params_.duration);
  return double(params_.timeLine) + fileLength_ + 10000;
}

void TCompositeItem::Close() {
  decoder_.reset();
  if (stream_) CloseSoundStream(std::move(stream_));
}

bool TCompositeItem::OpenAt(double fileMs) {
  Close();
  try {
    stream_ = OpenSoundStream(params_.fileName);
    TMediaInfo info;
    if (!DetectMediaInfo(stream_.get(), params_.fileName, info)) {
      Close();
      return false;
    }
    fileLength_ = info.durationMs;
    decoder_ = CreateWavConverter(stream_.get(), params_.fileName, info);
    if (!decoder_ || !decoder_->Open(info)) {
      Close();
      return false;
    }
    decoder_->SetOutputFormat(MixFormat());
    decoder_->Seek(std::max(0.0, fileMs));
    return true;
  } catch (const std::exception&) {
    Close();
    return false;
  }
}

TCompositeConverter::TCompositeConverter(std::string text)
    : TWavConverter(nullptr), text_(std::move(text)) {}

TCompositeConverter::~TCompositeConverter() = default;

bool TCompositeConverter::Open(const TMediaInfo& info) {
  info_ = info;
  if (!params_.Parse(text_)) return false;
  info_.type = kMediaComposite;
  info_.format = MixFormat();
  info_.durationMs = uint32_t(std::clamp<int64_t>(params_.duration, 0, UINT32_MAX));
  all_.clear();
  for (const TCompositeItemParams& p : params_.items) {
    auto item = std::make_unique<TCompositeItem>(p);
    double len = double(p.compositionEnd - p.timeLine);
    if (p.duration > 0) len = std::min(len, double(p.duration));
    item->playLength = std::max(0.0, len);
    item->envelopes = MakeEnvelopes(p.envelopes, item->playLength, true);
    all_.push_back(std::move(item));
  }
  main_.clear();
  for (const TMainVolumeParams& mv : params_.mainVolume)
    main_.push_back(MakeEnvelopes(mv.envelopes, double(mv.duration), false));
  endByte_ = MixBytesOfMs(double(params_.duration));
  decoded_ = MixFormat();
  chunkSize_ = kBlockBytes;
  input_ = TLocalBuffer(kBlockBytes);
  input_.format = decoded_;
  acc_.assign(kBlockBytes / 2, 0);
  SetOutputFormat(decoded_);
  Seek(0);
  return true;
}

void TCompositeConverter::SortWaiting() {
  std::stable_sort(waiting_.begin(), waiting_.end(), [](TCompositeItem* a, TCompositeItem* b) {
    return a->Params().timeLine < b->Params().timeLine;
  });
}

void TCompositeConverter::PositionMain(int64_t frame) {
  for (size_t i = 0; i < main_.size(); ++i)
    main_[i].SetPosition(frame - FrameOfMs(double(params_.mainVolume[i].start)));
}

void TCompositeConverter::Seek(double ms) {
  if (ms < 0) ms = 0;
  ResetBuffers();
  for (auto& item : all_) item->Close();
  waiting_.clear();
  ready_.clear();
  playing_.clear();
  finished_.clear();
  for (auto& item : all_) waiting_.push_back(item.get());
  SortWaiting();
  mixPos_ = std::min(MixBytesOfMs(ms), endByte_);
  double t = double(mixPos_) * 1000.0 / kMixBytesPerSec;
  size_t i = 0;
  for (; i < waiting_.size(); ++i) {
    TCompositeItem* item = waiting_[i];
    const TCompositeItemParams& p = item->Params();
    if (double(p.timeLine) >= t + kLookAheadMs) break;
    if (item->playLength <= 0 || !RoomToOpen()) continue;
    if (p.duration > 0 && item->EndMs() <= t) continue;
    if (double(p.timeLine) < t) {
      double into = t - double(p.timeLine);
      if (into >= item->playLength) continue;
      if (!item->OpenAt(into + double(p.beginTime))) continue;
      // Files without a duration end where the file does; measured only once open.
      if (p.duration == 0 && item->EndMs() <= t) {
        item->Close();
        continue;
      }
      item->envelopes.SetPosition(FrameOfMs(t) - FrameOfMs(double(p.timeLine)));
      item->blockOffset = 0;
      playing_.push_back(item);
    } else {
      if (!item->OpenAt(double(p.beginTime))) continue;
      item->envelopes.SetPosition(0);
      ready_.push_back(item);
    }
  }
  waiting_.erase(waiting_.begin(), waiting_.begin() + i);
  PositionMain(mixPos_ / kMixFrameBytes);
  position_ = t;
}

void TCompositeConverter::OpenAhead() {
  double t = double(mixPos_) * 1000.0 / kMixBytesPerSec;
  size_t i = 0;
  for (; i < waiting_.size(); ++i) {
    TCompositeItem* item = waiting_[i];
    if (double(item->Params().timeLine) >= t + kLookAheadMs) break;
    if (item->playLength <= 0 || !RoomToOpen()) continue;
    if (!item->OpenAt(double(item->Params().beginTime))) continue;
    item->envelopes.SetPosition(0);
    ready_.push_back(item);
  }
  waiting_.erase(waiting_.begin(), waiting_.begin() + i);
}

void TCompositeConverter::MixItem(TCompositeItem& item, int32_t* acc, bool& ended) {
  TWavConverter* dec = item.Decoder();
  size_t offset = item.blockOffset;
  item.blockOffset = 0;
  size_t want = kBlockBytes - offset;
  ended = false;
  if (!dec) {
    ended = true;
    return;
  }
  bool more = dec->Fill(want);
  size_t real = want;
  if (!more) {
    real = want - std::min(want, dec->Padded());
    ended = true;
  }
  const uint8_t* src = dec->Output().Data();
  size_t frames = real / kMixFrameBytes;
  int32_t* a = acc + offset / 2;
  TVolumeParamsList& env = item.envelopes;
  for (size_t f = 0; f < frames; ++f) {
    int16_t l, r;
    std::memcpy(&l, src + f * 4, 2);
    std::memcpy(&r, src + f * 4 + 2, 2);
    bool unity;
    double g = env.Step(unity);
    if (g > 10) {
      // Accumulated drift: recompute from the position.
      int64_t frame = FrameOfMs(double(mixPos_) * 1000.0 / kMixBytesPerSec) +
                      int64_t((offset / 4) + f) - FrameOfMs(double(item.Params().timeLine));
      env.SetPosition(frame);
      g = env.Gain(unity);
    }
    a[2 * f] += Banded(l, g, unity, 0.00001);
    a[2 * f + 1] += Banded(r, g, unity, 0.00001);
  }
  dec->Output().Consume(want);
  if (env.AllFinished()) ended = true;
}

bool TCompositeConverter::ReadRaw() {
  if (mixPos_ >= endByte_) return false;
  if (input_.Free() < kBlockBytes) return true;
  std::fill(acc_.begin(), acc_.end(), 0);
  int64_t blockEnd = mixPos_ + int64_t(kBlockBytes);
  // Ready items that begin within this block start playing.
  for (auto it = ready_.begin(); it != ready_.end();) {
    int64_t start = (*it)->StartByte();
    if (start < blockEnd) {
      (*it)->blockOffset = size_t(std::max<int64_t>(0, start - mixPos_));
      playing_.push_back(*it);
      it = ready_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = playing_.begin(); it != playing_.end();) {
    bool ended;
    MixItem(**it, acc_.data(), ended);
    if (ended) {
      (*it)->Close();
      finished_.push_back(*it);
      it = playing_.erase(it);
    } else {
      ++it;
    }
  }
  // The whole-composition envelopes, each within its own composition.
  size_t frames = kBlockBytes / kMixFrameBytes;
  size_t n = size_t(std::min<int64_t>(int64_t(kBlockBytes), endByte_ - mixPos_));
  uint8_t* out = input_.FreeSpace();
  int64_t frame0 = mixPos_ / kMixFrameBytes;
  // Each main envelope's span in frames relative to this block.
  std::vector<std::pair<int64_t, int64_t>> spans;
  for (const TMainVolumeParams& mv : params_.mainVolume)
    spans.emplace_back(FrameOfMs(double(mv.start)) - frame0,
                       FrameOfMs(double(mv.start + mv.duration)) - frame0);
  for (size_t f = 0; f < frames; ++f) {
    double g = 1.0;
    bool unity = true;
    for (size_t m = 0; m < main_.size(); ++m) {
      // Every envelope moves on; each shapes only its own composition's span.
      bool u;
      double mg = main_[m].Step(u);
      int64_t fr = int64_t(f);
      if (u || fr < spans[m].first || fr >= spans[m].second) continue;
      unity = false;
      g *= mg;
    }
    for (int c = 0; c < 2; ++c) {
      int32_t v = Banded(acc_[2 * f + c], g, unity, 0.001);
      v = std::clamp(v, -32768, 32767);
      out[4 * f + 2 * c] = uint8_t(v & 0xFF);
      out[4 * f + 2 * c + 1] = uint8_t((v >> 8) & 0xFF);
    }
  }
  input_.Commit(n);
  mixPos_ += int64_t(kBlockBytes);
  if (mixPos_ > endByte_) mixPos_ = endByte_;
  OpenAhead();
  return mixPos_ < endByte_;
}

bool TCompositeConverter::Convert(TLocalBuffer& input) {
  DeliverPcm(input);
  return true;
}

void RegisterCompositeDecoder() {
  if (CompositeHook().create) return;
  TCompositeHook hook;
  hook.detect = [](std::string_view text, TMediaInfo& info) {
    TCompositeParams p;
    if (!p.Parse(text)) return false;
    info = TMediaInfo();
    info.type = kMediaComposite;
    info.format = MixFormat();
    info.durationMs = uint32_t(std::clamp<int64_t>(p.duration, 0, UINT32_MAX));
    return true;
  };
  hook.create = [](std::string_view text) -> std::unique_ptr<TWavConverter> {
    return std::make_unique<TCompositeConverter>(std::string(text));
  };
  SetCompositeHook(std::move(hook));
}

}  // namespace lum
