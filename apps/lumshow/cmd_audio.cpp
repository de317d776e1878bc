// lumshow audio: the show's sound mixed offline into a WAVE file.
#include <fmt/format.h>

#include "audio/composite_converter.h"
#include "audio/decoders/stream_opener.h"
#include "audio/music_player.h"
#include "audio/show_sound_render.h"
#include "commands.h"
#include "project/lum_source.h"
#include "show_open.h"

namespace lum::lumshow {

int Audio(const TAudioArgs& args) {
  if (args.from < 0) throw TUsageError{"--from must not be negative"};
  auto loc = OpenShowToPlay(args.show, args.password);
  TLumSource src(loc->Accessor(), loc->Document(), {loc->Path(), 0});
  double to = args.to < 0 ? src.Duration() : args.to;
  if (to < args.from) throw TUsageError{"--to must not be before --from"};
  if (to - args.from > 24.0 * 3600 * 1000) throw TUsageError{"more than 24 hours of sound"};
  RegisterCompositeDecoder();
  InstallStreamOpener(ShowStreamOpener(loc->Accessor()), nullptr);
  TLumMusicSource music(src);
  std::vector<int16_t> pcm = RenderShowSound(music, args.from, to);
  InstallStreamOpener(nullptr, nullptr);
  WriteWaveFile(args.output, pcm);
  return 0;
}

}  // namespace lum::lumshow
