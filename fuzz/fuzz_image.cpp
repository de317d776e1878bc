// Fuzzes the loader dispatch over every registered loader: the first byte
// picks the file name's extension (none: every loader is tried).
#include <cstdint>
#include <string>

#include "foundation/memory_stream.h"
#include "imaging/image.h"
#include "imaging/picture_budget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* kNames[] = {
      "picture",          "a.bmp", "a.jpg", "a.png", "a.gif", "a.kvgfx", "a.gif|framesatlas",
      "a.gif_first_frame"};
  if (size == 0) return 0;
  std::string name = kNames[data[0] % 8];
  lum::TMemoryStream s(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  // Pictures stay small so that each run is quick; the budget check is what is fuzzed.
  lum::SetPictureBudget(1 << 20);
  // A picture memory budget of 2 MB: larger decodes take the coarser and
  // refusing paths, and every byte charged must be given back.
  lum::TPictureBudget& memory = lum::TPictureBudget::Process();
  memory.SetLimit(2 << 20);
  const int64_t charged = memory.Used();
  if (lum::TRef<lum::TImage> img = lum::LoadImage(s, name)) {
    if (int64_t(img->Width()) * img->Height() <= (1 << 20)) {
      img->GetMipLevel(4);
      img->GetMipLevel(0, lum::TPixelFormat::Bgra32);
      img->GetMipLevel(1);
    }
  }
  if (memory.Used() != charged) __builtin_trap();
  return 0;
}
