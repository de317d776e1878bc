#pragma once
// MPEG audio header scanner: finds the first frame (after an ID3v2 tag, where
// two consecutive headers agree), leaves out an ID3v1 tag, reads the frame
// count of a VBR header for the duration, and maps times to frame positions.
#include <cstdint>
#include <vector>

#include "audio/decoders/media_info.h"
#include "foundation/stream.h"

namespace lum {

struct TMpegFrameHeader {
  int version = 0;  // 10 = MPEG-1, 20 = MPEG-2, 25 = MPEG-2.5
  int layer = 0;    // 1..3
  int bitRate = 0;  // bits per second
  int sampleRate = 0;
  int channels = 0;
  int frameBytes = 0;
  int samplesPerFrame = 0;
};

// Decodes a 4-byte header (big-endian); false for anything not a valid frame
// header (free-format bit rates included).
bool ParseMpegHeader(uint32_t header, TMpegFrameHeader& out);

// Frame count of a VBR header ("Xing", "Info" or "VBRI") in a first frame;
// 0 when the header has no count, -1 when there is no such header.
int MpegVbrFrameCount(const uint8_t* frame, size_t size);

// Largest stretch of bytes searched for the first frame.
inline constexpr int64_t kMpegSyncSearchLimit = 1 << 20;

// Scans the data in [start, end) of the stream and fills info (type 4, data
// offset and size, duration, 16-bit PCM format). wavBitRate > 0 (bits per
// second) is the WAVE format's rate for MPEG inside WAVE, used for the
// duration without a VBR header. With id3 false no ID3 tags are looked for.
bool ScanMpeg(TStream& stream, int64_t start, int64_t end, uint32_t wavBitRate, bool id3,
              TMediaInfo& info);

// Frame positions of one source, walked lazily from the data start.
class TMpegFrameIndex {
 public:
  // dataOffset/dataSize as detected; the first frame is at dataOffset.
  // infoFrame: the first frame is a VBR header that decodes to nothing.
  void Reset(int64_t dataOffset, int64_t dataSize, const TMpegFrameHeader& first, bool infoFrame);
  // Finds the frame that contains ms: returns its stream offset and its time.
  // Frames are walked from the last known one through the stream.
  bool Locate(TStream& stream, double ms, int64_t& offset, double& frameMs);
  double FrameMs() const { return frameMs_; }

 private:
  std::vector<int64_t> frames_;  // stream offsets of frames known so far
  int64_t end_ = 0;
  double frameMs_ = 0;
  bool complete_ = false;
  bool infoFrame_ = false;
  uint32_t firstRaw_ = 0;
};

}  // namespace lum
