#include "audio/decoders/media_info.h"

#include <cmath>
#include <cstring>
#include <exception>

#include "audio/decoders/adpcm.h"
#include "audio/decoders/converter_factory.h"
#include "audio/decoders/ffmpeg_converter.h"
#include "audio/decoders/mpeg_header_scanner.h"
#include "audio/decoders/ogg_converter.h"
#include "foundation/case_fold.h"

namespace lum {

TWaveFormatEx PcmFormat(uint32_t rate, uint16_t channels, uint16_t bits) {
  TWaveFormatEx f;
  f.formatTag = kWaveFormatPcm;
  f.channels = channels;
  f.samplesPerSec = rate;
  f.bitsPerSample = bits;
  f.blockAlign = uint16_t(channels * bits / 8);
  f.avgBytesPerSec = f.blockAlign * rate;
  return f;
}

TWaveFormatEx MixFormat() {
  return PcmFormat(kMixRate, kMixChannels, kMixBits);
}

int64_t MixBytesOfMs(double ms) {
  return int64_t(std::floor(ms * kMixBytesPerSec / 4000.0)) * 4;
}

bool IsCompositionText(std::string_view name) {
  return name.starts_with(kCompositionMarker);
}

namespace {

uint16_t U16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0] | p[1] << 8 | p[2] << 16) | uint32_t(p[3]) << 24;
}

bool ReadAt(TStream& s, int64_t pos, void* buf, size_t n) {
  if (s.Seek(pos, TSeekOrigin::Begin) != pos) return false;
  size_t got = 0;
  while (got < n) {
    size_t r = s.Read(static_cast<uint8_t*>(buf) + got, n - got);
    if (r == 0) return false;
    got += r;
  }
  return true;
}

// The formats the decoders and the resampler accept.
bool PlausiblePcm(const TWaveFormatEx& f, bool isFloat) {
  if (f.samplesPerSec < 1000 || f.samplesPerSec > 384000) return false;
  if (isFloat) {
    if (f.bitsPerSample != 32 || (f.channels != 1 && f.channels != 2)) return false;
  } else if (f.channels == 6) {
    if (f.bitsPerSample != 16) return false;
  } else if (f.channels < 1 || f.channels > 2) {
    return false;
  } else if (f.bitsPerSample != 8 && f.bitsPerSample != 16 && f.bitsPerSample != 24 &&
             f.bitsPerSample != 32) {
    return false;
  }
  return f.blockAlign == f.channels * f.bitsPerSample / 8;
}

