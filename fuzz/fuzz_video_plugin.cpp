// The video library's open and decode path on arbitrary bytes, read through
// the reader interface as container members are.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "video/lumvideo_api.h"

#define LUM_FUZZ_DECLARE(name, ret, params) extern "C" ret name params;
LUM_VIDEO_FUNCTIONS(LUM_FUZZ_DECLARE)
#undef LUM_FUZZ_DECLARE

namespace {

struct Source {
  const uint8_t* data;
  int64_t size, pos;
};

int32_t Read(void* user, uint8_t* buffer, int32_t size) {
  auto* s = static_cast<Source*>(user);
  int64_t n = std::clamp<int64_t>(s->size - s->pos, 0, size);
  std::memcpy(buffer, s->data + s->pos, size_t(n));
  s->pos += n;
  return int32_t(n);
}

int64_t Seek(void* user, int64_t offset, int32_t whence) {
  auto* s = static_cast<Source*>(user);
  if (whence == 0x10000) return s->size;
  int64_t base = whence == 0 ? 0 : whence == 1 ? s->pos : s->size;
  if (base + offset < 0) return -1;
  return s->pos = base + offset;
}

void Decode(LumMedia media, const LumVideoMediaInfo& info) {
  LumFrame frame = AllocBuffer(media);
  std::vector<uint8_t> out;
  for (int i = 0; i < 8 && GetNextVideoFrame(media, frame) == 0; ++i) {
    int32_t format = 1 + i % 3;
    int32_t size = ConvertFrame(media, frame, format, nullptr, 0);
    if (size <= 0 || int64_t(info.width) * info.height > 1 << 22) continue;
    out.resize(size_t(size));
    ConvertFrame(media, frame, format, out.data(), 0);
  }
  SeekFile(media, -1, 500000, 0);
  Flush(media);
  GetNextVideoFrame(media, frame);
  FreeBuffer(frame);
  uint8_t pcm[4096];
  if (OpenAudioStream(media) == 0)
    for (int i = 0; i < 16 && GetNextAudioFrame(media, pcm, sizeof pcm) > 0; ++i) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Source source{data, int64_t(size), 0};
  LumVideoReader reader{&source, Read, Seek};
  LumVideoMediaInfo info{};
  LumMedia media = OpenMediaFile("qweclip", &reader, &info);
  if (!media) return 0;
  char name[64];
  GetFormatName(media, name, sizeof name);
  Decode(media, info);
  CloseMediaFile(media);
  return 0;
}
