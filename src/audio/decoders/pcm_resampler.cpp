#include "audio/decoders/pcm_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/errors.h"

namespace lum {

namespace {

int32_t Clamp16(int32_t v) {
  return std::clamp(v, -32768, 32767);
}

int32_t Sample(const uint8_t* p, const TWaveFormatEx& f) {
  if (f.formatTag == kWaveFormatFloat) {
    float x;
    std::memcpy(&x, p, 4);
    if (!std::isfinite(x)) return 0;
    double v = std::round(double(x) * 32767.0);
    return int32_t(std::clamp(v, -32768.0, 32767.0));
  }
  switch (f.bitsPerSample) {
    case 8:
      return (int32_t(p[0]) - 128) << 8;
    case 16:
      return int16_t(p[0] | p[1] << 8);
    case 24:
      return int16_t(p[1] | p[2] << 8);
    default:  // 32-bit integer: upper 16 bits
      return int16_t(p[2] | p[3] << 8);
  }
}

}  // namespace

bool TPcmResampler::CanConvert(const TWaveFormatEx& in, const TWaveFormatEx& out) {
  bool inOk = in.samplesPerSec > 0 && in.blockAlign == in.channels * in.bitsPerSample / 8;
  if (in.formatTag == kWaveFormatFloat) {
    inOk = inOk && in.bitsPerSample == 32 && (in.channels == 1 || in.channels == 2);
  } else if (in.channels == 6) {
    inOk = inOk && in.bitsPerSample == 16;
  } else {
    inOk = inOk && (in.channels == 1 || in.channels == 2) &&
           (in.bitsPerSample == 8 || in.bitsPerSample == 16 || in.bitsPerSample == 24 ||
            in.bitsPerSample == 32);
  }
  bool outOk = out.samplesPerSec > 0 && (out.channels == 1 || out.channels == 2) &&
               (out.bitsPerSample == 8 || out.bitsPerSample == 16) &&
               out.blockAlign == out.channels * out.bitsPerSample / 8;
  return inOk && outOk;
}

TPcmResampler::TPcmResampler(const TWaveFormatEx& in, const TWaveFormatEx& out)
    : in_(in), out_(out) {
  if (!CanConvert(in, out)) throw ELumError("Unsupported PCM conversion");
  sameRate_ = in.samplesPerSec == out.samplesPerSec;
  step_ = double(in.samplesPerSec) / out.samplesPerSec;
}

void TPcmResampler::Reset() {
  primed_ = 0;
  t_ = 0;
  std::memset(hist_, 0, sizeof hist_);
}

void TPcmResampler::ReadFrame(const uint8_t* p, int32_t& l, int32_t& r) const {
  int bytes = in_.bitsPerSample / 8;
  if (in_.channels == 6) {
    int32_t c[6];
    for (int i = 0; i < 6; ++i) c[i] = Sample(p + 2 * i, in_);
    l = c[0] + c[1] + c[3] + c[5];
    r = c[1] + c[2] + c[4] + c[5];
  } else if (in_.channels == 2) {
    l = Sample(p, in_);
    r = Sample(p + bytes, in_);
  } else {
    l = r = Sample(p, in_);
  }
}

void TPcmResampler::WriteFrame(uint8_t*& d, int32_t l, int32_t r) const {
  l = Clamp16(l);
  r = Clamp16(r);
  auto put = [&](int32_t v) {
    if (out_.bitsPerSample == 8) {
      *d++ = uint8_t((v >> 8) + 128);
    } else {
      *d++ = uint8_t(v & 0xFF);
      *d++ = uint8_t((v >> 8) & 0xFF);
    }
  };
  if (out_.channels == 1) {
    put((l + r) / 2);
  } else {
    put(l);
    put(r);
  }
}

void TPcmResampler::Convert(TLocalBuffer& input, TLocalBuffer& output) {
  size_t frames = input.Size() / in_.blockAlign;
  if (frames == 0) return;
  const uint8_t* src = input.Data();
  size_t maxOut = sameRate_ ? frames : size_t(double(frames) / step_) + 2;
  output.Reserve(maxOut * out_.blockAlign);
  uint8_t* dst = output.FreeSpace();
  uint8_t* start = dst;
  if (sameRate_) {
    for (size_t i = 0; i < frames; ++i) {
      int32_t l, r;
      ReadFrame(src + i * in_.blockAlign, l, r);
      WriteFrame(dst, l, r);
    }
  } else {
    for (size_t i = 0; i < frames; ++i) {
      int32_t l, r;
      ReadFrame(src + i * in_.blockAlign, l, r);
      hist_[0][0] = hist_[1][0];
      hist_[0][1] = hist_[1][1];
      hist_[1][0] = hist_[2][0];
      hist_[1][1] = hist_[2][1];
      hist_[2][0] = l;
      hist_[2][1] = r;
      if (primed_ < 3) {
        if (++primed_ < 3) continue;
      } else {
        t_ -= 1.0;
      }
      // Output frames that fall between s0 and s1 of the current window.
      while (t_ < 1.0) {
        double t = t_;
        double a = (t - 1) * (t - 2) / 2, b = -t * (t - 2), c = t * (t - 1) / 2;
        int32_t o[2];
        for (int ch = 0; ch < 2; ++ch) {
          double v = a * hist_[0][ch] + b * hist_[1][ch] + c * hist_[2][ch];
          o[ch] = int32_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
        }
        if (size_t(dst - start) / out_.blockAlign >= maxOut) {
          output.Commit(dst - start);
          output.Reserve(64 * out_.blockAlign);
          start = dst = output.FreeSpace();
          maxOut = 64;
        }
        WriteFrame(dst, o[0], o[1]);
        t_ += step_;
      }
    }
  }
  output.Commit(dst - start);
  input.Consume(frames * in_.blockAlign);
}

}  // namespace lum
