#pragma once
// One media source of the video library: demuxing through the caller's
// reader, the video decoder with its conversions, and the audio decoder that
// delivers the mixing format. A source is used by one thread at a time.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "video/lumvideo_api.h"

namespace lumvideo {

// Silences FFmpeg's own log unless $LUM_VIDEO_DEBUG is set; once per process.
void QuietLibraries();

// Frames beyond these are refused: hostile headers must not size buffers.
constexpr int kMaxSide = 16384;
constexpr int64_t kMaxPixels = 40'000'000;

// A stream's duration in microseconds (the file's when it has none), -1
// without the stream.
int64_t StreamDurationUs(const AVFormatContext* fmt, int index);

struct Frame {
  AVFrame* av = av_frame_alloc();
  int32_t info = -1;
  int64_t ptsUs = -1, dtsUs = -1;
  ~Frame() { av_frame_free(&av); }
};

class Media {
 public:
  // Nothing when the source is not media this library can decode.
  static Media* Open(const char* name, const LumVideoReader& reader, LumVideoMediaInfo* info,
                     int32_t flags);
  ~Media();

  const char* FormatName() const { return fmt_->iformat->name; }
  // 0 with a frame, LUM_VIDEO_END at the end, -1 without video.
  int NextVideoFrame(Frame& frame);
  // Converts to the stream's frame size; see ConvertFrame in the interface.
  int32_t Convert(const Frame& frame, int32_t format, void* out, int32_t pitch);
  int32_t Seek(int32_t stream, int64_t time, int32_t flags);
  void FlushVideo();
  void FlushAudio();
  // The last video frame's time, or the sound's position when only sound
  // is read.
  int64_t CurrentPtsUs() const { return videoActive_ ? lastVideoUs_ : adec_ ? audioPosUs_ : -1; }
  int64_t PtsUs(int64_t ts, int stream) const;

  bool AudioInfo(LumVideoAudioInfo& info) const;
  bool OpenAudio();
  void CloseAudio();
  // Restarts sound decoding at the position of the last seek.
  void AfterAudioSeek() { FlushAudio(); }
  // Up to size bytes of PCM, 0 at the end.
  int32_t ReadAudio(uint8_t* buffer, int32_t size);

 private:
  Media() = default;
  bool OpenInput(const char* name);
  void FindStreams(int32_t flags);
  bool OpenVideoDecoder();
  // The video's length from its demuxed packets (first to last decode
  // stamp, plus the last frame), where the format only estimates it from
  // stamps near its end; 0 when it cannot be told. Leaves the source at
  // its start.
  int64_t DemuxedVideoUs();
  void FillInfo(LumVideoMediaInfo& info) const;
  // Seeks to microseconds from the file's start, at or before them.
  bool SeekTo(int64_t us);
  // After a seek that landed past its time (indexes of some formats are
  // coarse): seeks further back; false when already at the start.
  bool SeekEarlier(int64_t firstUs);
  int32_t FieldOrder(const AVFrame& f) const;
  // The next packet of a stream, keeping the other open stream's packets.
  AVPacket* NextPacket(int stream);
  void Keep(std::deque<AVPacket*>& queue, AVPacket* p);
  int DecodeVideo(AVFrame* f);
  bool DecodeAudio();
  // Finds where the sound decoded from the start begins and the grid its
  // frames start on, from its first frames (kept as sound to read).
  void ProbeAudioStart();
  void NoteStartFrame(const AVFrame& f);
  // Start of a decoded sound frame in microseconds of the sound as decoded
  // from the start, -1 without a stamp.
  int64_t AudioFrameUs(const AVFrame& f) const;
  bool ConfigureResampler(const AVFrame& f);
  void AppendPcm(const AVFrame* f);
  void StartResamplerAt(int64_t us);
  struct SwsContext* Scaler(const AVFrame& f, int32_t format);

  LumVideoReader reader_{};
  AVFormatContext* fmt_ = nullptr;
  AVIOContext* io_ = nullptr;
  int video_ = -1, audio_ = -1;
  AVCodecContext* vdec_ = nullptr;
  AVCodecContext* adec_ = nullptr;
  SwrContext* swr_ = nullptr;
  struct SwsContext* sws_[3] = {};
  AVPacket* packet_ = av_packet_alloc();
  std::deque<AVPacket*> videoQueue_, audioQueue_;
  bool demuxEnd_ = false, videoFlushed_ = false, audioFlushed_ = false, audioEnd_ = false;
  bool videoActive_ = false;
  int32_t forcedFields_ = -1;  // from the field-order comment
  AVRational frameRate_{25, 1};
  int64_t lastVideoUs_ = -1, audioPosUs_ = 0;
  int64_t videoSkipUs_ = -1, audioSkipUs_ = -1;
  int64_t originUs_ = 0;                        // the file's time 0
  int64_t demuxedVideoUs_ = 0;                  // DemuxedVideoUs at opening
  int64_t seekTargetUs_ = -1, seekBackUs_ = 0;  // checking the last seek
  std::vector<uint8_t> pcm_;
  size_t pcmRead_ = 0;
  int swrRate_ = 0, swrFormat_ = -1;
  // The resampler holds samples back: its output is timed from its first input.
  int64_t swrStartUs_ = AV_NOPTS_VALUE, swrSamples_ = 0;
  // Stamp of the first sound frame (decoders may hold back their first
  // packets), and the sizes' common divisor its frames start on (0 unknown).
  int64_t audioStartUs_ = 0, audioGrid_ = 0;
  static constexpr int kProbeFrames = 16;
  int audioProbe_ = 0;    // start frames still to look at
  bool demuxed_ = false;  // read or sought since opening
  AVChannelLayout swrLayout_{};

  friend struct MediaAccess;
};

}  // namespace lumvideo
