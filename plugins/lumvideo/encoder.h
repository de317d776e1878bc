#pragma once
// One video file being written: a video encoder (H.264 or VP9) fed with BGRA
// pictures, a sound encoder (AAC or Opus) fed with 16-bit PCM, and the muxer
// that interleaves their packets into the file.
#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "video/lumvideo_encoder_api.h"

namespace lumvideo {

class Encoder {
 public:
  // Nothing when the file or an encoder cannot be opened; error says why.
  static Encoder* Create(const char* path, const LumEncoderSettings& s, std::string& error);
  ~Encoder();

  // See EncodeVideoFrame and EncodeAudio in the interface; false on failure.
  bool Video(const uint8_t* bgra, int32_t pitch, int64_t frame);
  bool Audio(const int16_t* pcm, int32_t frames);
  bool Finish();
  const std::string& Error() const { return error_; }

 private:
  Encoder() = default;
  bool Open(const char* path, const LumEncoderSettings& s);
  bool OpenVideo(const LumEncoderSettings& s);
  bool OpenAudio(const LumEncoderSettings& s);
  bool OpenCodec(AVCodecContext* c, AVStream*& stream, AVDictionary** options);
  // Sends a frame (null drains) and writes every packet it gives.
  bool Send(AVCodecContext* c, AVStream* stream, AVFrame* frame);
  // Writes a packet of c's time base to stream.
  bool Write(AVPacket* p, AVCodecContext* c, AVStream* stream);
  // Video packets wait one behind (HoldVideo) so the last one can be
  // written to end where the latest picture does (WriteLastVideo).
  bool HoldVideo();
  bool WriteLastVideo();
  // Encodes whole sound frames from the queue (all that is left when last).
  bool DrainAudio(bool last);
  bool Fail(const std::string& what, int code = 0);

  AVFormatContext* fmt_ = nullptr;
  AVCodecContext* venc_ = nullptr;
  AVCodecContext* aenc_ = nullptr;
  AVStream* vstream_ = nullptr;
  AVStream* astream_ = nullptr;
  AVFrame* picture_ = nullptr;
  AVFrame* sound_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVPacket* held_ = nullptr;  // the latest video packet, not yet written
  bool holding_ = false;
  SwsContext* sws_ = nullptr;
  SwrContext* swr_ = nullptr;
  AVAudioFifo* fifo_ = nullptr;
  int inRate_ = 0, inChannels_ = 0;
  int64_t lastFrame_ = -1, samplesOut_ = 0;
  int64_t maxPts_ = 0;  // the latest picture encoded so far
  int64_t firstDts_ = AV_NOPTS_VALUE;  // 0, or minus the encoder's reorder delay
  bool headerWritten_ = false, finished_ = false;
  std::string error_;
};

}  // namespace lumvideo
