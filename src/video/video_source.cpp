#include "video/video_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>

#include "foundation/case_fold.h"
#include "foundation/log.h"

namespace lum {

namespace {

// Decoding forward after a seek gives up after this many frames without
// reaching the wanted one (a broken index would otherwise decode the file).
constexpr int kMaxForwardDecodes = 2000;
// A frame at most this many seconds ahead is reached by decoding on: a seek
// would land on a key frame before it anyway (often before the current one)
// and decode as far.
constexpr double kDecodeOnSeconds = 2;
// Frames in a row whose stamps do not advance before decoding on gives up.
constexpr int kMaxStalledDecodes = 4;

}  // namespace

const char* VideoCodecName(TVideoCodec codec) {
  static constexpr const char* kNames[] = {"MPEG2", "MPEG4", "H264", "XVID", "OTHER"};
  return kNames[int(codec)];
}

TVideoCodec ClassifyCodec(const std::string& name) {
  if (FoldedEquals(name, "mpeg") || FoldedEquals(name, "mpegvideo") ||
      FoldedEquals(name, "mpeg2video") || FoldedEquals(name, "mpegts"))
    return TVideoCodec::MPEG2;
  if (FoldedEquals(name, "h264")) return TVideoCodec::H264;
  if (FoldedEquals(name, "mpeg4")) return TVideoCodec::MPEG4;
  if (FoldedEquals(name, "xvid")) return TVideoCodec::XVID;
  return TVideoCodec::OTHER;
}

TRef<TWinVideoSource> TWinVideoSource::Open(TRef<TFFMpegDll> lib, const std::string& name,
                                            std::unique_ptr<TStream> stream,
                                            std::string* errorText) {
  auto fail = [&](const std::string& why) {
    if (errorText) *errorText = why;
    return TRef<TWinVideoSource>();
  };
  if (!lib) return fail("video library not available");
  if (!stream) return fail("file not found");
  TRef<TWinVideoSource> s(new TWinVideoSource());
  s->lib_ = lib;
  s->name_ = name;
  s->stream_ = std::move(stream);
  s->reader_ = StreamReader(*s->stream_);
  LumVideoMediaInfo mi{};
  try {
    s->stream_->Seek(0, TSeekOrigin::Begin);
  } catch (const std::exception&) {
    return fail("file cannot be read");
  }
  {
    std::lock_guard<std::mutex> lock(lib->OpenLock());
    s->media_ = lib->OpenMediaFile(("qwe" + name).c_str(), &s->reader_, &mi);
  }
  if (!s->media_) return fail("not a video the library can open");
  if (mi.width <= 0 || mi.height <= 0 || int64_t(mi.width) * mi.height > kMaxVideoPixels)
    return fail("unusable frame size " + std::to_string(mi.width) + "x" +
                std::to_string(mi.height));
  s->width_ = mi.width;
  s->height_ = mi.height;
  // Files without a usable rate play at 25 frames a second.
  if (mi.frameRateNum > 0 && mi.frameRateDen > 0) {
    s->rateNum_ = mi.frameRateNum;
    s->rateDen_ = mi.frameRateDen;
  }
  if (mi.timeBaseNum > 0 && mi.timeBaseDen > 0) {
    s->tbNum_ = mi.timeBaseNum;
    s->tbDen_ = mi.timeBaseDen;
  }
  const int64_t us = mi.videoDurationUs > 0 ? mi.videoDurationUs : mi.durationUs;
  s->durationMs_ = us > 0 ? double(us) / 1000 : 0;
  const int32_t n = lib->GetFormatName(s->media_, nullptr, 0);
  if (n > 0 && n < 4096) {
    std::string buf(size_t(n) + 1, '\0');
    lib->GetFormatName(s->media_, buf.data(), n + 1);
    s->formatName_ = buf.c_str();
  }
  s->codec_ = ClassifyCodec(s->formatName_);
  s->frame_ = lib->AllocBuffer(s->media_);
  if (!s->frame_) return fail("no frame buffer");
  if (!s->ReadFirstFrames()) return fail("no frames");
  return s;
}

TWinVideoSource::~TWinVideoSource() {
  if (frame_) lib_->FreeBuffer(frame_);
  if (media_) lib_->CloseMediaFile(media_);
}

int64_t TWinVideoSource::FrameCount() const {
  const double n = std::floor(durationMs_ * rateNum_ / rateDen_ / 1000 + 0.5);
  return std::max<int64_t>(1, n > 1e12 ? int64_t(1e12) : int64_t(n));
}

bool TWinVideoSource::ReadFirstFrames() {
  // The stream's start time and, for interlaced material, the field order
  // (the flags of up to three frames decide).
  for (int i = 0; i < 3; ++i) {
    if (lib_->GetNextVideoFrame(media_, frame_) < 0) break;
    ++decodes_;
    int64_t dts = 0, pts = 0;
    if (i == 0 && lib_->GetDtsPts(frame_, &dts, &pts) >= 0)
      startUs_ = double(pts) * tbNum_ / tbDen_ * 1e6;
    const int32_t flags = lib_->GetFrameInfo(frame_);
    if (flags > 0 && (flags & LUM_FRAME_INTERLACED)) {
      interlaced_ = true;
      topFirst_ = (flags & LUM_FRAME_TOP_FIELD_FIRST) != 0;
      break;
    }
  }
  if (decodes_ == 0) return false;
  return SeekTo(0);
}

int64_t TWinVideoSource::IndexOfDecoded() const {
  int64_t dts = 0, pts = 0;
  if (lib_->GetDtsPts(frame_, &dts, &pts) < 0 || pts < 0) return current_ + 1;
  const double us = double(pts) * tbNum_ / tbDen_ * 1e6 - startUs_;
  const double n = std::round(us / 1e6 * rateNum_ / rateDen_);
  return std::isfinite(n) ? int64_t(std::clamp(n, -1e12, 1e12)) : current_ + 1;
}

bool TWinVideoSource::DecodeNext() {
  if (lib_->GetNextVideoFrame(media_, frame_) < 0) return false;
  ++decodes_;
  current_ = IndexOfDecoded();
  return true;
}

bool TWinVideoSource::SeekTo(int64_t n) {
  // Half a frame early: time stamps rounded down must not skip frame n. The
  // library counts from the stream's start.
  const double us = std::max(0.0, (double(n) - 0.5) * 1e6 * rateDen_ / rateNum_);
  if (lib_->SeekFile(media_, -1, int64_t(us), 0) < 0) return false;
  lib_->FlushVideo(media_);
  current_ = -1;
  return DecodeNext();
}

bool TWinVideoSource::Reach(int64_t n) {
  const double ahead = double(n - current_) * rateDen_ / rateNum_;
  bool ok = n > current_ && current_ >= 0 && ahead <= kDecodeOnSeconds ? DecodeNext() : SeekTo(n);
  // A seek may land on a later key frame: start again from the beginning.
  if (ok && current_ > n) ok = SeekTo(0);
  for (int i = 0, stalled = 0; ok && current_ < n && i < kMaxForwardDecodes; ++i) {
    const int64_t before = current_;
    // The decoder keeps no frame once it fails: nothing to show.
    if (!DecodeNext()) return false;
    // Muxers stamp a picture sharing a pack one frame late, so two may
    // share a number; only a run of them means the stamps stopped.
    stalled = current_ <= before ? stalled + 1 : 0;
    if (stalled > kMaxStalledDecodes) break;
  }
  return ok;
}

bool TWinVideoSource::HoldLastFrame(int64_t n) {
  // Back a second, then twice as far each time, until a frame decodes.
  const int64_t second = std::max<int64_t>(1, rateNum_ / std::max(1, rateDen_));
  for (int64_t back = second;; back *= 2) {
    const int64_t from = std::max<int64_t>(0, n - back);
    if (SeekTo(from)) {
      int64_t last = current_;
      for (int i = 0; i < kMaxForwardDecodes && current_ < n && DecodeNext(); ++i)
        last = std::max(last, current_);
      if (current_ >= n) return true;  // reached after all
      last = std::min(last, n - 1);
      if (!Reach(last)) return false;
      holdFrom_ = holdFrom_ < 0 ? n : std::min(holdFrom_, n);
      held_ = current_;
      return true;
    }
    if (from == 0) return false;
  }
}

bool TWinVideoSource::GetFrame(int64_t n, TVideoFrame& out) {
  const int64_t asked = std::max<int64_t>(0, n);
  // Frames past a cut show the last one before it, decoded once.
  n = holdFrom_ >= 0 && asked >= holdFrom_ ? held_ : asked;
  if (n == current_ && out.index == asked) return true;
  if (n != current_ && !Reach(n)) {
    const bool held = HoldLastFrame(n);
    if (!held || current_ < n) Fail(n, held);
    if (!held) return false;
  }
  if (!Convert(out)) return false;
  if (holdFrom_ >= 0 && asked >= holdFrom_) out.index = asked;
  failing_ = false;
  return true;
}

bool TWinVideoSource::Convert(TVideoFrame& out) {
  // An even pitch makes the library's half-pitch chroma rows hold odd widths.
  const int pitch = width_ + (width_ & 1);
  const int cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
  const size_t ySize = size_t(pitch) * height_, cSize = size_t(pitch / 2) * ch;
  converted_.resize(ySize + 2 * cSize);
  if (lib_->ConvertFrame(media_, frame_, LUM_VIDEO_YUV420P, converted_.data(), pitch) < 0) {
    Log().Line("YUV data not found");
    return false;
  }
  out.Resize(width_, height_);
  for (int r = 0; r < height_; ++r)
    std::memcpy(&out.y[size_t(r) * width_], &converted_[size_t(r) * pitch], size_t(width_));
  for (int r = 0; r < ch; ++r) {
    const size_t at = size_t(r) * (pitch / 2);
    std::memcpy(&out.u[size_t(r) * cw], &converted_[ySize + at], size_t(cw));
    std::memcpy(&out.v[size_t(r) * cw], &converted_[ySize + cSize + at], size_t(cw));
  }
  out.index = current_;
  return true;
}

void TWinVideoSource::Fail(int64_t n, bool held) {
  // A cut file fails every frame past the cut: said once, not per frame.
  if (failing_) return;
  failing_ = !held;
  Log().Line("Video " + name_ + ": frame " + std::to_string(n) + " of " +
             std::to_string(FrameCount()) +
             " cannot be decoded (the file is damaged or cut short): " +
             (held ? "frame " + std::to_string(held_) + " is shown for the frames after it"
                   : "no frame is shown"));
}

}  // namespace lum
