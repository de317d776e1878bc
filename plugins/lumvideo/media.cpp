#include "media.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumvideo {

namespace {

constexpr int kIoBufferSize = 64 * 1024;
// Packets kept for the other stream of a source read for both (seconds of
// it); older ones are dropped rather than letting memory grow.
constexpr size_t kMaxQueuedPackets = 1024;

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
  auto* r = static_cast<LumVideoReader*>(opaque);
  int32_t n = r->read(r->user, buffer, size);
  if (n < 0) return AVERROR(EIO);
  return n == 0 ? AVERROR_EOF : std::min(n, size);
}

int64_t SeekReader(void* opaque, int64_t offset, int whence) {
  auto* r = static_cast<LumVideoReader*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END && whence != AVSEEK_SIZE)
    return AVERROR(EINVAL);
  int64_t pos = r->seek(r->user, offset, whence);
  return pos < 0 ? AVERROR(EIO) : pos;
}

// Playlists and the like must not reach files beside the source.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

bool SaneRate(AVRational r) {
  return r.num > 0 && r.den > 0 && av_q2d(r) <= 1000.0;
}

void FreeQueue(std::deque<AVPacket*>& q) {
  for (AVPacket* p : q) av_packet_free(&p);
  q.clear();
}

}  // namespace

int64_t StreamDurationUs(const AVFormatContext* fmt, int index) {
  if (index < 0) return -1;
  const AVStream* s = fmt->streams[index];
  if (s->duration != AV_NOPTS_VALUE && s->duration > 0)
    return av_rescale_q(s->duration, s->time_base, AV_TIME_BASE_Q);
  return fmt->duration > 0 ? fmt->duration : 0;
}

Media* Media::Open(const char* name, const LumVideoReader& reader, LumVideoMediaInfo* info,
                   int32_t flags) {
  if (!reader.read || !reader.seek) return nullptr;
  Media* m = new Media();
  m->reader_ = reader;
  if (!m->OpenInput(name)) {
    delete m;
    return nullptr;
  }
  m->FindStreams(flags);
  if (m->video_ < 0 && m->audio_ < 0) {
    delete m;
    return nullptr;
  }
  m->originUs_ =
      std::max<int64_t>(m->fmt_->start_time == AV_NOPTS_VALUE ? 0 : m->fmt_->start_time, 0);
  m->demuxedVideoUs_ = m->DemuxedVideoUs();
  if (info) m->FillInfo(*info);
  return m;
}

Media::~Media() {
  CloseAudio();
  FreeQueue(videoQueue_);
  for (SwsContext* s : sws_) sws_freeContext(s);
  avcodec_free_context(&vdec_);
  av_packet_free(&packet_);
  avformat_close_input(&fmt_);
  if (io_) av_freep(&io_->buffer);
  avio_context_free(&io_);
}

bool Media::OpenInput(const char* name) {
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  io_ = avio_alloc_context(buffer, kIoBufferSize, 0, &reader_, ReadPacket, nullptr, SeekReader);
  fmt_ = avformat_alloc_context();
  if (!io_ || !fmt_) {
    if (!io_) av_free(buffer);
    return false;
  }
  fmt_->pb = io_;
  fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
  fmt_->io_open = RefuseOpen;
  // The prefix marks container members; the rest still hints the format.
  std::string hint = name ? name : "";
  if (hint.rfind("qwe", 0) == 0) hint.erase(0, 3);
  if (avformat_open_input(&fmt_, hint.c_str(), nullptr, nullptr) < 0) return false;
  return avformat_find_stream_info(fmt_, nullptr) >= 0;
}

