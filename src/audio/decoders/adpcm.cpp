#include "audio/decoders/adpcm.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lum {

namespace {

const int16_t kMsDefaultCoefs[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                       {240, 0}, {460, -208}, {392, -232}};
const int kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                          768, 614, 512, 409, 307, 230, 230, 230};

const int kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kImaIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

int16_t S16(const uint8_t* p) {
  return int16_t(p[0] | p[1] << 8);
}
int16_t Clamp16(int v) {
  return int16_t(std::clamp(v, -32768, 32767));
}

bool IsIma(const TWaveFormatEx& f) {
  return f.formatTag == kWaveFormatImaAdpcm;
}

// Samples per channel held by size bytes of a block (a short last block
// holds fewer than a whole one).
int SamplesInBytes(const TWaveFormatEx& f, size_t size) {
  int ch = f.channels;
  if (IsIma(f)) {
    if (size < size_t(4 * ch)) return 0;
    return int((size - 4 * ch) / (4 * ch)) * 8 + 1;
  }
  if (size < size_t(7 * ch)) return 0;
  return int((size - 7 * ch) * 2 / ch) + 2;
}

}  // namespace

int AdpcmSamplesPerBlock(const TWaveFormatEx& f, const uint8_t*) {
  if (f.channels < 1 || f.channels > 2 || f.blockAlign == 0) return 0;
  return SamplesInBytes(f, f.blockAlign);
}

bool DecodeMsAdpcmBlock(const uint8_t* block, size_t size, int channels, int samples,
                        const int16_t (*coefs)[2], int numCoefs, std::vector<int16_t>& out) {
  size_t header = size_t(7 * channels);
  if (channels < 1 || channels > 2 || samples < 2 || size < header ||
      size_t(samples - 2) * channels > (size - header) * 2) {
    out.insert(out.end(), size_t(std::max(samples, 0)) * std::max(channels, 0), 0);
    return false;
  }
  int pred[2], delta[2], s1[2], s2[2];
  for (int c = 0; c < channels; ++c) {
    pred[c] = block[c];
    delta[c] = S16(block + channels + 2 * c);
    s1[c] = S16(block + 3 * channels + 2 * c);
    s2[c] = S16(block + 5 * channels + 2 * c);
    if (pred[c] >= numCoefs) {
      out.insert(out.end(), size_t(samples) * channels, 0);
      return false;
    }
  }
  for (int c = 0; c < channels; ++c) out.push_back(int16_t(s2[c]));
  for (int c = 0; c < channels; ++c) out.push_back(int16_t(s1[c]));
  const uint8_t* p = block + header;
  size_t nibbles = size_t(samples - 2) * channels;
  for (size_t i = 0; i < nibbles; ++i) {
    int c = int(i % channels);
    int n = (i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4);
    int signedN = n >= 8 ? n - 16 : n;
    // Arithmetic shift, as the encoders predict.
    int predicted = (s1[c] * coefs[pred[c]][0] + s2[c] * coefs[pred[c]][1]) >> 8;
    int sample = int(std::clamp<int64_t>(predicted + int64_t(signedN) * delta[c], -32768, 32767));
    s2[c] = s1[c];
    s1[c] = sample;
    // Damaged data may grow the step without end; it is held where valid
    // streams never reach.
    delta[c] = int(std::clamp<int64_t>(int64_t(kMsAdapt[n]) * delta[c] / 256, 16, 1 << 24));
    out.push_back(int16_t(sample));
  }
  return true;
}

bool DecodeImaAdpcmBlock(const uint8_t* block, size_t size, int channels, int samples,
                         std::vector<int16_t>& out) {
  size_t header = size_t(4 * channels);
  if (channels < 1 || channels > 2 || samples < 1 || size < header ||
      size_t(samples - 1) > (size - header) / (4 * channels) * 8) {
    out.insert(out.end(), size_t(std::max(samples, 0)) * std::max(channels, 0), 0);
    return false;
  }
  int pred[2], index[2];
  for (int c = 0; c < channels; ++c) {
    pred[c] = S16(block + 4 * c);
    index[c] = block[4 * c + 2];
    if (index[c] > 88) {
      out.insert(out.end(), size_t(samples) * channels, 0);
      return false;
    }
  }
  size_t base = out.size();
  out.resize(base + size_t(samples) * channels);
  int16_t* dst = out.data() + base;
  for (int c = 0; c < channels; ++c) dst[c] = int16_t(pred[c]);
  // After the header, groups of 4 bytes (8 samples) per channel alternate.
  const uint8_t* p = block + header;
  for (int g = 0; g * 8 < samples - 1; ++g) {
    for (int c = 0; c < channels; ++c) {
      const uint8_t* q = p + size_t(g * channels + c) * 4;
      for (int k = 0; k < 8; ++k) {
        int s = 1 + g * 8 + k;
        if (s >= samples) break;
        int n = (k & 1) ? (q[k / 2] >> 4) : (q[k / 2] & 0x0F);
        int step = kImaSteps[index[c]];
        int diff = step >> 3;
        if (n & 4) diff += step;
        if (n & 2) diff += step >> 1;
        if (n & 1) diff += step >> 2;
        pred[c] = Clamp16((n & 8) ? pred[c] - diff : pred[c] + diff);
        index[c] = std::clamp(index[c] + kImaIndex[n], 0, 88);
        dst[size_t(s) * channels + c] = int16_t(pred[c]);
      }
    }
  }
  return true;
}

