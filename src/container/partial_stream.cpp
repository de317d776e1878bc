#include "container/partial_stream.h"

#include <algorithm>

#include "container/load_yield.h"
#include "foundation/errors.h"

namespace lum {

namespace {
bool NoHook() {
  return true;
}
}  // namespace

TPartialStream::TPartialStream(TStream& source, int64_t offset, int64_t length) : source_(&source) {
  Init(offset, length);
}

TPartialStream::TPartialStream(std::unique_ptr<TStream> source, int64_t offset, int64_t length)
    : owned_(std::move(source)), source_(owned_.get()) {
  Init(offset, length);
}

void TPartialStream::Init(int64_t offset, int64_t length) {
  if (offset < 0 || length < 0) throw EStreamError("Incorrect Position");
  int64_t size = source_->Size();
  if (size < 0 || offset > size || length > size - offset) {
    throw EStreamError("Insufficient Source Size");
  }
  offset_ = offset;
  length_ = length;
  hook_ = NoHook;
  source_->Seek(offset_, TSeekOrigin::Begin);
  pos_ = 0;
}

void TPartialStream::SetHook(TPieceHook hook, size_t requestedPieceSize) {
  if (hook) {
    hook_ = hook;
    pieceSize_ = std::clamp<size_t>(requestedPieceSize, 1, 256);
  } else {
    hook_ = NoHook;
    pieceSize_ = 32768;
  }
}

size_t TPartialStream::Read(void* buffer, size_t count) {
  int64_t pos = Position();
  if (pos < 0 || pos >= length_) return 0;
  size_t want = size_t(std::min<int64_t>(int64_t(count), length_ - pos));
  // Locals, so the loop does not reload members after every virtual call.
  auto* out = static_cast<char*>(buffer);
  TStream* source = source_;
  const TPieceHook hook = hook_;
  const bool yieldHook = hook == LoadYieldHook;
  const size_t piece = pieceSize_;
  size_t done = 0;
  while (done < want) {
    size_t n = source->Read(out + done, std::min(piece, want - done));
    // The load-yield hook, the usual one, runs inline.
    if (yieldHook) {
      LoadYieldInline();
    } else {
      hook();
    }
    if (n == 0) break;
    done += n;
  }
  pos_ = pos + int64_t(done);
  return done;
}

size_t TPartialStream::Write(const void* buffer, size_t count) {
  int64_t pos = Position();
  if (pos < 0 || pos >= length_) return 0;
  size_t want = size_t(std::min<int64_t>(int64_t(count), length_ - pos));
  auto* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < want) {
    size_t n = source_->Write(in + done, std::min(pieceSize_, want - done));
    hook_();
    if (n == 0) break;
    done += n;
  }
  pos_ = pos + int64_t(done);
  return done;
}

int64_t TPartialStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::Begin     ? 0
                 : origin == TSeekOrigin::Current ? Position()
                                                  : length_;
  int64_t p = base + offset;
  if (p < 0 || p > length_) throw EStreamError("Incorrect Position");
  source_->Seek(p + offset_, TSeekOrigin::Begin);
  pos_ = p;
  return p;
}

void TPartialStream::SetSize(int64_t) {
  throw EStreamError("Stream Cannot be resized");
}

int64_t TPartialStream::CopyFrom(TStream& source, int64_t count) {
  if (!pieceBuffer_) pieceBuffer_.reset(new char[32768]);
  int64_t pos = Position();
  int64_t done = 0;
  while (count < 0 || done < count) {
    size_t want =
        count < 0 ? pieceSize_ : size_t(std::min<int64_t>(int64_t(pieceSize_), count - done));
    size_t n = source.Read(pieceBuffer_.get(), want);
    if (n == 0) {
      if (count >= 0) throw EStreamError(kStreamReadError);
      break;
    }
    // The window's end makes a short write.
    size_t fits = size_t(std::clamp<int64_t>(length_ - pos, 0, int64_t(n)));
    hook_();
    size_t written = fits ? source_->Write(pieceBuffer_.get(), fits) : 0;
    hook_();
    pos += int64_t(written);
    pos_ = pos;
    if (written != n) throw EStreamError(kStreamWriteError);
    done += int64_t(n);
  }
  return done;
}

}  // namespace lum