void Media::FindStreams(int32_t flags) {
  if (!(flags & LUM_OPEN_NO_VIDEO)) {
    video_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video_ >= 0 && (fmt_->streams[video_]->disposition & AV_DISPOSITION_ATTACHED_PIC))
      video_ = -1;  // cover art of a sound file
    if (video_ >= 0 && !OpenVideoDecoder()) video_ = -1;
  }
  if (!(flags & LUM_OPEN_NO_AUDIO)) {
    audio_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    LumVideoAudioInfo ai;
    if (audio_ >= 0 && !AudioInfo(ai)) audio_ = -1;
  }
  if (const AVDictionaryEntry* c = av_dict_get(fmt_->metadata, "comment", nullptr, 0)) {
    if (std::strstr(c->value, "Orvak_ITFA"))
      forcedFields_ = LUM_FRAME_INTERLACED | LUM_FRAME_TOP_FIELD_FIRST;
    if (std::strstr(c->value, "Orvak_ITFB")) forcedFields_ = LUM_FRAME_INTERLACED;
  }
}

bool Media::OpenVideoDecoder() {
  const AVStream* s = fmt_->streams[video_];
  const AVCodecParameters* par = s->codecpar;
  if (par->width <= 0 || par->height <= 0 || par->width > kMaxSide || par->height > kMaxSide ||
      int64_t(par->width) * par->height > kMaxPixels)
    return false;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec || !(vdec_ = avcodec_alloc_context3(codec))) return false;
  if (avcodec_parameters_to_context(vdec_, par) < 0) return false;
  vdec_->pkt_timebase = s->time_base;
  vdec_->max_pixels = kMaxPixels;
  // Frame threads within the player's two-core budget.
  vdec_->thread_count = 2;
  vdec_->thread_type = FF_THREAD_FRAME;
  if (avcodec_open2(vdec_, codec, nullptr) < 0) return false;
  if (SaneRate(s->avg_frame_rate))
    frameRate_ = s->avg_frame_rate;
  else if (SaneRate(s->r_frame_rate))
    frameRate_ = s->r_frame_rate;
  return true;
}

int64_t Media::DemuxedVideoUs() {
  if (video_ < 0 || fmt_->duration_estimation_method == AVFMT_DURATION_FROM_STREAM ||
      (fmt_->iformat->flags & AVFMT_NO_BYTE_SEEK))
    return 0;
  const int64_t size = avio_size(fmt_->pb);
  if (size <= 0) return 0;
  const AVStream* st = fmt_->streams[video_];
  const int64_t frameTs = std::max<int64_t>(
      1, av_rescale_q(1, AVRational{frameRate_.den, frameRate_.num}, st->time_base));
  int64_t first = AV_NOPTS_VALUE, last = AV_NOPTS_VALUE, lastDuration = frameTs;
  // Decode stamps are one frame apart in decoding order, so the last one
  // tells the length even where the last pictures carry no stamps of their
  // own. Each read is bounded by its window of the file.
  auto scan = [&](int64_t from, int packets, bool firstOnly) {
    if (av_seek_frame(fmt_, -1, from, AVSEEK_FLAG_BYTE) < 0) return;
    for (int n = 0; n < packets && av_read_frame(fmt_, packet_) >= 0; ++n) {
      const bool stamped = packet_->stream_index == video_ && packet_->dts != AV_NOPTS_VALUE;
      if (stamped && first == AV_NOPTS_VALUE) first = packet_->dts;
      if (stamped && (last == AV_NOPTS_VALUE || packet_->dts >= last)) {
        last = packet_->dts;
        lastDuration = packet_->duration > 0 ? packet_->duration : frameTs;
      }
      av_packet_unref(packet_);
      if (firstOnly && first != AV_NOPTS_VALUE) break;
    }
  };
  constexpr int kHeadPackets = 4096;
  scan(0, kHeadPackets, true);
  // The tail: a megabyte, then wider windows while it holds no picture.
  for (int64_t window = 1 << 20; first != AV_NOPTS_VALUE; window *= 4) {
    scan(std::max<int64_t>(size - window, 0), INT32_MAX, false);
    if (last != AV_NOPTS_VALUE || window >= size || window >= (16 << 20)) break;
  }
  av_seek_frame(fmt_, -1, 0, AVSEEK_FLAG_BYTE);
  if (first == AV_NOPTS_VALUE || last == AV_NOPTS_VALUE || last < first) return 0;
  // A day at most: stamps of a damaged file must not make a clip endless.
  constexpr int64_t kMaxUs = int64_t(24) * 3600 * AV_TIME_BASE;
  return std::min(av_rescale_q(last - first + lastDuration, st->time_base, AV_TIME_BASE_Q), kMaxUs);
}

