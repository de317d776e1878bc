// Fuzzes the EXIF and IPTC readers: whole JPEG headers and PNG chunk lists
// (text, compressed text, raw profiles, eXIf, tIME), and the input taken
// directly as a TIFF block, Photoshop resources and IIM records.
#include <cstdint>
#include <string_view>

#include "imaging/picture_metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lum::ReadPictureMetadata(bytes);
  lum::ParseExifTiff(bytes);
  lum::ParseIptcResources(bytes);
  lum::ParseIptcRecords(bytes);
  return 0;
}
