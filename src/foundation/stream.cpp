#include "foundation/stream.h"

#include <algorithm>
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

std::string ReadRest(TStream& stream, int64_t limit, const std::string& tooLargeMessage) {
  std::string out;
  int64_t size = stream.Size();
  if (size >= 0) {
    // Known size: reserved in one piece so a large text is never copied while
    // growing, filled piecewise so a stream that claims more than it holds
    // costs only what it delivers.
    int64_t rest = size - stream.Position();
    if (rest > limit) throw EStreamError(tooLargeMessage);
    size_t want = size_t(std::max<int64_t>(rest, 0));
    out.reserve(want);
    constexpr size_t kPiece = 4 << 20;
    size_t got = 0;
    while (got < want) {
      out.resize(std::min(want, got + kPiece));
      size_t n = stream.Read(out.data() + got, out.size() - got);
      if (n == 0) break;
      got += n;
    }
    out.resize(got);
    char probe;
    if (got < size_t(rest) || stream.Read(&probe, 1) == 0) return out;
    out.push_back(probe);
  }
  constexpr size_t kChunk = 64 * 1024;
  for (;;) {
    size_t old = out.size();
    size_t want = size_t(std::min<int64_t>(kChunk, limit + 1 - int64_t(old)));
    if (want == 0) throw EStreamError(tooLargeMessage);
    out.resize(old + want);
    size_t n = stream.Read(out.data() + old, want);
    out.resize(old + n);
    if (n == 0) break;
  }
  return out;
}

}  // namespace lum
