#include "audio/decoders/mpeg_converter.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>

namespace lum {

// The library is initialised once for all MPEG decoders and released with
// the last one. Each decoder keeps its own handle, so refill threads decode
// side by side; the lock guards initialisation and handle creation.
struct TMpegConverter::TShared {
  std::mutex lock;
  int users = 0;
  bool initOk = false;
};

namespace {
TMpegConverter::TShared* SharedMpeg() {
  static TMpegConverter::TShared shared;
  return &shared;
}
}  // namespace

TMpegConverter::TMpegConverter(TStream* stream) : TWavConverter(stream) {
  shared_ = SharedMpeg();
  std::lock_guard guard(shared_->lock);
  if (shared_->users++ == 0) shared_->initOk = mpg123_init() == MPG123_OK;
}

TMpegConverter::~TMpegConverter() {
  std::lock_guard guard(shared_->lock);
  if (handle_) mpg123_delete(static_cast<mpg123_handle*>(handle_));
  if (--shared_->users == 0 && shared_->initOk) {
    mpg123_exit();
    shared_->initOk = false;
  }
}

void TMpegConverter::ResetDecoder() {
  std::lock_guard guard(shared_->lock);
  if (handle_) {
    mpg123_delete(static_cast<mpg123_handle*>(handle_));
    handle_ = nullptr;
  }
  if (!shared_->initOk) return;
  mpg123_handle* h = mpg123_new(nullptr, nullptr);
  if (!h) return;
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  // Every frame yields its full length, so times map to frames exactly.
  mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_format_none(h);
  mpg123_format(h, long(decoded_.samplesPerSec),
                decoded_.channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(h) != MPG123_OK) {
    mpg123_delete(h);
    return;
  }
  handle_ = h;
}

bool TMpegConverter::Open(const TMediaInfo& info) {
  if (!stream_) return false;
  info_ = info;
  uint8_t head[4];
  stream_->Seek(info.dataOffset, TSeekOrigin::Begin);
  if (stream_->Read(head, 4) != 4) return false;
  uint32_t h = uint32_t(head[0]) << 24 | uint32_t(head[1]) << 16 | uint32_t(head[2]) << 8 | head[3];
  if (!ParseMpegHeader(h, first_)) return false;
  std::vector<uint8_t> frame(size_t(std::min<int64_t>(first_.frameBytes, 1729)));
  stream_->Seek(info.dataOffset, TSeekOrigin::Begin);
  size_t got = 0;
  while (got < frame.size()) {
    size_t r = stream_->Read(frame.data() + got, frame.size() - got);
    if (!r) break;
    got += r;
  }
  bool infoFrame = MpegVbrFrameCount(frame.data(), got) >= 0;
  index_.Reset(info.dataOffset, info.dataSize, first_, infoFrame);
  chunkSize_ = 4096;
  input_ = TLocalBuffer(chunkSize_);
  input_.format = info.format;
  decoded_ = PcmFormat(uint32_t(first_.sampleRate), uint16_t(first_.channels));
  pcm_.format = decoded_;
  dataEnd_ = int64_t(info.dataOffset) + info.dataSize;
  SetOutputFormat(decoded_);
  Seek(0);
  return handle_ != nullptr;
}

void TMpegConverter::Decode(const uint8_t* data, size_t size, TLocalBuffer& pcm) {
  auto* h = static_cast<mpg123_handle*>(handle_);
  if (!h) return;
  if (size && mpg123_feed(h, data, size) != MPG123_OK) return;
  for (;;) {
    off_t num;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    int rc = mpg123_decode_frame(h, &num, &audio, &bytes);
    if (rc == MPG123_NEW_FORMAT) continue;
    if (rc != MPG123_OK) break;
    if (bytes) pcm.AppendBytes(audio, bytes);
  }
}

bool TMpegConverter::Convert(TLocalBuffer& input) {
  try {
    Decode(input.Data(), input.Size(), pcm_);
  } catch (const std::exception&) {
    // A broken block yields nothing; decoding goes on with the next one.
  }
  input.Clear();
  size_t skip = std::min(discard_, pcm_.Size());
  if (skip) {
    pcm_.Consume(skip);
    discard_ -= skip;
  }
  DeliverPcm(pcm_);
  return true;
}

void TMpegConverter::Seek(double ms) {
  if (ms < 0) ms = 0;
  ResetDecoder();
  ResetBuffers();
  pcm_.Clear();
  double lead = std::min(ms, 100.0);
  int64_t offset = info_.dataOffset;
  double frameMs = 0;
  if (stream_) {
    index_.Locate(*stream_, ms - lead, offset, frameMs);
    stream_->Seek(offset, TSeekOrigin::Begin);
  }
  // The PCM between the frame's time and ms is decoded and dropped: the first
  // sample delivered belongs to ms.
  int64_t frames = std::llround((ms - frameMs) / 1000.0 * decoded_.samplesPerSec);
  discard_ = size_t(std::max<int64_t>(0, frames)) * decoded_.blockAlign;
  position_ = ms;
}

}  // namespace lum