void Media::FillInfo(LumVideoMediaInfo& info) const {
  info = LumVideoMediaInfo{};
  // Where the header's estimate falls short of the demuxed stream, the
  // stream holds: its last frames must be shown.
  info.videoDurationUs = StreamDurationUs(fmt_, video_);
  if (demuxedVideoUs_ > 0 && demuxedVideoUs_ > info.videoDurationUs)
    info.videoDurationUs = demuxedVideoUs_;
  info.audioDurationUs = StreamDurationUs(fmt_, audio_);
  info.durationUs = std::max<int64_t>(
      {fmt_->duration > 0 ? fmt_->duration : 0, info.videoDurationUs, info.audioDurationUs});
  if (video_ < 0) return;
  const AVStream* s = fmt_->streams[video_];
  info.width = s->codecpar->width;
  info.height = s->codecpar->height;
  info.frameRateNum = frameRate_.num;
  info.frameRateDen = frameRate_.den;
  info.timeBaseNum = s->time_base.num;
  info.timeBaseDen = s->time_base.den;
}

// Times count from the file's start (encoder priming before it is negative).
int64_t Media::PtsUs(int64_t ts, int stream) const {
  if (ts == AV_NOPTS_VALUE || stream < 0) return -1;
  return av_rescale_q(ts, fmt_->streams[stream]->time_base, AV_TIME_BASE_Q) - originUs_;
}

void Media::Keep(std::deque<AVPacket*>& queue, AVPacket* p) {
  if (queue.size() >= kMaxQueuedPackets) {
    av_packet_free(&queue.front());
    queue.pop_front();
  }
  queue.push_back(p);
}

AVPacket* Media::NextPacket(int stream) {
  std::deque<AVPacket*>& own = stream == video_ ? videoQueue_ : audioQueue_;
  if (!own.empty()) {
    AVPacket* p = own.front();
    own.pop_front();
    return p;
  }
  while (!demuxEnd_) {
    demuxed_ = true;
    if (av_read_frame(fmt_, packet_) < 0) {
      demuxEnd_ = true;
      break;
    }
    int index = packet_->stream_index;
    // Pictures read past while probing the sound stay for a later reader.
    bool keepVideo = index == video_ && (videoActive_ || audioProbe_ > 0);
    bool keepAudio = index == audio_ && adec_;
    if (index == stream || keepVideo || keepAudio) {
      AVPacket* p = av_packet_clone(packet_);
      av_packet_unref(packet_);
      if (!p || index == stream) return p;
      Keep(index == video_ ? videoQueue_ : audioQueue_, p);
    } else {
      av_packet_unref(packet_);
    }
  }
  return nullptr;
}

int Media::DecodeVideo(AVFrame* f) {
  for (;;) {
    int r = avcodec_receive_frame(vdec_, f);
    if (r == 0) return 0;
    if (r != AVERROR(EAGAIN)) return LUM_VIDEO_END;
    AVPacket* p = NextPacket(video_);
    if (!p) {
      if (videoFlushed_) return LUM_VIDEO_END;
      videoFlushed_ = true;
      avcodec_send_packet(vdec_, nullptr);
      continue;
    }
    // A packet the decoder rejects is skipped: the next key frame recovers.
    avcodec_send_packet(vdec_, p);
    av_packet_free(&p);
  }
}

int32_t Media::FieldOrder(const AVFrame& f) const {
  if (forcedFields_ >= 0) return forcedFields_;
  if (fmt_->streams[video_]->codecpar->field_order == AV_FIELD_PROGRESSIVE) return 0;
  if (!f.interlaced_frame) return 0;
  return LUM_FRAME_INTERLACED | (f.top_field_first ? LUM_FRAME_TOP_FIELD_FIRST : 0);
}

