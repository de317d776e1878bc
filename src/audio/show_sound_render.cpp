#include "audio/show_sound_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "audio/decoders/converter_factory.h"
#include "audio/decoders/media_info.h"
#include "audio/decoders/stream_opener.h"
#include "foundation/file_stream.h"

namespace lum {

namespace {

constexpr double kFadeMs = 10;
constexpr double kEndless = 1e300;

// The source's length in ms (0 when it cannot be opened).
struct TOpenedSource {
  std::unique_ptr<TStream> stream;
  std::unique_ptr<TWavConverter> decoder;
  TMediaInfo info;
  ~TOpenedSource() {
    decoder.reset();
    if (stream) CloseSoundStream(std::move(stream));
  }
};

std::unique_ptr<TOpenedSource> OpenSource(const std::string& name) {
  auto src = std::make_unique<TOpenedSource>();
  bool composition = IsCompositionText(name);
  if (!composition) {
    src->stream = OpenSoundStream(name);
    if (!src->stream) return nullptr;
  }
  try {
    if (!DetectMediaInfo(src->stream.get(), name, src->info)) return nullptr;
    if (src->stream && src->info.type == kMediaMpeg && src->info.mpegInWave) {
      CloseSoundStream(std::move(src->stream));
      src->stream = OpenSoundStream(name, src->info.dataOffset);
      if (!src->stream) return nullptr;
    }
    src->decoder = CreateWavConverter(src->stream.get(), name, src->info);
    if (!src->decoder || !src->decoder->Open(src->info)) return nullptr;
    src->decoder->SetOutputFormat(MixFormat());
  } catch (const std::exception&) {
    return nullptr;
  }
  return src;
}

}  // namespace

int64_t FrameOfMs(double ms) {
  return int64_t(std::floor(ms * 176400.0 / 4000.0));
}

std::vector<TSoundSegment> PlanShowSound(const TLumMusicSource& music, double from, double to) {
  std::vector<TSoundSegment> plan;
  const TLumSource& source = music.Source();
  const double length = source.Duration();
  const bool loops = source.Repeats() && length > 0;
  if (const TPlayList* list = music.PlayList(); list && list->Count() > 0) {
    auto addSequence = [&](double start, double cut) {
      for (int64_t i = 0;; ++i) {
        if (!list->Repeat() && i >= list->Count()) break;
        TMusicItemInfo item = list->Item(i);
        if (item.duration <= 0 && list->Total() <= 0) break;
        double s = start + item.start;
        if (s >= cut || s >= to) break;
        // The next cycle's sequence stops this one when it starts.
        double e = std::min(s + item.duration, cut);
        if (e + kFadeMs > from) plan.push_back({item.fileName, s, e, item.offset, false});
      }
    };
    if (music.SyncMode()) {
      int64_t cycles = loops ? int64_t(std::ceil(to / length)) : 1;
      for (int64_t c = 0; c < cycles; ++c)
        addSequence(double(c) * length, loops ? double(c + 1) * length : kEndless);
    } else {
      addSequence(0, kEndless);
    }
  }
  const int64_t count = music.SlideCount();
  for (int64_t i = 0; count > 0; ++i) {
    if (!loops && i >= count) break;
    TSlideMusicInfo info = music.Slide(i);
    if (info.slide.start >= to) break;
    if (info.comment.empty() || info.length <= 0) continue;
    // A comment is stopped 10 ms before its end.
    double e = info.slide.start + std::max(info.length - kFadeMs, 0.0);
    if (e + kFadeMs > from) plan.push_back({info.comment, info.slide.start, e, 0, true});
  }
  return plan;
}

std::vector<int16_t> RenderShowSound(const TLumMusicSource& music, double from, double to) {
  const int64_t first = FrameOfMs(from);
  const int64_t frames = std::max<int64_t>(0, FrameOfMs(to) - first);
  std::vector<int32_t> acc(size_t(frames) * 2, 0);
  for (const TSoundSegment& seg : PlanShowSound(music, from, to)) {
    auto src = OpenSource(seg.name);
    if (!src) continue;
    // A channel ends where its source does.
    // Sound ends with the source or 10 ms after the stop.
    double end = std::min(seg.end + kFadeMs, seg.start + double(src->info.durationMs) - seg.offset);
    int64_t segFirst = FrameOfMs(seg.start);
    int64_t segEnd = FrameOfMs(end);
    int64_t stopFrame = FrameOfMs(seg.end);
    int64_t a = std::max(segFirst, first);
    int64_t b = std::min(segEnd, first + frames);
    if (b <= a) continue;
    double skip = double(a - segFirst) * 1000.0 / kMixRate;
    try {
      src->decoder->Seek(seg.offset + skip);
    } catch (const std::exception&) {
      continue;
    }
    const int64_t fade = int64_t(kFadeMs * kMixRate / 1000);
    const size_t chunk = 4410 * kMixFrameBytes;
    int64_t f = a;
    bool more = true;
    while (f < b && more) {
      size_t want = std::min<size_t>(chunk, size_t(b - f) * kMixFrameBytes);
      try {
        more = src->decoder->Fill(want);
      } catch (const std::exception&) {
        break;
      }
      const uint8_t* p = src->decoder->Output().Data();
      for (size_t k = 0; k < want / kMixFrameBytes; ++k, ++f) {
        int16_t s[2];
        std::memcpy(s, p + k * kMixFrameBytes, kMixFrameBytes);
        // The channel's 10 ms fade-in at its start and fade-out at its end.
        double g = 1.0;
        int64_t in = f - segFirst, out = f - stopFrame;
        if (in < fade) g = double(in) / double(fade);
        if (out >= 0) g = std::min(g, std::max(0.0, 1.0 - double(out) / double(fade)));
        size_t o = size_t(f - first) * 2;
        if (g >= 1.0) {
          acc[o] += s[0];
          acc[o + 1] += s[1];
        } else {
          acc[o] += int32_t(std::lround(s[0] * g));
          acc[o + 1] += int32_t(std::lround(s[1] * g));
        }
      }
      src->decoder->Output().Consume(want);
    }
  }
  std::vector<int16_t> out(acc.size());
  for (size_t i = 0; i < acc.size(); ++i) out[i] = int16_t(std::clamp(acc[i], -32768, 32767));
  return out;
}

void WriteWaveFile(const std::string& path, const std::vector<int16_t>& samples) {
  TFileStream file(path, TFileStream::TMode::Create);
  auto u32 = [](uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
  };
  auto u16 = [](uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
  };
  uint32_t data = uint32_t(samples.size() * 2);
  uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  u32(h + 4, 36 + data);
  u32(h + 16, 16);
  u16(h + 20, 1);
  u16(h + 22, 2);
  u32(h + 24, 44100);
  u32(h + 28, 176400);
  u16(h + 32, 4);
  u16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  u32(h + 40, data);
  file.WriteBuffer(h, sizeof h);
  std::vector<uint8_t> bytes(data);
  for (size_t i = 0; i < samples.size(); ++i) u16(bytes.data() + 2 * i, uint16_t(samples[i]));
  if (!bytes.empty()) file.WriteBuffer(bytes.data(), bytes.size());
}

}  // namespace lum
