// Fuzzes the BMP reader: every header field, RLE data and truncation; decoded
// pictures are also halved down the mip chain.
#include <cstdint>
#include <string>

#include "foundation/memory_stream.h"
#include "imaging/bitmap_store.h"
#include "imaging/bmp_reader.h"
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
    lum::TRef<lum::TBitmap> bmp = lum::ReadBmp(s);
    if (!bmp) {
      if (s.Position() != 0) __builtin_trap();  // a declining reader must restore the position
      return 0;
    }
    if (int64_t(bmp->Width()) * bmp->Height() <= (1 << 20)) {
      auto store = lum::MakeRef<lum::TSysBitmapStore>(bmp);
      store->GetMipLevel(2, lum::TPixelFormat::Bgra32);
    }
  }
  if (memory.Used() != charged) __builtin_trap();
  return 0;
}