int Media::NextVideoFrame(Frame& frame) {
  if (video_ < 0) return -1;
  videoActive_ = true;
  const int64_t halfFrameUs = av_rescale(AV_TIME_BASE / 2, frameRate_.den, frameRate_.num);
  for (;;) {
    av_frame_unref(frame.av);
    int r = DecodeVideo(frame.av);
    // Landing after the last key frame decodes nothing: go further back.
    if (r == LUM_VIDEO_END && SeekEarlier(INT64_MAX)) continue;
    if (r != 0) {
      frame.info = -1;
      return r;
    }
    int64_t us = PtsUs(frame.av->best_effort_timestamp, video_);
    if (frame.av->best_effort_timestamp == AV_NOPTS_VALUE) {
      if (seekTargetUs_ >= 0) continue;  // cannot be placed after a seek
      us = lastVideoUs_ < 0 ? 0 : lastVideoUs_ + 2 * halfFrameUs;
    }
    lastVideoUs_ = us;
    if (videoSkipUs_ >= 0 && us > videoSkipUs_ + halfFrameUs && SeekEarlier(us)) continue;
    seekTargetUs_ = -1;
    if (videoSkipUs_ >= 0 && us + halfFrameUs <= videoSkipUs_) continue;
    videoSkipUs_ = -1;
    frame.ptsUs = us;
    frame.dtsUs = PtsUs(frame.av->pkt_dts, video_);
    frame.info = FieldOrder(*frame.av) | (frame.av->key_frame ? LUM_FRAME_KEY : 0);
    return 0;
  }
}

int32_t Media::Seek(int32_t stream, int64_t time, int32_t flags) {
  if (stream >= int32_t(fmt_->nb_streams)) return -1;
  int64_t targetUs;
  if (flags & LUM_SEEK_FRAME) {
    targetUs = av_rescale(time, int64_t(AV_TIME_BASE) * frameRate_.den, frameRate_.num);
  } else if (stream >= 0) {
    targetUs = PtsUs(time, stream);
  } else {
    targetUs = time;
  }
  targetUs = std::max<int64_t>(targetUs, 0);
  // Sound decoders need a frame before the time to rebuild their overlap.
  const int64_t prerollUs = adec_ && !videoActive_ ? 200000 : 0;
  if (!SeekTo(targetUs - prerollUs < 0 && prerollUs > 0
                  ? -prerollUs
                  : std::max<int64_t>(targetUs - prerollUs, 0)))
    return -1;
  videoSkipUs_ = (flags & LUM_SEEK_ANY) ? -1 : targetUs;
  audioSkipUs_ = targetUs;
  audioPosUs_ = targetUs;
  seekTargetUs_ = targetUs;
  seekBackUs_ = prerollUs;
  return 0;
}

bool Media::SeekTo(int64_t us) {
  int64_t ts = us + originUs_;
  // At or before the time: decoding forward from there reaches it exactly.
  // Before the start, the first packet: encoder priming stamped before 0
  // rebuilds the decoder's overlap there as at the first decode.
  const int64_t maxTs = us < 0 ? INT64_MAX : ts;
  if (avformat_seek_file(fmt_, -1, INT64_MIN, ts, maxTs, 0) < 0 &&
      avformat_seek_file(fmt_, -1, INT64_MIN, ts, maxTs, AVSEEK_FLAG_ANY) < 0)
    return false;
  demuxEnd_ = false;
  demuxed_ = true;
  audioProbe_ = 0;
  FlushVideo();
  FlushAudio();
  return true;
}

bool Media::SeekEarlier(int64_t firstUs) {
  if (seekTargetUs_ < 0 || firstUs <= seekTargetUs_) return false;
  int64_t from = seekTargetUs_ - seekBackUs_;
  if (from <= 0) return false;
  seekBackUs_ = std::max<int64_t>(2 * seekBackUs_, 1000000);
  return SeekTo(std::max<int64_t>(seekTargetUs_ - seekBackUs_, 0));
}

void Media::FlushVideo() {
  FreeQueue(videoQueue_);
  videoFlushed_ = false;
  if (vdec_) avcodec_flush_buffers(vdec_);
}

}  // namespace lumvideo
