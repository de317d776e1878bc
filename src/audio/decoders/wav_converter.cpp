#include "audio/decoders/wav_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/decoders/pcm_resampler.h"

namespace lum {

TWavConverter::TWavConverter(TStream* stream) : stream_(stream) {}

TWavConverter::~TWavConverter() = default;

bool TWavConverter::Open(const TMediaInfo& info) {
  info_ = info;
  const TWaveFormatEx& f = info.format;
  if (f.blockAlign == 0 || f.avgBytesPerSec == 0) return false;
  chunkSize_ = f.bitsPerSample == 24 ? 12288 : 4096;
  // Whole blocks per chunk, so a chunk never splits a frame for long.
  if (chunkSize_ % f.blockAlign)
    chunkSize_ = std::max<size_t>(1, chunkSize_ / f.blockAlign) * f.blockAlign;
  input_ = TLocalBuffer(chunkSize_);
  input_.format = f;
  decoded_ = f;
  dataEnd_ = int64_t(info.dataOffset) + info.dataSize;
  bool needsMix =
      info.type == kMediaFloat || f.bitsPerSample == 24 || f.bitsPerSample == 32 || f.channels > 2;
  TWaveFormatEx out = needsMix ? MixFormat() : f;
  if (!(out == f) && !TPcmResampler::CanConvert(f, out)) return false;
  SetOutputFormat(out);
  Seek(0);
  return true;
}

void TWavConverter::SetOutputFormat(const TWaveFormatEx& format) {
  resampler_.reset();
  output_.format = format;
  if (!(format == decoded_)) resampler_ = std::make_unique<TPcmResampler>(decoded_, format);
}

void TWavConverter::ResetBuffers() {
  input_.Clear();
  output_.Clear();
  if (resampler_) resampler_->Reset();
}

void TWavConverter::Seek(double ms) {
  if (ms < 0) ms = 0;
  const TWaveFormatEx& f = info_.format;
  int64_t byte = std::llround(ms / 1000.0 * f.avgBytesPerSec);
  byte -= byte % f.blockAlign;
  byte = std::min<int64_t>(byte, info_.dataSize);
  if (stream_) stream_->Seek(int64_t(info_.dataOffset) + byte, TSeekOrigin::Begin);
  ResetBuffers();
  position_ = ms;
}

bool TWavConverter::ReadRaw() {
  if (!stream_) return false;
  int64_t pos = stream_->Position();
  int64_t left = dataEnd_ - pos;
  if (left <= 0 || input_.Free() == 0) return left > 0;
  size_t want = size_t(std::min<int64_t>(left, input_.Free()));
  size_t got = input_.AppendFromStream(*stream_, want);
  return got == want && got < size_t(left);
}

void TWavConverter::DeliverPcm(TLocalBuffer& pcm) {
  size_t before = output_.Size();
  if (resampler_) {
    resampler_->Convert(pcm, output_);
  } else {
    size_t whole = pcm.Size() - pcm.Size() % std::max<uint16_t>(1, decoded_.blockAlign);
    output_.AppendBytes(pcm.Data(), whole);
    pcm.Consume(whole);
  }
  size_t delivered = output_.Size() - before;
  if (output_.format.avgBytesPerSec)
    position_ += double(delivered) * 1000.0 / output_.format.avgBytesPerSec;
}

bool TWavConverter::Convert(TLocalBuffer& input) {
  DeliverPcm(input);
  return true;
}

bool TWavConverter::Fill(size_t n) {
  bool more = true;
  padded_ = 0;
  while (output_.Size() < n) {
    size_t before = output_.Size();
    size_t inBefore = input_.Size();
    more = ReadRaw();
    Convert(input_);
    if (!more && output_.Size() == before && input_.Size() >= inBefore) {
      size_t pad = n - output_.Size();
      output_.Reserve(pad);
      std::memset(output_.FreeSpace(), output_.format.bitsPerSample == 8 ? 128 : 0, pad);
      output_.Commit(pad);
      padded_ = pad;
      return false;
    }
  }
  return true;
}

}  // namespace lum
