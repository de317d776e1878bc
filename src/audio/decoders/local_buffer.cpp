#include "audio/decoders/local_buffer.h"

#include <cstring>

#include "foundation/errors.h"

namespace lum {

void TLocalBuffer::Reserve(size_t n) {
  if (Free() < n) data_.resize(size_ + n);
}

void TLocalBuffer::Commit(size_t n) {
  if (n > Free()) AssertFailed("LocalBuffer", "Buffer overrun");
  size_ += n;
}

size_t TLocalBuffer::AppendFromStream(TStream& stream, size_t maxBytes) {
  size_t want = std::min(maxBytes, Free());
  size_t got = 0;
  while (got < want) {
    size_t n = stream.Read(FreeSpace() + got, want - got);
    if (n == 0) break;
    got += n;
  }
  size_ += got;
  return got;
}

void TLocalBuffer::Append(const TLocalBuffer& other) {
  if (other.size_ > Free()) AssertFailed("LocalBuffer", "Buffer overrun");
  if (other.size_) std::memcpy(FreeSpace(), other.Data(), other.size_);
  size_ += other.size_;
}

void TLocalBuffer::AppendBytes(const void* bytes, size_t n) {
  Reserve(n);
  if (n) std::memcpy(FreeSpace(), bytes, n);
  size_ += n;
}

void TLocalBuffer::Consume(size_t n) {
  if (n >= size_) {
    size_ = 0;
    return;
  }
  std::memmove(data_.data(), data_.data() + n, size_ - n);
  size_ -= n;
}

}  // namespace lum
