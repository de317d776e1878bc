// The exported C functions. Nothing may escape into the caller: allocation
// failures become the function's failure value.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "guarded.h"
#include "media.h"

#define LUM_EXPORT extern "C" __attribute__((visibility("default")))

using lumvideo::Frame;
using lumvideo::Guarded;
using lumvideo::Media;
using lumvideo::QuietLibraries;

// FFmpeg's own messages would flood the player's output on damaged files.
void lumvideo::QuietLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!std::getenv("LUM_VIDEO_DEBUG")) av_log_set_level(AV_LOG_QUIET);
  });
}

namespace {

Media* M(LumMedia media) {
  return static_cast<Media*>(media);
}

Frame* F(LumFrame frame) {
  return static_cast<Frame*>(frame);
}

}  // namespace

LUM_EXPORT LumMedia OpenMediaFile2(const char* name, const LumVideoReader* reader,
                                   LumVideoMediaInfo* info, int32_t flags) {
  QuietLibraries();
  if (!reader) return nullptr;
  return Guarded(LumMedia(nullptr),
                 [&]() -> LumMedia { return Media::Open(name, *reader, info, flags); });
}

LUM_EXPORT LumMedia OpenMediaFile(const char* name, const LumVideoReader* reader,
                                  LumVideoMediaInfo* info) {
  return OpenMediaFile2(name, reader, info, 0);
}

LUM_EXPORT void CloseMediaFile(LumMedia media) {
  delete M(media);
}

LUM_EXPORT LumFrame AllocBuffer(LumMedia media) {
  if (!media) return nullptr;
  Frame* f = new (std::nothrow) Frame;
  if (f && !f->av) {
    delete f;
    return nullptr;
  }
  return f;
}

// Frames live in decoder-owned memory, so the caller's block is not needed.
LUM_EXPORT LumFrame AllocBufferWithData(LumMedia media, void*, int32_t) {
  return AllocBuffer(media);
}

LUM_EXPORT void FreeBuffer(LumFrame frame) {
  delete F(frame);
}

LUM_EXPORT int32_t ConvertFrame(LumMedia media, LumFrame frame, int32_t format, void* out,
                                int32_t pitch) {
  if (!media || !frame) return -1;
  return M(media)->Convert(*F(frame), format, out, pitch);
}

LUM_EXPORT int32_t GetNextVideoFrame(LumMedia media, LumFrame frame) {
  if (!media || !frame) return -1;
  return Guarded(-1, [&] { return M(media)->NextVideoFrame(*F(frame)); });
}

LUM_EXPORT int32_t SeekFile(LumMedia media, int32_t stream, int64_t time, int32_t flags) {
  if (!media) return -1;
  return M(media)->Seek(stream, time, flags);
}

// The name's length; the name itself when the buffer holds it with its end.
LUM_EXPORT int32_t GetFormatName(LumMedia media, char* buffer, int32_t size) {
  if (!media) return -1;
  const char* name = M(media)->FormatName();
  int32_t n = int32_t(std::strlen(name));
  if (buffer && size > n) std::memcpy(buffer, name, size_t(n) + 1);
  return n;
}

LUM_EXPORT void Flush(LumMedia media) {
  if (!media) return;
  M(media)->FlushVideo();
  M(media)->FlushAudio();
}

LUM_EXPORT void FlushVideo(LumMedia media) {
  if (media) M(media)->FlushVideo();
}

LUM_EXPORT int32_t GetFrameInfo(LumFrame frame) {
  return frame ? F(frame)->info : -1;
}

LUM_EXPORT int32_t GetDtsPts(LumFrame frame, int64_t* dts, int64_t* pts) {
  if (!frame || F(frame)->info < 0) return -1;
  const AVFrame* f = F(frame)->av;
  if (dts) *dts = f->pkt_dts == AV_NOPTS_VALUE ? -1 : f->pkt_dts;
  if (pts) *pts = f->best_effort_timestamp == AV_NOPTS_VALUE ? -1 : f->best_effort_timestamp;
  return 0;
}

LUM_EXPORT int32_t GetDtsPts2(LumFrame frame, int64_t* dts, int64_t* pts) {
  if (!frame || F(frame)->info < 0) return -1;
  if (dts) *dts = F(frame)->dtsUs;
  if (pts) *pts = F(frame)->ptsUs;
  return 0;
}

LUM_EXPORT int32_t GetAudioInfo(LumMedia media, LumVideoAudioInfo* info) {
  if (!media || !info) return -1;
  return M(media)->AudioInfo(*info) ? 0 : -1;
}

LUM_EXPORT int32_t OpenAudioStream(LumMedia media) {
  if (!media) return -1;
  return Guarded(-1, [&] { return M(media)->OpenAudio() ? 0 : -1; });
}

LUM_EXPORT void CloseAudioStream(LumMedia media) {
  if (media) M(media)->CloseAudio();
}

LUM_EXPORT int32_t GetNextAudioFrame(LumMedia media, uint8_t* buffer, int32_t size) {
  if (!media || !buffer) return -1;
  return Guarded(-1, [&] { return M(media)->ReadAudio(buffer, size); });
}

LUM_EXPORT void AfterAudioSeek(LumMedia media) {
  if (media) M(media)->AfterAudioSeek();
}

LUM_EXPORT int64_t GetCurrentPts(LumMedia media) {
  return media ? M(media)->CurrentPtsUs() : -1;
}

// Writing files is not part of the player.
LUM_EXPORT void* CreateVideoFile(void) {
  return nullptr;
}

LUM_EXPORT void* CreateAudioFile(void) {
  return nullptr;
}

LUM_EXPORT void* CreateVideoAudioFile(void) {
  return nullptr;
}
