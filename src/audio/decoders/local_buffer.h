#pragma once
// Growable byte block with a fill count, carrying the wave format of its
// content. Decoders fill it; channels and the mixer read its first bytes and
// consume them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/decoders/media_info.h"
#include "foundation/stream.h"

namespace lum {

class TLocalBuffer {
 public:
  TLocalBuffer() = default;
  explicit TLocalBuffer(size_t capacity) { data_.resize(capacity); }

  uint8_t* Data() { return data_.data(); }
  const uint8_t* Data() const { return data_.data(); }
  uint8_t* FreeSpace() { return data_.data() + size_; }
  size_t Size() const { return size_; }
  size_t Capacity() const { return data_.size(); }
  size_t Free() const { return data_.size() - size_; }

  // Makes room for n more bytes (grows by the shortfall).
  void Reserve(size_t n);
  // Marks n bytes written at FreeSpace() as content.
  void Commit(size_t n);
  // Appends up to maxBytes (at most the free space) from the stream's
  // position, never past its end; returns the bytes appended.
  size_t AppendFromStream(TStream& stream, size_t maxBytes);
  // Appends another buffer's content; more than the free space is the
  // assertion "Buffer overrun".
  void Append(const TLocalBuffer& other);
  // Appends bytes, growing as needed.
  void AppendBytes(const void* bytes, size_t n);
  // Drops n bytes from the front, moving the rest down.
  void Consume(size_t n);
  void Clear() { size_ = 0; }

  TWaveFormatEx format;

 private:
  std::vector<uint8_t> data_;
  size_t size_ = 0;
};

}  // namespace lum
