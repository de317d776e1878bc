#include "audio/decoders/ogg_converter.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

#include "audio/decoders/pcm_resampler.h"

namespace lum {

namespace {

size_t ReadCb(void* ptr, size_t size, size_t nmemb, void* source) {
  if (size == 0) return 0;
  try {
    auto* s = static_cast<TStream*>(source);
    size_t want = size * nmemb, got = 0;
    while (got < want) {
      size_t r = s->Read(static_cast<uint8_t*>(ptr) + got, want - got);
      if (!r) break;
      got += r;
    }
    return got / size;
  } catch (const std::exception&) {
    return 0;
  }
}

int SeekCb(void* source, ogg_int64_t offset, int whence) {
  try {
    auto* s = static_cast<TStream*>(source);
    TSeekOrigin o = whence == SEEK_SET   ? TSeekOrigin::Begin
                    : whence == SEEK_CUR ? TSeekOrigin::Current
                                         : TSeekOrigin::End;
    int64_t target = offset;
    if (o == TSeekOrigin::Current) target += s->Position();
    if (o == TSeekOrigin::End) target += s->Size();
    if (target < 0) return -1;
    s->Seek(target, TSeekOrigin::Begin);
    return 0;
  } catch (const std::exception&) {
    return -1;
  }
}

long TellCb(void* source) {
  try {
    return long(static_cast<TStream*>(source)->Position());
  } catch (const std::exception&) {
    return -1;
  }
}

const ov_callbacks kCallbacks = {ReadCb, SeekCb, nullptr, TellCb};

bool UsableChannels(int channels) {
  return channels == 1 || channels == 2 || channels == 6;
}

}  // namespace

struct TOggConverter::TState {
  OggVorbis_File vf;
  bool open = false;
  int channels = 0;
  long rate = 0;
};

bool DetectOgg(TStream& stream, TMediaInfo& info) {
  stream.Seek(0, TSeekOrigin::Begin);
  OggVorbis_File vf;
  if (ov_open_callbacks(&stream, &vf, nullptr, 0, kCallbacks) != 0) return false;
  bool ok = false;
  if (vorbis_info* vi = ov_info(&vf, -1)) {
    if (UsableChannels(vi->channels) && vi->rate >= 1000 && vi->rate <= 384000) {
      double seconds = ov_time_total(&vf, -1);
      info = TMediaInfo();
      info.type = kMediaOgg;
      info.format = PcmFormat(uint32_t(vi->rate), uint16_t(vi->channels));
      int64_t size = stream.Size();
      info.dataSize = uint32_t(std::clamp<int64_t>(size, 0, UINT32_MAX));
      info.durationMs = seconds > 0 ? uint32_t(std::llround(seconds * 1000)) : 0;
      ok = true;
    }
  }
  ov_clear(&vf);
  return ok;
}

TOggConverter::TOggConverter(TStream* stream) : TWavConverter(stream) {}

TOggConverter::~TOggConverter() {
  Close();
}

void TOggConverter::Close() {
  if (state_ && state_->open) ov_clear(&state_->vf);
  state_.reset();
}

bool TOggConverter::Open(const TMediaInfo& info) {
  Close();
  if (!stream_) return false;
  info_ = info;
  state_ = std::make_unique<TState>();
  stream_->Seek(0, TSeekOrigin::Begin);
  if (ov_open_callbacks(stream_, &state_->vf, nullptr, 0, kCallbacks) != 0) {
    state_.reset();
    return false;
  }
  state_->open = true;
  vorbis_info* vi = ov_info(&state_->vf, -1);
  if (!vi || !UsableChannels(vi->channels)) return false;
  state_->channels = vi->channels;
  state_->rate = vi->rate;
  decoded_ = PcmFormat(uint32_t(vi->rate), uint16_t(vi->channels));
  chunkSize_ = 4096;
  input_ = TLocalBuffer(chunkSize_);
  input_.format = decoded_;
  // Six channels are folded to the mixing format.
  SetOutputFormat(vi->channels > 2 ? MixFormat() : decoded_);
  Seek(0);
  return true;
}

bool TOggConverter::ReadRaw() {
  if (!state_ || !state_->open || ended_) return false;
  size_t room = input_.Free();
  room -= room % decoded_.blockAlign;
  while (room > 0) {
    int section = 0;
    long n = ov_read(&state_->vf, reinterpret_cast<char*>(input_.FreeSpace()), int(room), 0, 2, 1,
                     &section);
    if (n == OV_HOLE) continue;  // a gap in the data: go on with what follows
    if (n <= 0) {
      ended_ = true;
      return false;
    }
    // A chained stream that changes its layout ends here.
    vorbis_info* vi = ov_info(&state_->vf, section);
    if (!vi || vi->channels != state_->channels || vi->rate != state_->rate) {
      ended_ = true;
      return false;
    }
    input_.Commit(size_t(n));
    break;
  }
  return true;
}

bool TOggConverter::Convert(TLocalBuffer& input) {
  DeliverPcm(input);
  return true;
}

void TOggConverter::Seek(double ms) {
  if (ms < 0) ms = 0;
  ResetBuffers();
  ended_ = false;
  if (state_ && state_->open) {
    ogg_int64_t frame = ogg_int64_t(std::floor(ms / 1000.0 * state_->rate));
    ogg_int64_t total = ov_pcm_total(&state_->vf, -1);
    if (total >= 0 && frame >= total) {
      ended_ = true;
    } else if (ov_pcm_seek(&state_->vf, frame) != 0) {
      ended_ = true;
    }
  }
  position_ = ms;
}

}  // namespace lum
