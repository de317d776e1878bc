// Fuzzes .kvgfx pictures: the named-field header, the raw-deflate payload and
// the BMP inside it.
#include <cstdint>
#include <string>

#include "foundation/memory_stream.h"
#include "imaging/loaders.h"
#include "imaging/picture_budget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lum::TMemoryStream s(std::string(reinterpret_cast<const char*>(data), size));
  // Pictures stay small so that each run is quick; the budget check is what is fuzzed.
  lum::SetPictureBudget(1 << 20);
  // A picture memory budget of 2 MB: larger decodes take the coarser and
  // refusing paths, and every byte charged must be given back.
  lum::TPictureBudget& memory = lum::TPictureBudget::Process();
  memory.SetLimit(2 << 20);
  const int64_t charged = memory.Used();
  {
    lum::TLoadRequest request{s, "f.kvgfx", nullptr, nullptr, false};
    lum::TRef<lum::TBitmapStore> store = lum::LoadGfxPicture(request);
    if (!store) {
      if (s.Position() != 0) __builtin_trap();
      return 0;
    }
    const lum::TImageParams& p = store->Params();
    if (int64_t(p.width) * p.height <= (1 << 20)) {
      store->GetMipLevel(1);
      store->GetMipLevel(0);
    }
  }
  if (memory.Used() != charged) __builtin_trap();
  return 0;
}
