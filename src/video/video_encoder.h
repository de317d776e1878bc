#pragma once
// A video file written through the video library's encoder: pictures at
// frame numbers (1/fps apart, gaps hold the picture before), and sound.
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/ref_object.h"

namespace lum {

class TFFMpegDll;

struct TEncoderSettings {
  std::string container = "mp4";  // "mp4" or "webm"
  int width = 1920, height = 1080;
  int fps = 30;
  int crf = 20;
  std::string preset = "medium";
  int sampleRate = 44100;  // 0: no sound track
  int channels = 2;
};

class TVideoEncoder {
 public:
  // Creates the file; throws ELumError when the library or its encoder is
  // missing or the file cannot be made, with the reason.
  TVideoEncoder(const std::string& path, const TEncoderSettings& settings);
  // Closes an unfinished file as it stands (the caller removes it).
  ~TVideoEncoder();
  TVideoEncoder(const TVideoEncoder&) = delete;
  TVideoEncoder& operator=(const TVideoEncoder&) = delete;

  // A 32-bit BGRA picture of the settings' size shown from frame on: row y
  // at bgra + y * pitch (negative for rows stored bottom up); frame numbers
  // grow. Throws ELumError on failure (a full disk among them).
  void Picture(const uint8_t* bgra, ptrdiff_t pitch, int64_t frame);
  // The last picture again at frame.
  void Repeat(int64_t frame);
  // Interleaved 16-bit PCM, frames of the settings' channel count.
  void Sound(const int16_t* pcm, size_t frames);
  // Completes the file; throws ELumError when it cannot be completed.
  void Finish();

 private:
  [[noreturn]] void Throw(const std::string& what);
  TRef<TFFMpegDll> lib_;
  void* encoder_ = nullptr;
  int channels_ = 2;
};

}  // namespace lum
