// A stand-in video library for the tests: "opens" sources that begin with
// "FAKEAV" followed by 16-bit stereo 44.1 kHz PCM. Built without
// FAKE_COMPLETE it exports only one function, which makes it unusable.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "video/lumvideo_api.h"

namespace {
struct Media {
  std::vector<uint8_t> pcm;
  size_t pos = 0;
};
}  // namespace

extern "C" {

__attribute__((visibility("default"))) LumMedia OpenMediaFile(const char* name,
                                                              const LumVideoReader* reader,
                                                              LumVideoMediaInfo* info) {
  if (std::strncmp(name, "qwe", 3) != 0 || !reader) return nullptr;
  std::vector<uint8_t> all;
  uint8_t buf[4096];
  reader->seek(reader->user, 0, 0);
  for (;;) {
    int32_t n = reader->read(reader->user, buf, sizeof buf);
    if (n <= 0) break;
    all.insert(all.end(), buf, buf + n);
  }
  if (all.size() < 6 || std::memcmp(all.data(), "FAKEAV", 6) != 0) return nullptr;
  auto* m = new Media;
  m->pcm.assign(all.begin() + 6, all.end());
  m->pcm.resize(m->pcm.size() / 4 * 4);
  if (info) {
    *info = LumVideoMediaInfo{};
    info->durationUs = int64_t(m->pcm.size() / 4) * 1000000 / 44100;
    info->audioDurationUs = info->durationUs;
    info->videoDurationUs = -1;
  }
  return m;
}

#ifdef FAKE_COMPLETE
#define EXPORT __attribute__((visibility("default")))
EXPORT LumMedia OpenMediaFile2(const char* name, const LumVideoReader* reader,
                               LumVideoMediaInfo* info, int32_t) {
  return OpenMediaFile(name, reader, info);
}
EXPORT void CloseMediaFile(LumMedia media) {
  delete static_cast<Media*>(media);
}
EXPORT LumFrame AllocBuffer(LumMedia) {
  return nullptr;
}
EXPORT LumFrame AllocBufferWithData(LumMedia, void*, int32_t) {
  return nullptr;
}
EXPORT void FreeBuffer(LumFrame) {}
EXPORT int32_t ConvertFrame(LumMedia, LumFrame, int32_t, void*, int32_t) {
  return -1;
}
EXPORT int32_t GetNextVideoFrame(LumMedia, LumFrame) {
  return -1;
}
EXPORT int32_t SeekFile(LumMedia media, int32_t, int64_t time, int32_t) {
  auto* m = static_cast<Media*>(media);
  size_t frame = size_t(time * 44100 / 1000000);
  m->pos = std::min(frame * 4, m->pcm.size());
  return 0;
}
EXPORT int32_t GetFormatName(LumMedia, char* buffer, int32_t size) {
  const char* n = "wav";
  if (buffer && size > 3) std::strcpy(buffer, n);
  return 3;
}
EXPORT void Flush(LumMedia) {}
EXPORT void FlushVideo(LumMedia) {}
EXPORT int32_t GetFrameInfo(LumFrame) {
  return 0;
}
EXPORT int32_t GetDtsPts(LumFrame, int64_t*, int64_t*) {
  return -1;
}
EXPORT int32_t GetDtsPts2(LumFrame, int64_t*, int64_t*) {
  return -1;
}
EXPORT int32_t GetAudioInfo(LumMedia media, LumVideoAudioInfo* info) {
  auto* m = static_cast<Media*>(media);
  info->sampleRate = 44100;
  info->channels = 2;
  info->durationUs = int64_t(m->pcm.size() / 4) * 1000000 / 44100;
  return 0;
}
EXPORT int32_t OpenAudioStream(LumMedia) {
  return 0;
}
EXPORT void CloseAudioStream(LumMedia) {}
// Odd-sized pieces, as a real decoder's frames would be.
EXPORT int32_t GetNextAudioFrame(LumMedia media, uint8_t* buffer, int32_t size) {
  auto* m = static_cast<Media*>(media);
  size_t n = std::min({size_t(size), size_t(1234 * 4), m->pcm.size() - m->pos});
  if (n) std::memcpy(buffer, m->pcm.data() + m->pos, n);
  m->pos += n;
  return int32_t(n);
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
#endif
}