// Walks the chunks of a RIFF/WAVE file.
bool DetectWave(TStream& s, int64_t fileSize, TMediaInfo& info) {
  uint8_t head[12];
  if (!ReadAt(s, 0, head, 12) || std::memcmp(head + 8, "WAVE", 4) != 0) return false;
  bool haveFormat = false;
  uint16_t tag = 0;
  int64_t pos = 12;
  for (;;) {
    uint8_t ch[8];
    if (pos + 8 > fileSize || !ReadAt(s, pos, ch, 8)) return false;
    uint32_t size = U32(ch + 4);
    int64_t body = pos + 8;
    if (std::memcmp(ch, "fmt ", 4) == 0) {
      if (size < 16) return false;
      uint8_t fmt[18 + 2 + 32] = {};
      size_t n = std::min<size_t>(size, sizeof fmt);
      if (!ReadAt(s, body, fmt, n)) return false;
      info.format = ReadWaveFormat(fmt, n);
      tag = info.format.formatTag;
      // Extensible headers name the real format in their sub-format GUID.
      if (tag == 0xFFFE) {
        if (size < 40) return false;
        uint8_t ext[40];
        if (!ReadAt(s, body, ext, 40)) return false;
        tag = U16(ext + 24);
        info.format.formatTag = tag;
        info.format.cbSize = 0;
      }
      if (tag == kWaveFormatAdpcm || tag == kWaveFormatImaAdpcm) {
        std::memcpy(info.extension, fmt + 18, std::min<size_t>(32, n > 18 ? n - 18 : 0));
      }
      haveFormat = true;
    } else if (std::memcmp(ch, "data", 4) == 0) {
      if (!haveFormat) return false;
      // A truncated file keeps what it has.
      int64_t avail = std::max<int64_t>(0, fileSize - body);
      int64_t dataSize = std::min<int64_t>(size, avail);
      info.dataOffset = uint32_t(body);
      info.dataSize = uint32_t(dataSize);
      break;
    }
    pos = body + int64_t(size) + (size & 1);
  }
  TWaveFormatEx& f = info.format;
  switch (tag) {
    case kWaveFormatPcm:
      if (!PlausiblePcm(f, false)) return false;
      info.type = kMediaPcm;
      break;
    case kWaveFormatFloat:
      if (!PlausiblePcm(f, true)) return false;
      info.type = kMediaFloat;
      break;
    case kWaveFormatAdpcm:
    case kWaveFormatImaAdpcm:
      if (f.channels < 1 || f.channels > 2 || f.samplesPerSec < 1000 || f.samplesPerSec > 384000 ||
          f.blockAlign == 0 || f.bitsPerSample != 4)
        return false;
      info.type = kMediaAdpcm;
      break;
    case kWaveFormatMpeg3: {
      TMediaInfo m;
      if (!ScanMpeg(s, info.dataOffset, int64_t(info.dataOffset) + info.dataSize,
                    f.avgBytesPerSec * 8, false, m))
        return false;
      m.mpegInWave = true;
      info = m;
      return true;
    }
    default:
      return false;
  }
  if (f.avgBytesPerSec == 0) return false;
  if (info.type == kMediaAdpcm) {
    // The header's byte rate is advisory for ADPCM; the block layout is not.
    int spb = AdpcmSamplesPerBlock(f, info.extension);
    if (spb <= 0) return false;
    double blocks = double(info.dataSize) / f.blockAlign;
    info.durationMs = uint32_t(std::llround(blocks * spb * 1000.0 / f.samplesPerSec));
  } else {
    info.durationMs = uint32_t(std::llround(double(info.dataSize) / f.avgBytesPerSec * 1000.0));
  }
  return true;
}

bool HasExtension(std::string_view name, std::string_view ext) {
  if (name.size() < ext.size()) return false;
  return FoldedEquals(name.substr(name.size() - ext.size()), ext);
}

bool Detect(TStream* stream, std::string_view name, TMediaInfo& info) {
  if (IsCompositionText(name)) {
    TCompositeHook hook = CompositeHook();
    return hook.detect && hook.detect(name, info);
  }
  if (!stream) return false;
  int64_t size = stream->Size();
  if (size < 0) return false;
  uint8_t head[8] = {};
  bool headOk = ReadAt(*stream, 0, head, std::min<int64_t>(8, size)) && size >= 8;
  if (headOk && std::memcmp(head, "RIFF", 4) == 0) {
    if (DetectWave(*stream, size, info)) return true;
    info = TMediaInfo();
  } else if (HasExtension(name, ".mp3") || HasExtension(name, ".mp2") ||
             HasExtension(name, ".mp1")) {
    if (ScanMpeg(*stream, 0, size, 0, true, info)) return true;
    info = TMediaInfo();
  }
  if (HasExtension(name, ".ogg")) {
    if (DetectOgg(*stream, info)) return true;
    info = TMediaInfo();
  }
  if (DetectWithVideoLibrary(*stream, name, info)) return true;
  info = TMediaInfo();
  return false;
}

}  // namespace

TWaveFormatEx ReadWaveFormat(const uint8_t* p, size_t size) {
  TWaveFormatEx f;
  if (size < 16) return f;
  f.formatTag = U16(p);
  f.channels = U16(p + 2);
  f.samplesPerSec = U32(p + 4);
  f.avgBytesPerSec = U32(p + 8);
  f.blockAlign = U16(p + 12);
  f.bitsPerSample = U16(p + 14);
  f.cbSize = size >= 18 ? U16(p + 16) : 0;
  return f;
}

bool DetectMediaInfo(TStream* stream, std::string_view name, TMediaInfo& info) {
  info = TMediaInfo();
  try {
    if (Detect(stream, name, info)) return true;
  } catch (const std::exception&) {
    // A stream that fails to read is simply not playable.
  }
  info = TMediaInfo();
  return false;
}

}  // namespace lum
