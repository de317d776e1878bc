#include "container/z_stream.h"

#include <algorithm>
#include <cstring>

#include "foundation/errors.h"

namespace lum {

namespace {

constexpr size_t kInputSize = 65536;
constexpr const char* kInvalidOperation = "Invalid ZStream operation!";

[[noreturn]] void ZFail(int code) {
  throw EZDecompressionError(zError(code));
}

}  // namespace

TCustomZStream::TCustomZStream(TStream& source, int windowBits)
    : source_(source), in_(new unsigned char[kInputSize]) {
  start_ = sourcePos_ = source_.Position();
  int r = inflateInit2(&z_, windowBits);
  if (r != Z_OK) ZFail(r);
}

TCustomZStream::~TCustomZStream() {
  inflateEnd(&z_);
}

void TCustomZStream::Reset() {
  inflateReset(&z_);
  z_.avail_in = 0;
  ended_ = false;
  sourcePos_ = start_;
  source_.Seek(start_, TSeekOrigin::Begin);
}

size_t TCustomZStream::Read(void* buffer, size_t count) {
  z_.next_out = static_cast<Bytef*>(buffer);
  size_t remaining = count;
  if (source_.Position() != sourcePos_) source_.Seek(sourcePos_, TSeekOrigin::Begin);
  while (remaining > 0 && !ended_) {
    if (z_.avail_in == 0) {
      size_t n = source_.Read(in_.get(), kInputSize);
      if (n == 0) break;
      z_.next_in = in_.get();
      z_.avail_in = uInt(n);
      sourcePos_ = source_.Position();
      if (progress_) progress_();
    }
    // zlib counts in 32-bit pieces; feed it at most 1 GiB of output at a time.
    uInt chunk = uInt(std::min<size_t>(remaining, size_t(1) << 30));
    z_.avail_out = chunk;
    int r = inflate(&z_, Z_NO_FLUSH);
    remaining -= chunk - z_.avail_out;
    if (r == Z_STREAM_END) {
      // Give unread input back to the source, so whatever follows the data can be read.
      sourcePos_ -= int64_t(z_.avail_in);
      z_.avail_in = 0;
      source_.Seek(sourcePos_, TSeekOrigin::Begin);
      ended_ = true;
    } else if (r < 0) {
      ZFail(r);
    } else if (r == Z_NEED_DICT) {
      ZFail(Z_DATA_ERROR);  // no preset dictionaries in show data; retrying would spin
    }
  }
  return count - remaining;
}

size_t TCustomZStream::Write(const void*, size_t) {
  throw EZDecompressionError(kInvalidOperation);
}

void TCustomZStream::Skip(int64_t count, bool exact) {
  char buf[8192];
  while (count > 0) {
    size_t want = size_t(std::min<int64_t>(count, sizeof buf));
    size_t n = Read(buf, want);
    if (n == 0) {
      if (exact) throw EStreamError(kStreamReadError);
      return;
    }
    count -= int64_t(n);
  }
}

int64_t TCustomZStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t pos = Position();
  if (origin == TSeekOrigin::Begin && offset == 0) {
    Reset();
  } else if (origin == TSeekOrigin::Begin && offset > pos) {
    Skip(offset - pos, true);
  } else if (origin == TSeekOrigin::Current && offset >= 0) {
    Skip(offset, true);
  } else if (origin == TSeekOrigin::End && offset == 0) {
    Skip(INT64_MAX, false);
  } else {
    throw EZDecompressionError(kInvalidOperation);
  }
  return Position();
}

void TInflateStream::SetSize(int64_t) {
  throw EZDecompressionError(kInvalidOperation);
}

int64_t TInflateStream::Seek(int64_t offset, TSeekOrigin origin) {
  if ((origin == TSeekOrigin::Begin && offset == Position()) ||
      (origin == TSeekOrigin::Current && offset == 0)) {
    return Position();
  }
  return TCustomZStream::Seek(offset, origin);
}

std::unique_ptr<TMemoryStream> InflateToMemory(TStream& source, int64_t limit,
                                               const std::string& limitMessage) {
  TInflateStream inflater(source);
  auto out = std::make_unique<TMemoryStream>();
  size_t chunk = 1 << 20;
  for (;;) {
    int64_t room = limit + 1 - int64_t(out->Size());
    if (room <= 0) throw EZDecompressionError(limitMessage);
    size_t want = size_t(
        std::min<int64_t>(room, int64_t(std::max(chunk, out->Capacity() - size_t(out->Size())))));
    size_t n = inflater.Read(out->ReserveTail(want), want);
    out->Append(n);
    if (n < want) break;
    chunk = std::min<size_t>(chunk * 2, 16 << 20);
  }
  if (out->Size() > limit) throw EZDecompressionError(limitMessage);
  if (!inflater.Ended()) throw EZDecompressionError("Unexpected end of compressed data");
  return out;
}

namespace {

struct TCallbackState {
  TStream& source;
  TMemoryStream& dest;
  const TProgressNotifier& progress;
  int64_t limit;
  unsigned char in[32768];
  bool tooLarge = false;
};

unsigned InputCallback(void* ctx, z_const unsigned char** buf) {
  auto* s = static_cast<TCallbackState*>(ctx);
  *buf = s->in;
  size_t n = s->source.Read(s->in, sizeof s->in);
  if (s->progress) s->progress();
  return unsigned(n);
}

int OutputCallback(void* ctx, unsigned char* buf, unsigned len) {
  auto* s = static_cast<TCallbackState*>(ctx);
  if (s->dest.Size() + int64_t(len) > s->limit) {
    s->tooLarge = true;
    return 1;  // stops inflateBack
  }
  s->dest.WriteBuffer(buf, len);
  if (s->progress) s->progress();
  return 0;
}

}  // namespace

void InflateWithCallbacks(TStream& source, TMemoryStream& dest, const TProgressNotifier& progress,
                          int64_t limit) {
  z_stream z{};
  auto window = std::make_unique<unsigned char[]>(32768);
  int r = inflateBackInit(&z, 15, window.get());
  if (r != Z_OK) ZFail(r);
  auto state = std::make_unique<TCallbackState>(TCallbackState{source, dest, progress, limit, {}});
  z.next_in = Z_NULL;
  z.avail_in = 0;
  r = inflateBack(&z, InputCallback, state.get(), OutputCallback, state.get());
  inflateBackEnd(&z);
  if (state->tooLarge) throw EZDecompressionError("Unpacked data exceeds the size limit");
  if (r == Z_BUF_ERROR) throw EZDecompressionError("Unexpected end of compressed data");
  if (r != Z_STREAM_END) ZFail(r);
}

int64_t DeflateRaw(TStream& source, TStream& dest, int level) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw EStreamError("deflate initialisation failed");
  }
  struct TEnd {
    z_stream* z;
    ~TEnd() { deflateEnd(z); }
  } end{&z};
  constexpr size_t kChunk = 256 * 1024;
  auto in = std::make_unique<unsigned char[]>(kChunk);
  auto out = std::make_unique<unsigned char[]>(kChunk);
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    size_t n = source.Read(in.get(), kChunk);
    flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = in.get();
    z.avail_in = uInt(n);
    do {
      z.next_out = out.get();
      z.avail_out = uInt(kChunk);
      deflate(&z, flush);
      dest.WriteBuffer(out.get(), kChunk - z.avail_out);
    } while (z.avail_out == 0);
  }
  return int64_t(z.total_out);
}

std::string DeflateRaw(std::string_view data, int level) {
  TMemoryStream in(data), out;
  DeflateRaw(in, out, level);
  return std::string(out.View());
}

}  // namespace lum
