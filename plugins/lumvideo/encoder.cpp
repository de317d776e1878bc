#include "encoder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" {
#include <libavutil/opt.h>
}

namespace lumvideo {

namespace {

constexpr int kMaxSide = 8192;
constexpr int kMaxFps = 240;

std::string ErrorText(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_make_error_string(buf, sizeof buf, code);
  return buf;
}

bool IsWebm(const LumEncoderSettings& s) {
  return std::string_view(s.container) == "webm";
}

// VP9 has no presets: the fast ones map to real-time speeds, the rest to
// "good" quality with less effort the faster they are.
void Vp9Speed(std::string_view preset, AVDictionary** o) {
  static constexpr std::pair<std::string_view, int> kSpeeds[] = {
      {"ultrafast", 8}, {"superfast", 7}, {"veryfast", 6}, {"faster", 5}, {"fast", 4},
      {"medium", 3},    {"slow", 2},      {"slower", 1},   {"veryslow", 0}};
  int speed = 3;
  for (auto [name, s] : kSpeeds)
    if (name == preset) speed = s;
  av_dict_set(o, "deadline", speed >= 6 ? "realtime" : "good", 0);
  av_dict_set_int(o, "cpu-used", speed, 0);
  av_dict_set(o, "row-mt", "1", 0);
}

std::string CheckSettings(const LumEncoderSettings& s) {
  if (!s.container || (std::string_view(s.container) != "mp4" && !IsWebm(s)))
    return "unknown container (mp4 or webm)";
  if (s.width < 16 || s.height < 16 || s.width > kMaxSide || s.height > kMaxSide ||
      s.width % 2 || s.height % 2)
    return "frame size must be even, 16 to 8192 pixels a side";
  if (s.fps < 1 || s.fps > kMaxFps) return "frame rate must be 1 to 240";
  if (s.crf < 0 || s.crf > (IsWebm(s) ? 63 : 51)) return "quality (crf) out of range";
  if (s.sampleRate < 0 || s.sampleRate > 192000 || (s.sampleRate && (s.channels < 1 || s.channels > 2)))
    return "unsupported sound format";
  return {};
}

}  // namespace

Encoder* Encoder::Create(const char* path, const LumEncoderSettings& s, std::string& error) {
  error = CheckSettings(s);
  if (!error.empty()) return nullptr;
  auto* e = new Encoder();
  if (!e->Open(path, s)) {
    error = e->error_;
    delete e;
    return nullptr;
  }
  return e;
}

Encoder::~Encoder() {
  // An unfinished file stays unfinished: the caller removes it.
  if (fmt_ && fmt_->pb) avio_closep(&fmt_->pb);
  avformat_free_context(fmt_);
  avcodec_free_context(&venc_);
  avcodec_free_context(&aenc_);
  av_frame_free(&picture_);
  av_frame_free(&sound_);
  av_packet_free(&packet_);
  av_packet_free(&held_);
  sws_freeContext(sws_);
  swr_free(&swr_);
  if (fifo_) av_audio_fifo_free(fifo_);
}

bool Encoder::Fail(const std::string& what, int code) {
  error_ = code ? what + ": " + ErrorText(code) : what;
  return false;
}

bool Encoder::Open(const char* path, const LumEncoderSettings& s) {
  int r = avformat_alloc_output_context2(&fmt_, nullptr, s.container, path);
  if (r < 0) return Fail("cannot make the container", r);
  packet_ = av_packet_alloc();
  held_ = av_packet_alloc();
  if (!packet_ || !held_) return Fail("out of memory");
  if (!OpenVideo(s)) return false;
  if (s.sampleRate > 0 && !OpenAudio(s)) return false;
  if ((r = avio_open(&fmt_->pb, path, AVIO_FLAG_WRITE)) < 0) return Fail("cannot create the file", r);
  AVDictionary* o = nullptr;
  // The index first, so the file plays while it downloads.
  if (!IsWebm(s)) av_dict_set(&o, "movflags", "+faststart", 0);
  r = avformat_write_header(fmt_, &o);
  av_dict_free(&o);
  if (r < 0) return Fail("cannot write the file's header", r);
  headerWritten_ = true;
  return true;
}

bool Encoder::OpenCodec(AVCodecContext* c, AVStream*& stream, AVDictionary** options) {
  if (fmt_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int r = avcodec_open2(c, nullptr, options);
  av_dict_free(options);
  if (r < 0) return Fail(std::string("cannot open the ") + c->codec->name + " encoder", r);
  stream = avformat_new_stream(fmt_, nullptr);
  if (!stream) return Fail("out of memory");
  if ((r = avcodec_parameters_from_context(stream->codecpar, c)) < 0)
    return Fail("encoder parameters", r);
  stream->time_base = c->time_base;
  return true;
}

bool Encoder::OpenVideo(const LumEncoderSettings& s) {
  const char* name = IsWebm(s) ? "libvpx-vp9" : "libx264";
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (!codec) return Fail(std::string("this FFmpeg has no ") + name + " encoder");
  venc_ = avcodec_alloc_context3(codec);
  picture_ = av_frame_alloc();
  if (!venc_ || !picture_) return Fail("out of memory");
  venc_->width = s.width;
  venc_->height = s.height;
  venc_->time_base = {1, s.fps};
  venc_->framerate = {s.fps, 1};
  venc_->pix_fmt = AV_PIX_FMT_YUV420P;
  venc_->gop_size = s.fps * 5;
  venc_->color_primaries = AVCOL_PRI_BT709;
  venc_->color_trc = AVCOL_TRC_BT709;
  venc_->colorspace = AVCOL_SPC_BT709;
  venc_->color_range = AVCOL_RANGE_MPEG;
  venc_->thread_count = 0;
  AVDictionary* o = nullptr;
  av_dict_set_int(&o, "crf", s.crf, 0);
  if (IsWebm(s)) {
    venc_->bit_rate = 0;
    Vp9Speed(s.preset ? s.preset : "medium", &o);
  } else {
    av_dict_set(&o, "preset", s.preset ? s.preset : "medium", 0);
  }
  if (!OpenCodec(venc_, vstream_, &o)) return false;
  picture_->format = AV_PIX_FMT_YUV420P;
  picture_->width = s.width;
  picture_->height = s.height;
  int r = av_frame_get_buffer(picture_, 0);
  if (r < 0) return Fail("picture buffer", r);
  sws_ = sws_getContext(s.width, s.height, AV_PIX_FMT_BGRA, s.width, s.height,
                        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!sws_) return Fail("no colour converter");
  // Full-range RGB to video-range BT.709, as the stream's tags say.
  sws_setColorspaceDetails(sws_, sws_getCoefficients(SWS_CS_ITU709), 1,
                           sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
  return true;
}

bool Encoder::OpenAudio(const LumEncoderSettings& s) {
  const char* name = IsWebm(s) ? "libopus" : "aac";
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (!codec) return Fail(std::string("this FFmpeg has no ") + name + " encoder");
  aenc_ = avcodec_alloc_context3(codec);
  sound_ = av_frame_alloc();
  if (!aenc_ || !sound_) return Fail("out of memory");
  // Opus knows 48 kHz; AAC keeps the mixing rate.
  aenc_->sample_rate = IsWebm(s) ? 48000 : s.sampleRate;
  aenc_->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  av_channel_layout_default(&aenc_->ch_layout, s.channels);
  aenc_->bit_rate = IsWebm(s) ? 128000 : 192000;
  aenc_->time_base = {1, aenc_->sample_rate};
  AVDictionary* o = nullptr;
  if (!OpenCodec(aenc_, astream_, &o)) return false;
  inRate_ = s.sampleRate;
  inChannels_ = s.channels;
  AVChannelLayout in{};
  av_channel_layout_default(&in, s.channels);
  int r = swr_alloc_set_opts2(&swr_, &aenc_->ch_layout, aenc_->sample_fmt, aenc_->sample_rate,
                              &in, AV_SAMPLE_FMT_S16, s.sampleRate, 0, nullptr);
  if (r < 0 || (r = swr_init(swr_)) < 0) return Fail("sound converter", r);
  fifo_ = av_audio_fifo_alloc(aenc_->sample_fmt, s.channels, 4096);
  if (!fifo_) return Fail("out of memory");
  const int frameSize = aenc_->frame_size > 0 ? aenc_->frame_size : 1024;
  sound_->format = aenc_->sample_fmt;
  sound_->nb_samples = frameSize;
  sound_->sample_rate = aenc_->sample_rate;
  if ((r = av_channel_layout_copy(&sound_->ch_layout, &aenc_->ch_layout)) < 0 ||
      (r = av_frame_get_buffer(sound_, 0)) < 0)
    return Fail("sound buffer", r);
  return true;
}

bool Encoder::Send(AVCodecContext* c, AVStream* stream, AVFrame* frame) {
  int r = avcodec_send_frame(c, frame);
  if (r < 0 && r != AVERROR_EOF) return Fail(std::string("encoding failed (") + c->codec->name + ")", r);
  for (;;) {
    r = avcodec_receive_packet(c, packet_);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return Fail(std::string("encoding failed (") + c->codec->name + ")", r);
    if (c == venc_ ? !HoldVideo() : !Write(packet_, c, stream)) return false;
  }
}

bool Encoder::Write(AVPacket* p, AVCodecContext* c, AVStream* stream) {
  av_packet_rescale_ts(p, c->time_base, stream->time_base);
  p->stream_index = stream->index;
  const int r = av_interleaved_write_frame(fmt_, p);
  return r >= 0 || Fail("cannot write the file", r);
}

// A picture lasts until the next one, and the file's end is the latest
// picture's end: each packet's duration reaches the next picture, never
// past the latest. Which packet comes last in decode order is known only at
// the end, so one packet waits here until the next arrives.
bool Encoder::HoldVideo() {
  // Reordering (B-frames) makes the encoder start decoding before 0.
  if (firstDts_ == AV_NOPTS_VALUE) firstDts_ = std::min<int64_t>(packet_->dts, 0);
  maxPts_ = std::max(maxPts_, packet_->pts);
  if (holding_) {
    held_->duration = std::max<int64_t>(1, packet_->pts - held_->pts);
    if (!Write(held_, venc_, vstream_)) return false;
  }
  av_packet_unref(held_);
  av_packet_move_ref(held_, packet_);
  holding_ = true;
  return true;
}

// The last packet in decode order can be a picture shown well before the
// latest one (pictures are held by time stamps and reordered); its decode
// time counts from far back. It is decoded last whatever its stamp, so its
// decode time moves up to where its picture's delay puts it, and it lasts
// to the latest picture's end: the track's edit list, its header and the
// file then all end where the latest picture does.
bool Encoder::WriteLastVideo() {
  if (!holding_) return true;
  holding_ = false;
  held_->dts = std::max(held_->dts, held_->pts + firstDts_);
  held_->duration = std::max<int64_t>(1, maxPts_ + 1 - held_->pts);
  return Write(held_, venc_, vstream_);
}

bool Encoder::Video(const uint8_t* bgra, int32_t pitch, int64_t frame) {
  if (finished_) return Fail("the file is already complete");
  if (frame <= lastFrame_) return Fail("frame numbers must grow");
  if (!bgra && lastFrame_ < 0) return Fail("no picture to repeat");
  if (bgra) {
    // A negative pitch walks rows stored bottom up; the converter takes it as is.
    if (pitch == INT32_MIN || std::abs(pitch) < venc_->width * 4) return Fail("picture rows too short");
    int r = av_frame_make_writable(picture_);
    if (r < 0) return Fail("picture buffer", r);
    const uint8_t* src[1] = {bgra};
    const int srcPitch[1] = {pitch};
    sws_scale(sws_, src, srcPitch, 0, venc_->height, picture_->data, picture_->linesize);
  }
  picture_->pts = frame;
  lastFrame_ = frame;
  return Send(venc_, vstream_, picture_);
}

bool Encoder::Audio(const int16_t* pcm, int32_t frames) {
  if (finished_) return Fail("the file is already complete");
  if (!aenc_) return Fail("the file has no sound track");
  if (frames <= 0) return true;
  const int outCount = swr_get_out_samples(swr_, frames);
  uint8_t** out = nullptr;
  int r = av_samples_alloc_array_and_samples(&out, nullptr, aenc_->ch_layout.nb_channels,
                                             std::max(outCount, 1), aenc_->sample_fmt, 0);
  if (r < 0) return Fail("sound buffer", r);
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(pcm)};
  int got = swr_convert(swr_, out, outCount, in, frames);
  if (got > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(out), got) < got) got = -1;
  av_freep(&out[0]);
  av_freep(&out);
  if (got < 0) return Fail("sound conversion failed");
  return DrainAudio(false);
}

bool Encoder::DrainAudio(bool last) {
  const int frameSize = sound_->nb_samples > 0 ? sound_->nb_samples : 1024;
  while (av_audio_fifo_size(fifo_) >= frameSize || (last && av_audio_fifo_size(fifo_) > 0)) {
    int r = av_frame_make_writable(sound_);
    if (r < 0) return Fail("sound buffer", r);
    const int n = std::min(frameSize, av_audio_fifo_size(fifo_));
    av_audio_fifo_read(fifo_, reinterpret_cast<void**>(sound_->data), n);
    sound_->nb_samples = n;
    sound_->pts = samplesOut_;
    samplesOut_ += n;
    const bool ok = Send(aenc_, astream_, sound_);
    sound_->nb_samples = frameSize;
    if (!ok) return false;
  }
  return true;
}

bool Encoder::Finish() {
  if (finished_) return true;
  if (aenc_) {
    // What the resampler still holds, then the partial last frame.
    uint8_t** out = nullptr;
    const int outCount = std::max(swr_get_out_samples(swr_, 0), 1);
    if (av_samples_alloc_array_and_samples(&out, nullptr, aenc_->ch_layout.nb_channels, outCount,
                                           aenc_->sample_fmt, 0) >= 0) {
      int got = swr_convert(swr_, out, outCount, nullptr, 0);
      if (got > 0) av_audio_fifo_write(fifo_, reinterpret_cast<void**>(out), got);
      av_freep(&out[0]);
      av_freep(&out);
    }
    if (!DrainAudio(true) || !Send(aenc_, astream_, nullptr)) return false;
  }
  if (!Send(venc_, vstream_, nullptr) || !WriteLastVideo()) return false;
  int r = av_write_trailer(fmt_);
  if (r < 0) return Fail("cannot complete the file", r);
  if (fmt_->pb->error < 0) return Fail("cannot write the file", fmt_->pb->error);
  if ((r = avio_closep(&fmt_->pb)) < 0) return Fail("cannot close the file", r);
  finished_ = true;
  return true;
}

}  // namespace lumvideo
