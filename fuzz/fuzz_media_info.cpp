// Fuzzes detection (chunk walk, MPEG scanner, Ogg, ADPCM headers) and then
// the decoder detection chose: open, a few fills and a seek. The first byte
// picks the name the source goes by.
#include <cstdint>
#include <string>

#include "audio/decoders/converter_factory.h"
#include "audio/decoders/media_info.h"
#include "foundation/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* kNames[] = {"a.wav", "a.mp3", "a.ogg", "a.mp2", "a.bin"};
  std::string name = kNames[data[0] % 5];
  lum::TMemoryStream s(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  lum::TMediaInfo info;
  if (!lum::DetectMediaInfo(&s, name, info)) return 0;
  auto dec = lum::CreateWavConverter(&s, name, info);
  if (!dec || !dec->Open(info)) return 0;
  for (int i = 0; i < 16; ++i) {
    bool more = dec->Fill(8192);
    if (dec->Output().Size() < 8192) __builtin_trap();  // Fill always delivers what was asked
    dec->Output().Clear();
    if (!more) break;
  }
  dec->Seek(info.durationMs / 2.0);
  dec->Fill(4096);
  return 0;
}
