// Fuzzes the decompression streams: raw inflate read in uneven pieces with
// forward seeks, whole-stream inflation with a cap, and the callback inflater.
#include <cstdint>
#include <string>

#include "container/z_stream.h"
#include "foundation/errors.h"
#include "foundation/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  constexpr int64_t kCap = 16 << 20;
  try {
    lum::TMemoryStream src(bytes);
    lum::TInflateStream z(src);
    char buf[3001];
    size_t piece = 1;
    int64_t total = 0;
    while (total < kCap) {
      size_t n = z.Read(buf, piece);
      if (n == 0) break;
      total += int64_t(n);
      piece = piece * 7 % sizeof buf + 1;
      if (total % 5 == 0) z.Seek(13, lum::TSeekOrigin::Current);
    }
  } catch (const lum::ELumError&) {
  }
  try {
    lum::TMemoryStream src(bytes);
    lum::InflateToMemory(src, kCap, "too big");
  } catch (const lum::ELumError&) {
  }
  try {
    lum::TMemoryStream src(bytes), out;
    lum::InflateWithCallbacks(src, out, nullptr, kCap);
  } catch (const lum::ELumError&) {
  }
  return 0;
}
