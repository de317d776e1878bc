// What lumshow new reads from a stranger's file before it takes it: the
// picture header, the EXIF date, and the name the file gets in the show.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "../apps/lumshow/media_facts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const size_t tail =
      size > lum::lumshow::kPictureTailBytes ? size - lum::lumshow::kPictureTailBytes : 0;
  lum::lumshow::TPictureFacts facts =
      lum::lumshow::ReadPictureFacts(bytes, bytes.substr(tail), int64_t(size));
  lum::lumshow::ExifDateSeconds(facts.date);
  lum::lumshow::ExifDateSeconds(bytes.substr(0, 32));
  lum::lumshow::MemberNameFor(bytes.substr(0, 256), facts.format);
  lum::lumshow::NaturalCompare(bytes.substr(0, size / 2), bytes.substr(size / 2));
  return 0;
}
