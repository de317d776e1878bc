// The sound of a source, delivered as 16-bit stereo PCM at 44100 Hz.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "media.h"

namespace lumvideo {

namespace {

constexpr int kOutRate = 44100;
constexpr int kOutFrameBytes = 4;
constexpr int kMaxChannels = 64;

}  // namespace

bool Media::AudioInfo(LumVideoAudioInfo& info) const {
  if (audio_ < 0) return false;
  const AVStream* s = fmt_->streams[audio_];
  const AVCodecParameters* par = s->codecpar;
  int channels = par->ch_layout.nb_channels;
  if (channels <= 0 || channels > kMaxChannels || par->sample_rate <= 0 ||
      par->sample_rate > 1'000'000 || !avcodec_find_decoder(par->codec_id))
    return false;
  info.sampleRate = par->sample_rate;
  info.channels = channels;
  info.durationUs = StreamDurationUs(fmt_, audio_);
  return true;
}

bool Media::OpenAudio() {
  CloseAudio();
  if (audio_ < 0) return false;
  const AVStream* s = fmt_->streams[audio_];
  const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
  if (!codec || !(adec_ = avcodec_alloc_context3(codec))) return false;
  adec_->pkt_timebase = s->time_base;
  if (avcodec_parameters_to_context(adec_, s->codecpar) < 0 ||
      avcodec_open2(adec_, codec, nullptr) < 0) {
    avcodec_free_context(&adec_);
    return false;
  }
  audioEnd_ = false;
  ProbeAudioStart();
  return true;
}

void Media::ProbeAudioStart() {
  // Only a source read from its start shows where the sound begins; its
  // first frames are decoded now and kept.
  if (videoActive_ || demuxed_) return;
  audioStartUs_ = 0;
  audioGrid_ = 0;
  audioProbe_ = kProbeFrames;
  while (audioProbe_ > 0 && !audioEnd_) audioEnd_ = !DecodeAudio();
  audioProbe_ = 0;
}

void Media::NoteStartFrame(const AVFrame& f) {
  if (audioProbe_ == kProbeFrames && f.best_effort_timestamp != AV_NOPTS_VALUE)
    audioStartUs_ = PtsUs(f.best_effort_timestamp, audio_);
  audioGrid_ = std::gcd(audioGrid_, int64_t(f.nb_samples));
  --audioProbe_;
}

// Container stamps may be whole milliseconds: where the frames' grid is
// finer than that uncertainty, a frame starts on the nearest grid point.
int64_t Media::AudioFrameUs(const AVFrame& f) const {
  if (f.best_effort_timestamp == AV_NOPTS_VALUE || f.sample_rate <= 0) return -1;
  const int64_t us = PtsUs(f.best_effort_timestamp, audio_) - audioStartUs_;
  const AVRational tb = fmt_->streams[audio_]->time_base;
  const int64_t step = av_rescale_q(1, tb, AVRational{1, f.sample_rate});
  if (audioGrid_ <= 1 || step <= 1) return us;
  const int64_t samples = av_rescale(us, f.sample_rate, AV_TIME_BASE);
  const int64_t g = audioGrid_;
  const int64_t snapped = (samples >= 0 ? (samples + g / 2) / g : -((-samples + g / 2) / g)) * g;
  if (std::abs(snapped - samples) > step / 2 + 1) return us;
  return av_rescale(snapped, AV_TIME_BASE, f.sample_rate);
}

void Media::CloseAudio() {
  avcodec_free_context(&adec_);
  swr_free(&swr_);
  av_channel_layout_uninit(&swrLayout_);
  swrFormat_ = -1;
  for (AVPacket* p : audioQueue_) av_packet_free(&p);
  audioQueue_.clear();
  pcm_.clear();
  pcmRead_ = 0;
}

void Media::FlushAudio() {
  for (AVPacket* p : audioQueue_) av_packet_free(&p);
  audioQueue_.clear();
  audioFlushed_ = false;
  audioEnd_ = false;
  pcm_.clear();
  pcmRead_ = 0;
  if (adec_) avcodec_flush_buffers(adec_);
  // The resampler's delay belongs to the old position.
  swr_free(&swr_);
  swrFormat_ = -1;
}

bool Media::ConfigureResampler(const AVFrame& f) {
  if (swr_ && f.format == swrFormat_ && f.sample_rate == swrRate_ &&
      av_channel_layout_compare(&f.ch_layout, &swrLayout_) == 0)
    return true;
  swr_free(&swr_);
  AVChannelLayout in{};
  if (f.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f.ch_layout.nb_channels <= 0)
    av_channel_layout_default(&in, f.ch_layout.nb_channels);
  else
    av_channel_layout_copy(&in, &f.ch_layout);
  AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
  int r = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, kOutRate, &in,
                              AVSampleFormat(f.format), f.sample_rate, 0, nullptr);
  av_channel_layout_uninit(&in);
  if (r < 0 || swr_init(swr_) < 0) {
    swr_free(&swr_);
    return false;
  }
  swrFormat_ = f.format;
  swrStartUs_ = AV_NOPTS_VALUE;
  swrSamples_ = 0;
  swrRate_ = f.sample_rate;
  av_channel_layout_uninit(&swrLayout_);
  av_channel_layout_copy(&swrLayout_, &f.ch_layout);
  return true;
}

