// The encoder's exported C functions. As with decoding, nothing may escape
// into the caller: allocation failures become the function's failure value.
#include <algorithm>
#include <cstring>

#include "encoder.h"
#include "guarded.h"
#include "media.h"

#define LUM_EXPORT extern "C" __attribute__((visibility("default")))

using lumvideo::Encoder;
using lumvideo::Guarded;

namespace {

Encoder* E(LumEncoder e) {
  return static_cast<Encoder*>(e);
}

// Copies text with its end into a caller's buffer; returns the text's length.
int32_t CopyOut(const std::string& text, char* buffer, int32_t size) {
  if (buffer && size > 0) {
    const size_t n = std::min(text.size(), size_t(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
  }
  return int32_t(text.size());
}

}  // namespace

LUM_EXPORT LumEncoder CreateEncoder(const char* path, const LumEncoderSettings* settings,
                                    char* error, int32_t errorSize) {
  lumvideo::QuietLibraries();
  std::string why = "no file or settings";
  Encoder* e = nullptr;
  if (path && settings)
    e = Guarded(static_cast<Encoder*>(nullptr),
                [&] { return Encoder::Create(path, *settings, why); });
  if (!e && why.empty()) why = "out of memory";
  if (!e) CopyOut(why, error, errorSize);
  return e;
}

LUM_EXPORT int32_t EncodeVideoFrame(LumEncoder e, const uint8_t* bgra, int32_t pitch,
                                    int64_t frame) {
  if (!e) return -1;
  return Guarded(-1, [&] { return E(e)->Video(bgra, pitch, frame) ? 0 : -1; });
}

LUM_EXPORT int32_t EncodeAudio(LumEncoder e, const int16_t* pcm, int32_t frames) {
  if (!e || (!pcm && frames > 0)) return -1;
  return Guarded(-1, [&] { return E(e)->Audio(pcm, frames) ? 0 : -1; });
}

LUM_EXPORT int32_t FinishEncoder(LumEncoder e) {
  if (!e) return -1;
  return Guarded(-1, [&] { return E(e)->Finish() ? 0 : -1; });
}

LUM_EXPORT int32_t GetEncoderError(LumEncoder e, char* buffer, int32_t size) {
  return e ? CopyOut(E(e)->Error(), buffer, size) : -1;
}

LUM_EXPORT void FreeEncoder(LumEncoder e) {
  delete E(e);
}
