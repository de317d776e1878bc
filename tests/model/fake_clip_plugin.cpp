// A stand-in for the video library that decodes "clips" described by one
// text line: "FAKECLIP width height rateNum rateDen frames flags". Frame n is
// solid luma 16 + 8 n (mod 224) with neutral chroma, so a drawn pixel tells
// which frame is shown; every frame is a key frame. Flags are the frame
// flags, plus 8 for fields that differ: odd rows 64 brighter.
#include <cstdio>
#include <cstring>
#include <string>

#include "video/lumvideo_api.h"

namespace {

struct Clip {
  int w = 0, h = 0, num = 0, den = 0, frames = 0, flags = 0;
  int next = 0;  // frame the next decode gives
};

struct Frame {
  Clip* clip = nullptr;
  int index = -1;
};

}  // namespace

extern "C" {

#define EXPORT __attribute__((visibility("default")))

EXPORT LumMedia OpenMediaFile(const char*, const LumVideoReader* reader, LumVideoMediaInfo* info) {
  char text[128] = {};
  int32_t n = reader->read(reader->user, reinterpret_cast<uint8_t*>(text), sizeof(text) - 1);
  if (n <= 0) return nullptr;
  text[n] = 0;
  Clip c;
  if (std::sscanf(text, "FAKECLIP %d %d %d %d %d %d", &c.w, &c.h, &c.num, &c.den, &c.frames,
                  &c.flags) != 6 ||
      c.frames <= 0)
    return nullptr;
  *info = {};
  info->timeBaseNum = c.den > 0 && c.num > 0 ? c.den : 1;
  info->timeBaseDen = c.den > 0 && c.num > 0 ? c.num : 25;
  // Frames come 25 a second whatever rate the header claims.
  if (c.num <= 0 || c.den <= 0) c.num = 25, c.den = 1;
  const long long us = c.num > 0 ? (long long)c.frames * 1000000 * c.den / c.num : 0;
  info->durationUs = info->videoDurationUs = us;
  info->audioDurationUs = -1;
  info->width = c.w;
  info->height = c.h;
  info->frameRateNum = info->timeBaseDen == 25 && info->timeBaseNum == 1 && c.num == 25 ? 0 : c.num;
  info->frameRateDen = info->frameRateNum ? c.den : 0;
  return new Clip(c);
}
EXPORT LumMedia OpenMediaFile2(const char* name, const LumVideoReader* reader,
                               LumVideoMediaInfo* info, int32_t) {
  return OpenMediaFile(name, reader, info);
}
EXPORT void CloseMediaFile(LumMedia media) {
  delete static_cast<Clip*>(media);
}
EXPORT LumFrame AllocBuffer(LumMedia media) {
  return new Frame{static_cast<Clip*>(media), -1};
}
EXPORT LumFrame AllocBufferWithData(LumMedia media, void*, int32_t) {
  return AllocBuffer(media);
}
EXPORT void FreeBuffer(LumFrame frame) {
  delete static_cast<Frame*>(frame);
}
EXPORT int32_t ConvertFrame(LumMedia, LumFrame frame, int32_t format, void* out, int32_t pitch) {
  auto* f = static_cast<Frame*>(frame);
  if (format != LUM_VIDEO_YUV420P || f->index < 0 || pitch < f->clip->w) return -1;
  const int w = f->clip->w, h = f->clip->h, cp = pitch / 2, ch = (h + 1) / 2;
  auto* p = static_cast<uint8_t*>(out);
  std::memset(p, 16 + (f->index * 8) % 224, size_t(pitch) * h);
  if (f->clip->flags & 8)
    for (int r = 1; r < h; r += 2)
      std::memset(p + size_t(r) * pitch, 80 + (f->index * 8) % 160, size_t(pitch));
  std::memset(p + size_t(pitch) * h, 128, size_t(cp) * ch * 2);
  (void)w;
  return 0;
}
EXPORT int32_t GetNextVideoFrame(LumMedia media, LumFrame frame) {
  auto* c = static_cast<Clip*>(media);
  if (c->next >= c->frames) return -1;
  static_cast<Frame*>(frame)->index = c->next++;
  return 0;
}
EXPORT int32_t SeekFile(LumMedia media, int32_t, int64_t time, int32_t) {
  auto* c = static_cast<Clip*>(media);
  // The first frame at or after the time, as the library skips to it.
  const long long n = (time * c->num + 999999LL * c->den) / (1000000LL * c->den);
  c->next = int(n < 0 ? 0 : n >= c->frames ? c->frames - 1 : n);
  return 0;
}
EXPORT int32_t GetFormatName(LumMedia, char* buffer, int32_t size) {
  static const char kName[] = "fakeclip";
  if (buffer && size > 0) std::snprintf(buffer, size_t(size), "%s", kName);
  return int32_t(sizeof(kName) - 1);
}
EXPORT void Flush(LumMedia) {}
EXPORT void FlushVideo(LumMedia) {}
EXPORT int32_t GetFrameInfo(LumFrame frame) {
  return static_cast<Frame*>(frame)->clip->flags & 7;
}
EXPORT int32_t GetDtsPts(LumFrame frame, int64_t* dts, int64_t* pts) {
  *dts = *pts = static_cast<Frame*>(frame)->index;
  return 0;
}
EXPORT int32_t GetDtsPts2(LumFrame frame, int64_t* dts, int64_t* pts) {
  return GetDtsPts(frame, dts, pts);
}
EXPORT int32_t GetAudioInfo(LumMedia, LumVideoAudioInfo*) {
  return -1;
}
EXPORT int32_t OpenAudioStream(LumMedia) {
  return -1;
}
EXPORT void CloseAudioStream(LumMedia) {}
EXPORT int32_t GetNextAudioFrame(LumMedia, uint8_t*, int32_t) {
  return -1;
}
EXPORT void AfterAudioSeek(LumMedia) {}
EXPORT int64_t GetCurrentPts(LumMedia) {
  return 0;
}
EXPORT void* CreateVideoFile(void) {
  return nullptr;
}
EXPORT void* CreateAudioFile(void) {
  return nullptr;
}
EXPORT void* CreateVideoAudioFile(void) {
  return nullptr;
}
}
