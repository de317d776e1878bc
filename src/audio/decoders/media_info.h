#pragma once
// The media info record every sound source is described by, the wave format
// it carries, the mixing format, and detection.
#include <cstdint>
#include <string_view>

#include "foundation/stream.h"

namespace lum {

// WAVEFORMATEX fields (18 bytes in files; read and written field by field).
struct TWaveFormatEx {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t cbSize = 0;

  bool operator==(const TWaveFormatEx&) const = default;
};

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatAdpcm = 2;
inline constexpr uint16_t kWaveFormatFloat = 3;
inline constexpr uint16_t kWaveFormatImaAdpcm = 0x11;
inline constexpr uint16_t kWaveFormatMpeg3 = 85;

// Source types; the decoder class follows from the type.
enum TMediaType : uint8_t {
  kMediaNone = 0,
  kMediaPcm = 1,        // WAVE, format tag 1
  kMediaAdpcm = 2,      // WAVE, MS-ADPCM (tag 2) or IMA-ADPCM (tag 0x11)
  kMediaFloat = 3,      // WAVE, IEEE float
  kMediaMpeg = 4,       // .mp3/.mp2/.mp1 or WAVE with tag 85
  kMediaWma = 5,        // never detected: WMA goes through the video library
  kMediaOgg = 6,        // .ogg through libvorbisfile
  kMediaComposite = 9,  // a composition text
  kMediaVideoLib = 10,  // anything the video library opens
};

// Zero-filled before detection; stays zero when detection fails.
struct TMediaInfo {
  uint32_t dataOffset = 0;  // where the sound data starts in the stream
  uint32_t dataSize = 0;    // bytes of sound data
  uint32_t durationMs = 0;
  bool mpegInWave = false;  // MPEG data inside a WAVE file
  uint8_t type = kMediaNone;
  TWaveFormatEx format;        // the source's format (decoded PCM for MPEG/Ogg)
  uint8_t extension[32] = {};  // ADPCM format extension (after the 2-byte size)
};

// Mixing format: 44100 Hz, 2 channels, 16 bits.
inline constexpr uint32_t kMixRate = 44100;
inline constexpr uint16_t kMixChannels = 2;
inline constexpr uint16_t kMixBits = 16;
inline constexpr uint32_t kMixBytesPerSec = 176400;
inline constexpr uint32_t kMixFrameBytes = 4;
TWaveFormatEx MixFormat();
// 16-bit PCM with the given rate and channels.
TWaveFormatEx PcmFormat(uint32_t rate, uint16_t channels, uint16_t bits = 16);
// Time to byte position in the mixing format: whole frames, rounded down.
int64_t MixBytesOfMs(double ms);

// Compositions are texts that begin with this marker (36 characters).
inline constexpr std::string_view kCompositionMarker = "9213AB40-17BB-458F-9C4C-1806F44BEB65";
bool IsCompositionText(std::string_view name);

// Fills info from the stream (positioned anywhere; it is moved) and the name.
// Returns true when the source is playable. A composition text as name needs
// no stream (pass nullptr); it is measured by the hook lum_audio registers.
// Never throws on bad data: a broken source is simply not playable.
bool DetectMediaInfo(TStream* stream, std::string_view name, TMediaInfo& info);

// Parses an 18-byte (or 16-byte) WAVEFORMATEX.
TWaveFormatEx ReadWaveFormat(const uint8_t* p, size_t size);

}  // namespace lum
