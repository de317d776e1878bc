#include "video/video_encoder.h"

#include <algorithm>
#include <climits>

#include "foundation/errors.h"
#include "video/ffmpeg_dll.h"

namespace lum {

TVideoEncoder::TVideoEncoder(const std::string& path, const TEncoderSettings& s) {
  channels_ = std::max(s.channels, 1);
  lib_ = TFFMpegDll::Acquire();
  if (!lib_) throw ELumError("exporting needs the video library (liblumvideo.so), which is absent");
  if (!lib_->HasEncoder())
    throw ELumError("the video library (liblumvideo.so) found has no encoder: exporting needs a newer one");
  const LumEncoderSettings c{s.container.c_str(), s.width,      s.height,  s.fps, s.crf,
                             s.preset.c_str(),    s.sampleRate, s.channels};
  char error[512] = {};
  encoder_ = lib_->CreateEncoder(path.c_str(), &c, error, sizeof error);
  if (!encoder_) throw ELumError("cannot write \"" + path + "\": " + error);
}

TVideoEncoder::~TVideoEncoder() {
  if (encoder_) lib_->FreeEncoder(encoder_);
}

void TVideoEncoder::Throw(const std::string& what) {
  char error[512] = {};
  lib_->GetEncoderError(encoder_, error, sizeof error);
  throw ELumError(what + ": " + error);
}

void TVideoEncoder::Picture(const uint8_t* bgra, ptrdiff_t pitch, int64_t frame) {
  if (!bgra || pitch > INT32_MAX || pitch < -INT32_MAX) throw ELumError("no picture to encode");
  if (lib_->EncodeVideoFrame(encoder_, bgra, int32_t(pitch), frame) < 0) Throw("video encoding failed");
}

void TVideoEncoder::Repeat(int64_t frame) {
  if (lib_->EncodeVideoFrame(encoder_, nullptr, 0, frame) < 0) Throw("video encoding failed");
}

void TVideoEncoder::Sound(const int16_t* pcm, size_t frames) {
  constexpr size_t kStep = 1 << 20;
  for (size_t done = 0; done < frames; done += kStep) {
    const size_t n = std::min(kStep, frames - done);
    if (lib_->EncodeAudio(encoder_, pcm + done * size_t(channels_), int32_t(n)) < 0) Throw("sound encoding failed");
  }
}

void TVideoEncoder::Finish() {
  if (lib_->FinishEncoder(encoder_) < 0) Throw("the video file could not be completed");
}

}  // namespace lum
