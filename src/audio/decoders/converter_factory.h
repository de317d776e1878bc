#pragma once
// Decoder factory: the decoder class for a detected source.
#include <functional>
#include <memory>
#include <string_view>

#include "audio/decoders/media_info.h"
#include "audio/decoders/wav_converter.h"

namespace lum {

// Picks the decoder by info.type and returns it unopened, or nothing when the
// type is unavailable (type 10 without the video library, a composition
// without the registered hook, WMA). Any other type is an assertion of
// "winWavConverters". stream may be null for compositions.
std::unique_ptr<TWavConverter> CreateWavConverter(TStream* stream, std::string_view name,
                                                  const TMediaInfo& info);

// Compositions are mixed in lum_audio, above this library; it registers
// itself through this hook (lum::RegisterCompositeDecoder() in
// audio/composite_converter.h). detect measures a composition text, create
// makes its decoder.
struct TCompositeHook {
  std::function<bool(std::string_view text, TMediaInfo& info)> detect;
  std::function<std::unique_ptr<TWavConverter>(std::string_view text)> create;
};
void SetCompositeHook(TCompositeHook hook);
TCompositeHook CompositeHook();

// Ogg is always decodable (libvorbisfile); WMA is left to the video library.
// Kept as calls so the music player's set-up reads as before.
inline bool OggAvailable() {
  return true;
}

}  // namespace lum
