#include "audio/decoders/converter_factory.h"

#include <mutex>

#include "audio/decoders/adpcm.h"
#include "audio/decoders/ffmpeg_converter.h"
#include "audio/decoders/mpeg_converter.h"
#include "audio/decoders/ogg_converter.h"
#include "foundation/errors.h"

namespace lum {

namespace {
std::mutex& HookLock() {
  static std::mutex m;
  return m;
}
TCompositeHook& HookStore() {
  static TCompositeHook hook;
  return hook;
}
}  // namespace

void SetCompositeHook(TCompositeHook hook) {
  std::lock_guard lock(HookLock());
  HookStore() = std::move(hook);
}

TCompositeHook CompositeHook() {
  std::lock_guard lock(HookLock());
  return HookStore();
}

std::unique_ptr<TWavConverter> CreateWavConverter(TStream* stream, std::string_view name,
                                                  const TMediaInfo& info) {
  switch (info.type) {
    case kMediaPcm:
    case kMediaFloat:
      return std::make_unique<TWavConverter>(stream);
    case kMediaAdpcm:
      return std::make_unique<TAdpcmConverter>(stream);
    case kMediaMpeg:
      return std::make_unique<TMpegConverter>(stream);
    case kMediaOgg:
      return std::make_unique<TOggConverter>(stream);
    case kMediaWma:
      return nullptr;
    case kMediaComposite: {
      TCompositeHook hook = CompositeHook();
      return hook.create ? hook.create(name) : nullptr;
    }
    case kMediaVideoLib: {
      TRef<TFFMpegDll> lib = TFFMpegDll::Acquire();
      if (!lib) return nullptr;
      return std::make_unique<TFFMpegConverter>(stream, name, lib);
    }
    default:
      AssertFailed("winWavConverters", "Unknown media type");
  }
}

}  // namespace lum
