#include "audio/decoders/mpeg_header_scanner.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace lum {

namespace {

const int kBitRates[2][3][15] = {
    // MPEG-1: layers 1, 2, 3
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    // MPEG-2 and 2.5
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
const int kRates[3] = {44100, 48000, 32000};

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Headers of one stream agree in version, layer, rate and mono-ness.
bool Agree(uint32_t a, uint32_t b) {
  const uint32_t mask = 0xFFFE0C00u;
  return (a & mask) == (b & mask) && (((a >> 6) & 3) == 3) == (((b >> 6) & 3) == 3);
}

bool ReadAt(TStream& s, int64_t pos, uint8_t* buf, size_t n) {
  if (s.Seek(pos, TSeekOrigin::Begin) != pos) return false;
  size_t got = 0;
  while (got < n) {
    size_t r = s.Read(buf + got, n - got);
    if (r == 0) return false;
    got += r;
  }
  return true;
}

bool HeaderAt(TStream& s, int64_t pos, uint32_t& h) {
  uint8_t b[4];
  if (!ReadAt(s, pos, b, 4)) return false;
  h = Be32(b);
  return true;
}

}  // namespace

bool ParseMpegHeader(uint32_t h, TMpegFrameHeader& out) {
  if ((h >> 21) != 0x7FF) return false;
  int versionBits = (h >> 19) & 3, layerBits = (h >> 17) & 3;
  int rateIndex = (h >> 12) & 15, srIndex = (h >> 10) & 3;
  if (versionBits == 1 || layerBits == 0 || rateIndex == 0 || rateIndex == 15 || srIndex == 3 ||
      (h & 3) == 2)
    return false;
  TMpegFrameHeader f;
  f.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
  f.layer = 4 - layerBits;
  bool mpeg1 = f.version == 10;
  f.bitRate = kBitRates[mpeg1 ? 0 : 1][f.layer - 1][rateIndex] * 1000;
  f.sampleRate = kRates[srIndex] / (mpeg1 ? 1 : f.version == 20 ? 2 : 4);
  f.channels = ((h >> 6) & 3) == 3 ? 1 : 2;
  int padding = (h >> 9) & 1;
  if (f.layer == 1) {
    f.samplesPerFrame = 384;
    f.frameBytes = (12 * f.bitRate / f.sampleRate + padding) * 4;
  } else {
    f.samplesPerFrame = (f.layer == 3 && !mpeg1) ? 576 : 1152;
    f.frameBytes = f.samplesPerFrame / 8 * f.bitRate / f.sampleRate + padding;
  }
  out = f;
  return f.frameBytes >= 4;
}

int MpegVbrFrameCount(const uint8_t* frame, size_t size) {
  for (size_t i = 4; i + 12 <= size; ++i) {
    const uint8_t* p = frame + i;
    if (std::memcmp(p, "Xing", 4) == 0 || std::memcmp(p, "Info", 4) == 0) {
      uint32_t flags = Be32(p + 4);
      if (!(flags & 1)) return 0;
      return int(std::min<uint32_t>(Be32(p + 8), 1u << 30));
    }
    if (std::memcmp(p, "VBRI", 4) == 0 && i + 18 <= size) {
      return int(std::min<uint32_t>(Be32(p + 14), 1u << 30));
    }
  }
  return -1;
}

bool ScanMpeg(TStream& s, int64_t start, int64_t end, uint32_t wavBitRate, bool id3,
              TMediaInfo& info) {
  if (end <= start) return false;
  if (id3) {
    uint8_t tag[10];
    if (end - start >= 10 && ReadAt(s, start, tag, 10) && std::memcmp(tag, "ID3", 3) == 0 &&
        tag[3] != 255 && tag[4] != 255) {
      int64_t size = (int64_t(tag[6] & 0x7F) << 21) | (tag[7] & 0x7F) << 14 | (tag[8] & 0x7F) << 7 |
                     (tag[9] & 0x7F);
      start += size + 10;
    }
    uint8_t v1[3];
    if (end - start >= 128 && ReadAt(s, end - 128, v1, 3) && std::memcmp(v1, "TAG", 3) == 0)
      end -= 128;
    if (end <= start) return false;
  }
  // Search for two consecutive agreeing headers.
  int64_t limit = std::min(end, start + kMpegSyncSearchLimit);
  std::vector<uint8_t> buf;
  const size_t kPiece = 65536;
  int64_t found = -1;
  TMpegFrameHeader first;
  uint32_t firstRaw = 0;
  for (int64_t base = start; base < limit && found < 0; base += int64_t(kPiece)) {
    size_t n = size_t(std::min<int64_t>(int64_t(kPiece) + 3, end - base));
    buf.resize(n);
    if (s.Seek(base, TSeekOrigin::Begin) != base) return false;
    size_t got = 0;
    while (got < n) {
      size_t r = s.Read(buf.data() + got, n - got);
      if (r == 0) break;
      got += r;
    }
    for (size_t i = 0; i + 4 <= got && base + int64_t(i) < limit; ++i) {
      if (buf[i] != 0xFF || (buf[i + 1] & 0xE0) != 0xE0) continue;
      uint32_t h = Be32(&buf[i]);
      TMpegFrameHeader f;
      if (!ParseMpegHeader(h, f)) continue;
      int64_t pos = base + int64_t(i);
      int64_t next = pos + f.frameBytes;
      uint32_t h2;
      bool ok =
          next == end ? pos == start : next + 4 <= end && HeaderAt(s, next, h2) && Agree(h, h2);
      if (ok) {
        found = pos;
        first = f;
        firstRaw = h;
        break;
      }
    }
  }
  if (found < 0) return false;
  (void)firstRaw;
  info = TMediaInfo();
  info.type = kMediaMpeg;
  info.dataOffset = uint32_t(found);
  info.dataSize = uint32_t(std::min<int64_t>(end - found, UINT32_MAX));
  info.format = PcmFormat(uint32_t(first.sampleRate), uint16_t(first.channels));
  std::vector<uint8_t> frame(size_t(std::min<int64_t>({first.frameBytes, 1729, end - found})));
  int frames = -1;
  if (ReadAt(s, found, frame.data(), frame.size()))
    frames = MpegVbrFrameCount(frame.data(), frame.size());
  double ms;
  if (frames > 0) {
    ms = double(frames) * first.samplesPerFrame / first.sampleRate * 1000.0;
  } else {
    double bitRate = wavBitRate > 0 ? wavBitRate : first.bitRate;
    ms = double(info.dataSize) * 8.0 / bitRate * 1000.0;
  }
  info.durationMs = uint32_t(std::min<int64_t>(std::llround(ms), UINT32_MAX));
  return true;
}

void TMpegFrameIndex::Reset(int64_t dataOffset, int64_t dataSize, const TMpegFrameHeader& first,
                            bool infoFrame) {
  frames_.assign(1, dataOffset);
  end_ = dataOffset + dataSize;
  frameMs_ = double(first.samplesPerFrame) * 1000.0 / first.sampleRate;
  infoFrame_ = infoFrame;
  complete_ = false;
  firstRaw_ = 0;
}

bool TMpegFrameIndex::Locate(TStream& s, double ms, int64_t& offset, double& frameMs) {
  if (frames_.empty()) return false;
  size_t want = size_t(std::max(0.0, std::floor(ms / frameMs_))) + (infoFrame_ ? 1 : 0);
  while (frames_.size() <= want && !complete_) {
    int64_t pos = frames_.back();
    uint32_t h;
    TMpegFrameHeader f;
    if (!HeaderAt(s, pos, h) || !ParseMpegHeader(h, f)) {
      complete_ = true;
      break;
    }
    if (!firstRaw_) firstRaw_ = h;
    int64_t next = pos + f.frameBytes;
    // Damaged data: look a little further for the next agreeing header.
    int64_t found = -1;
    for (int64_t p = next; p + 4 <= end_ && p < next + 4096; ++p) {
      uint32_t h2;
      TMpegFrameHeader f2;
      if (!HeaderAt(s, p, h2)) break;
      if (ParseMpegHeader(h2, f2) && Agree(firstRaw_, h2)) {
        found = p;
        break;
      }
    }
    if (found < 0) {
      complete_ = true;
      break;
    }
    frames_.push_back(found);
  }
  size_t k = std::min(want, frames_.size() - 1);
  offset = frames_[k];
  size_t audible = infoFrame_ ? (k > 0 ? k - 1 : 0) : k;
  frameMs = double(audible) * frameMs_;
  return true;
}

}  // namespace lum
