// The music reader on hostile documents: tracks, links, fades, free
// envelopes, slide comments and video sound, laid out into compositions,
// plus the offline schedule of the whole show.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/music_source.h"
#include "audio/show_sound_render.h"
#include "foundation/errors.h"
#include "project/lum_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lum::TIniFile doc;
  doc.LoadText(std::string(reinterpret_cast<const char*>(data), size));
  try {
    lum::TLumSource src(nullptr, doc, {"x", 1});
    if (src.SlideCount() > 256) return 0;
    lum::TLumMusicSource music(src, size % 2 == 1);
    if (music.PlayList()) music.PlayList()->Item(int64_t(size));
    double end = std::min(src.Duration(), 20000.0);
    lum::PlanShowSound(music, 0, end);
  } catch (const lum::ELumError&) {
  }
  return 0;
}
