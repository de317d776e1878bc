// Conversion of decoded frames into the caller's buffer, always at the
// stream's frame size so that a frame changing size mid-stream cannot
// overrun a buffer sized from the media info.
#include <climits>
#include <cstring>

#include "media.h"

namespace lumvideo {

namespace {

struct Layout {
  int64_t minPitch = 0;
  int64_t bytes = 0;
};

Layout LayoutOf(int32_t format, int w, int h, int64_t pitch) {
  Layout l;
  switch (format) {
    case LUM_VIDEO_RGB24:
      l.minPitch = int64_t(w) * 3;
      break;
    case LUM_VIDEO_RGBA:
      l.minPitch = int64_t(w) * 4;
      break;
    case LUM_VIDEO_YUV420P:
      l.minPitch = int64_t((w + 1) / 2) * 2;
      break;
    default:
      return l;
  }
  if (pitch <= 0) pitch = l.minPitch;
  l.bytes = pitch * h;
  if (format == LUM_VIDEO_YUV420P) l.bytes += 2 * (pitch / 2) * ((h + 1) / 2);
  return l;
}

AVPixelFormat PixelFormatOf(int32_t format) {
  return format == LUM_VIDEO_RGB24  ? AV_PIX_FMT_RGB24
         : format == LUM_VIDEO_RGBA ? AV_PIX_FMT_RGBA
                                    : AV_PIX_FMT_YUV420P;
}

bool FullRange(const AVFrame& f) {
  return f.color_range == AVCOL_RANGE_JPEG || f.format == AV_PIX_FMT_YUVJ420P ||
         f.format == AV_PIX_FMT_YUVJ422P || f.format == AV_PIX_FMT_YUVJ444P;
}

void CopyPlane(uint8_t* dst, int64_t dstPitch, const uint8_t* src, int srcPitch, int w, int h) {
  for (int y = 0; y < h; ++y)
    std::memcpy(dst + y * dstPitch, src + int64_t(y) * srcPitch, size_t(w));
}

}  // namespace

SwsContext* Media::Scaler(const AVFrame& f, int32_t format) {
  const AVCodecParameters* par = fmt_->streams[video_]->codecpar;
  SwsContext*& slot = sws_[format - 1];
  slot = sws_getCachedContext(slot, f.width, f.height, AVPixelFormat(f.format), par->width,
                              par->height, PixelFormatOf(format), SWS_BILINEAR, nullptr, nullptr,
                              nullptr);
  if (!slot) return nullptr;
  const int* coefficients =
      sws_getCoefficients(f.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT);
  // The planar output is video range, as the drawer's shaders expect.
  sws_setColorspaceDetails(slot, coefficients, FullRange(f), coefficients,
                           format == LUM_VIDEO_YUV420P ? 0 : 1, 0, 1 << 16, 1 << 16);
  return slot;
}

int32_t Media::Convert(const Frame& frame, int32_t format, void* out, int32_t pitch) {
  if (video_ < 0) return -1;
  const AVCodecParameters* par = fmt_->streams[video_]->codecpar;
  const int w = par->width, h = par->height;
  Layout l = LayoutOf(format, w, h, pitch);
  if (l.bytes <= 0 || l.bytes > INT32_MAX || (pitch > 0 && pitch < l.minPitch)) return -1;
  if (!out) return int32_t(l.bytes);
  const AVFrame& f = *frame.av;
  if (!f.data[0] || f.width <= 0 || f.height <= 0) return -1;
  const int64_t p = pitch > 0 ? pitch : l.minPitch;
  auto* dst = static_cast<uint8_t*>(out);
  uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
  int pitches[4] = {int(p), 0, 0, 0};
  if (format == LUM_VIDEO_YUV420P) {
    planes[1] = dst + p * h;
    planes[2] = planes[1] + (p / 2) * ((h + 1) / 2);
    pitches[1] = pitches[2] = int(p / 2);
    if (f.format == AV_PIX_FMT_YUV420P && !FullRange(f) && f.width == w && f.height == h) {
      CopyPlane(planes[0], p, f.data[0], f.linesize[0], w, h);
      CopyPlane(planes[1], p / 2, f.data[1], f.linesize[1], (w + 1) / 2, (h + 1) / 2);
      CopyPlane(planes[2], p / 2, f.data[2], f.linesize[2], (w + 1) / 2, (h + 1) / 2);
      return int32_t(l.bytes);
    }
  }
  SwsContext* sws = Scaler(f, format);
  if (!sws || sws_scale(sws, f.data, f.linesize, 0, f.height, planes, pitches) <= 0) return -1;
  return int32_t(l.bytes);
}

}  // namespace lumvideo
