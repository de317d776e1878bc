// Fuzzes the composition text and the mixer over it. Every member file is
// the same short generated WAVE, served from memory.
#include <cstdint>
#include <string>

#include "audio/composite_converter.h"
#include "audio/decoders/converter_factory.h"
#include "audio/decoders/stream_opener.h"
#include "foundation/memory_stream.h"

namespace {
std::string Le16(uint16_t v) {
  return std::string{char(v & 0xFF), char(v >> 8)};
}
std::string Le32(uint32_t v) {
  return Le16(uint16_t(v)) + Le16(uint16_t(v >> 16));
}

std::string ShortWave() {
  std::string pcm;
  for (int i = 0; i < 4410; ++i) pcm += Le16(uint16_t(i * 7)) + Le16(uint16_t(-i * 5));
  std::string fmt = Le16(1) + Le16(2) + Le32(44100) + Le32(176400) + Le16(4) + Le16(16) + Le16(0);
  std::string body =
      "WAVEfmt " + Le32(uint32_t(fmt.size())) + fmt + "data" + Le32(uint32_t(pcm.size())) + pcm;
  return "RIFF" + Le32(uint32_t(body.size())) + body;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    static const std::string wave = ShortWave();
    lum::InstallStreamOpener(
        [](const std::string&) -> std::unique_ptr<lum::TStream> {
          return std::make_unique<lum::TMemoryStream>(wave);
        },
        nullptr);
    lum::RegisterCompositeDecoder();
    return true;
  }();
  (void)once;
  std::string text =
      std::string(lum::kCompositionMarker) + std::string(reinterpret_cast<const char*>(data), size);
  lum::TMediaInfo info;
  if (!lum::DetectMediaInfo(nullptr, text, info)) return 0;
  auto dec = lum::CreateWavConverter(nullptr, text, info);
  if (!dec || !dec->Open(info)) return 0;
  // A few blocks from the start and after a seek; long silent spans are not walked.
  for (int i = 0; i < 4 && dec->Fill(20000); ++i) dec->Output().Clear();
  dec->Seek(info.durationMs / 2.0);
  dec->Fill(20000);
  return 0;
}
