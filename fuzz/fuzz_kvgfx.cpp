// Fuzzes .kvgfx pictures: the named-field header, the raw-deflate payload and
// the BMP inside it.
#include <cstdint>
#include <string>

#include "foundation/memory_stream.h"
#include "imaging/loaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lum::TMemoryStream s(std::string(reinterpret_cast<const char*>(data), size));
  // Pictures stay small so that each run is quick; the budget check is what is fuzzed.
  lum::SetPictureBudget(1 << 20);
  lum::TLoadRequest request{s, "f.kvgfx", nullptr, nullptr, false};
  lum::TRef<lum::TBitmapStore> store = lum::LoadGfxPicture(request);
  if (!store) {
    if (s.Position() != 0) __builtin_trap();
    return 0;
  }
  const lum::TImageParams& p = store->Params();
  if (int64_t(p.width) * p.height <= (1 << 20)) store->GetMipLevel(1);
  return 0;
}