bool TAdpcmConverter::Open(const TMediaInfo& info) {
  const TWaveFormatEx& f = info.format;
  samplesPerBlock_ = AdpcmSamplesPerBlock(f, info.extension);
  if (samplesPerBlock_ <= 0 || f.samplesPerSec == 0) return false;
  numCoefs_ = 7;
  std::memcpy(coefs_, kMsDefaultCoefs, sizeof kMsDefaultCoefs);
  if (!IsIma(f) && f.cbSize >= 4) {
    // The file's own coefficient table (as many as the stored extension holds).
    int n = info.extension[2] | info.extension[3] << 8;
    if (n >= 1) {
      numCoefs_ = std::min(n, 7);
      for (int i = 0; i < numCoefs_; ++i) {
        coefs_[i][0] = S16(info.extension + 4 + 4 * i);
        coefs_[i][1] = S16(info.extension + 6 + 4 * i);
      }
    }
  }
  info_ = info;
  chunkSize_ = std::max<size_t>(2048, f.blockAlign);
  chunkSize_ -= chunkSize_ % f.blockAlign;
  input_ = TLocalBuffer(chunkSize_);
  input_.format = f;
  decoded_ = PcmFormat(f.samplesPerSec, f.channels);
  pcm_.format = decoded_;
  dataEnd_ = int64_t(info.dataOffset) + info.dataSize;
  SetOutputFormat(decoded_);
  Seek(0);
  return true;
}

void TAdpcmConverter::Seek(double ms) {
  if (ms < 0) ms = 0;
  const TWaveFormatEx& f = info_.format;
  int64_t frame = int64_t(std::floor(ms / 1000.0 * f.samplesPerSec));
  int64_t blockIndex = frame / samplesPerBlock_;
  int64_t byte = std::min<int64_t>(blockIndex * f.blockAlign, info_.dataSize);
  if (stream_) stream_->Seek(int64_t(info_.dataOffset) + byte, TSeekOrigin::Begin);
  ResetBuffers();
  pcm_.Clear();
  // Decoding starts at the block; the frames before ms are dropped.
  discard_ = size_t(frame - blockIndex * samplesPerBlock_) * decoded_.blockAlign;
  position_ = ms;
}

bool TAdpcmConverter::Convert(TLocalBuffer& input) {
  const TWaveFormatEx& f = info_.format;
  size_t whole = input.Size() / f.blockAlign;
  pcm16_.clear();
  for (size_t b = 0; b < whole; ++b) {
    const uint8_t* block = input.Data() + b * f.blockAlign;
    if (IsIma(f))
      DecodeImaAdpcmBlock(block, f.blockAlign, f.channels, samplesPerBlock_, pcm16_);
    else
      DecodeMsAdpcmBlock(block, f.blockAlign, f.channels, samplesPerBlock_, coefs_, numCoefs_,
                         pcm16_);
  }
  size_t used = whole * f.blockAlign;
  // A short last block at the end of the data still holds samples.
  size_t rest = input.Size() - used;
  if (rest > 0 && stream_ && stream_->Position() >= dataEnd_) {
    int n = SamplesInBytes(f, rest);
    if (n > 0) {
      const uint8_t* block = input.Data() + used;
      if (IsIma(f))
        DecodeImaAdpcmBlock(block, rest, f.channels, n, pcm16_);
      else
        DecodeMsAdpcmBlock(block, rest, f.channels, n, coefs_, numCoefs_, pcm16_);
    }
    used += rest;
  }
  input.Consume(used);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pcm16_.data());
  size_t size = pcm16_.size() * 2;
  size_t skip = std::min(discard_, size);
  discard_ -= skip;
  pcm_.AppendBytes(bytes + skip, size - skip);
  DeliverPcm(pcm_);
  return true;
}

}  // namespace lum
