#pragma once
// The frame source of one video file (TWinVideoSource): opens the file
// through the video library, classifies it and decodes frames by index into
// planar YUV. Not thread-safe: one user at a time (the extractor's worker,
// or a caller holding the extractor's lock).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ref_object.h"
#include "foundation/stream.h"
#include "model/video_frame_source.h"
#include "video/ffmpeg_dll.h"

namespace lum {

// Frames larger than this are refused (a hostile header could ask for any).
inline constexpr int64_t kMaxVideoPixels = int64_t(8192) * 8192;

enum class TVideoCodec : int { MPEG2, MPEG4, H264, XVID, OTHER };
const char* VideoCodecName(TVideoCodec codec);

class TWinVideoSource : public TRefObject {
 public:
  // Opens a file read through stream (kept open); nothing, with the reason
  // in errorText, when the library refuses it or its frames are unusable.
  static TRef<TWinVideoSource> Open(TRef<TFFMpegDll> lib, const std::string& name,
                                    std::unique_ptr<TStream> stream, std::string* errorText);
  ~TWinVideoSource() override;

  const std::string& FileName() const { return name_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int32_t RateNum() const { return rateNum_; }
  int32_t RateDen() const { return rateDen_; }
  double DurationMs() const { return durationMs_; }
  // Frames in the file (from the duration; at least 1).
  int64_t FrameCount() const;
  const std::string& FormatName() const { return formatName_; }
  TVideoCodec Codec() const { return codec_; }
  bool Interlaced() const { return interlaced_; }
  bool TopFieldFirst() const { return topFirst_; }
  int64_t CurrentIndex() const { return current_; }
  // Frames decoded since opening (for checks that nothing was decoded twice).
  int64_t DecodeCount() const { return decodes_; }

  // Decodes frame n into out: nothing when n is already decoded, one frame
  // when it is the next, else a seek and decoding forward. Where frame n
  // cannot be decoded (a cut or damaged file) the last frame before it
  // stands for it, labelled n. False (logged, out unchanged) when no frame
  // decodes.
  bool GetFrame(int64_t n, TVideoFrame& out);

 private:
  TWinVideoSource() = default;
  bool ReadFirstFrames();
  bool DecodeNext();
  bool SeekTo(int64_t n);
  int64_t IndexOfDecoded() const;
  bool Convert(TVideoFrame& out);
  // Decodes on or seeks until frame n is decoded (or a run of frames whose
  // stamps stop); false when the decoder holds no frame.
  bool Reach(int64_t n);
  // Frame n cannot be reached (a cut or damaged file): decodes the last
  // frame before it, which stands for n and every later frame from now on.
  // False when none decodes.
  bool HoldLastFrame(int64_t n);
  // Logs why frame n is not shown as itself, once until a frame decodes.
  void Fail(int64_t n, bool held);

  TRef<TFFMpegDll> lib_;
  std::unique_ptr<TStream> stream_;
  LumVideoReader reader_{};
  LumMedia media_ = nullptr;
  LumFrame frame_ = nullptr;
  std::string name_, formatName_;
  int width_ = 0, height_ = 0;
  int32_t rateNum_ = 25, rateDen_ = 1, tbNum_ = 1, tbDen_ = 1000000;
  double durationMs_ = 0;
  double startUs_ = 0;
  TVideoCodec codec_ = TVideoCodec::OTHER;
  bool interlaced_ = false, topFirst_ = true;
  bool failing_ = false;  // the last request failed (and was logged)
  // Frames from holdFrom_ on cannot be decoded: frame held_ stands for them.
  int64_t holdFrom_ = -1, held_ = -1;
  int64_t current_ = -1, decodes_ = 0;
  std::vector<uint8_t> converted_;
};

// Classifies a codec by its name as the library reports it.
TVideoCodec ClassifyCodec(const std::string& name);

}  // namespace lum
