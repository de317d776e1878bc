#include "foundation/stream.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "foundation/errors.h"

namespace lum {

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::Current);
  int64_t end = Seek(0, TSeekOrigin::End);
  Seek(pos, TSeekOrigin::Begin);
  return end;
}

void TStream::SetSize(int64_t) {
  throw EStreamError("Stream Cannot be resized");
}

void TStream::ReadBuffer(void* buffer, size_t count) {
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    size_t n = Read(p, count);
    if (n == 0) throw EStreamError(kStreamReadError);
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
  auto* p = static_cast<const char*>(buffer);
  while (count > 0) {
    size_t n = Write(p, count);
    if (n == 0) throw EStreamError(kStreamWriteError);
    p += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  constexpr size_t kChunk = 256 * 1024;
  std::unique_ptr<char[]> buf(new char[kChunk]);
  int64_t done = 0;
  while (count < 0 || done < count) {
    size_t want = count < 0 ? kChunk : size_t(std::min<int64_t>(kChunk, count - done));
    size_t n = source.Read(buf.get(), want);
    if (n == 0) {
      if (count >= 0) throw EStreamError(kStreamReadError);
      break;
    }
    WriteBuffer(buf.get(), n);
    done += int64_t(n);
  }
  return done;
}

TByteBuffer ReadRestBuffer(TStream& stream, int64_t limit, const std::string& tooLargeMessage) {
  TByteBuffer out;
  size_t capacity = 0;
  int64_t size = stream.Size();
  if (size >= 0) {
    int64_t rest = size - stream.Position();
    if (rest > limit) throw EStreamError(tooLargeMessage);
    // One byte more than announced, to notice a stream that holds more. Pages
    // are only touched as they fill, so a false size costs nothing.
    capacity = size_t(std::max<int64_t>(rest, 0)) + 1;
    out.data = std::make_unique_for_overwrite<char[]>(capacity);
  }
  for (;;) {
    if (out.size == capacity) {
      if (int64_t(out.size) > limit) throw EStreamError(tooLargeMessage);
      size_t grown =
          size_t(std::min<int64_t>(int64_t(std::max<size_t>(capacity * 2, 64 * 1024)), limit + 1));
      auto bigger = std::make_unique_for_overwrite<char[]>(grown);
      if (out.size) std::memcpy(bigger.get(), out.data.get(), out.size);
      out.data = std::move(bigger);
      capacity = grown;
    }
    size_t n = stream.Read(out.data.get() + out.size, capacity - out.size);
    if (n == 0) break;
    out.size += n;
  }
  if (int64_t(out.size) > limit) throw EStreamError(tooLargeMessage);
  return out;
}

std::string ReadRest(TStream& stream, int64_t limit, const std::string& tooLargeMessage) {
  TByteBuffer b = ReadRestBuffer(stream, limit, tooLargeMessage);
  return std::string(b.View());
}

}  // namespace lum