// Output samples fall on the same instants as in a decode from the start
// only when the resampler starts where both rates' samples meet: after a
// seek, silence before the first frame moves the start back to such an instant.
void Media::StartResamplerAt(int64_t us) {
  swrSamples_ = 0;
  if (us == -1 || audioSkipUs_ <= 0) {
    swrStartUs_ = us == -1 ? audioPosUs_ : us;
    return;
  }
  const int64_t step = swrRate_ / std::gcd(swrRate_, kOutRate);
  const int64_t in = av_rescale(us, swrRate_, AV_TIME_BASE);
  const int64_t pad = ((in % step) + step) % step;
  if (pad > 0) swr_inject_silence(swr_, int(pad));
  swrStartUs_ = av_rescale(in - pad, AV_TIME_BASE, swrRate_);
}

// Converts a frame (or drains the resampler when f is null) into pcm_,
// dropping what lies before a seek's target.
void Media::AppendPcm(const AVFrame* f) {
  if (!swr_) return;
  int room = swr_get_out_samples(swr_, f ? f->nb_samples : 0);
  if (room <= 0) return;
  size_t old = pcm_.size();
  pcm_.resize(old + size_t(room) * kOutFrameBytes);
  uint8_t* out = pcm_.data() + old;
  int n = swr_convert(swr_, &out, room, f ? const_cast<const uint8_t**>(f->extended_data) : nullptr,
                      f ? f->nb_samples : 0);
  n = std::max(n, 0);
  pcm_.resize(old + size_t(n) * kOutFrameBytes);
  if (swrStartUs_ == AV_NOPTS_VALUE) StartResamplerAt(f ? AudioFrameUs(*f) : -1);
  const int64_t startUs = swrStartUs_ + av_rescale(swrSamples_, AV_TIME_BASE, kOutRate);
  swrSamples_ += n;
  audioPosUs_ = startUs + av_rescale(n, AV_TIME_BASE, kOutRate);
  if (audioSkipUs_ < 0) return;
  int64_t drop = std::min<int64_t>(av_rescale(audioSkipUs_ - startUs, kOutRate, AV_TIME_BASE), n);
  if (drop > 0) pcm_.erase(pcm_.begin() + old, pcm_.begin() + old + drop * kOutFrameBytes);
  if (drop < n) audioSkipUs_ = -1;
}

bool Media::DecodeAudio() {
  AVFrame* f = av_frame_alloc();
  if (!f) return false;
  bool more = true;
  for (;;) {
    int r = avcodec_receive_frame(adec_, f);
    if (r == 0) {
      if (audioProbe_ > 0) NoteStartFrame(*f);
      int64_t us = AudioFrameUs(*f);
      if (audioSkipUs_ >= 0 && us > audioSkipUs_ + 50000 && SeekEarlier(us)) continue;
      seekTargetUs_ = -1;
      if (ConfigureResampler(*f)) AppendPcm(f);
      break;
    }
    if (r == AVERROR_EOF && SeekEarlier(INT64_MAX)) continue;
    if (r != AVERROR(EAGAIN)) {
      AppendPcm(nullptr);
      more = false;
      break;
    }
    AVPacket* p = NextPacket(audio_);
    if (!p && audioFlushed_) {
      more = false;
      break;
    }
    audioFlushed_ = !p;
    avcodec_send_packet(adec_, p);
    av_packet_free(&p);
  }
  av_frame_free(&f);
  return more;
}

int32_t Media::ReadAudio(uint8_t* buffer, int32_t size) {
  if (!adec_ || size < 0) return -1;
  size_t want = size_t(size) / kOutFrameBytes * kOutFrameBytes;
  while (pcm_.size() - pcmRead_ < want && !audioEnd_) {
    if (pcmRead_ > 0) {
      pcm_.erase(pcm_.begin(), pcm_.begin() + long(pcmRead_));
      pcmRead_ = 0;
    }
    audioEnd_ = !DecodeAudio();
  }
  size_t n = std::min(want, pcm_.size() - pcmRead_);
  if (n) std::memcpy(buffer, pcm_.data() + pcmRead_, n);
  pcmRead_ += n;
  return int32_t(n);
}

}  // namespace lumvideo
