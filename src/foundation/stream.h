#pragma once
// The stream interface every file of a show is read through: 64-bit position
// and size, read, write and copy.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lum {

enum class TSeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes at the position; returns how many were read (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes up to count bytes at the position; returns how many were written.
  virtual size_t Write(const void* buffer, size_t count) = 0;
  // Moves the position; returns the new position. Streams that cannot seek there throw.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // Current position; the default asks Seek.
  virtual int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Begin); }
  // Size in bytes, or -1 when the stream cannot know it (an inflater of unknown size).
  virtual int64_t Size();
  // Truncates or extends; streams that cannot be resized throw.
  virtual void SetSize(int64_t size);

  // Reads exactly count bytes or throws "Stream read error".
  void ReadBuffer(void* buffer, size_t count);
  // Writes exactly count bytes or throws "Stream write error".
  void WriteBuffer(const void* buffer, size_t count);
  // Copies count bytes from the source's position (count < 0: up to its end).
  // Returns the bytes copied; a short source with count >= 0 throws "Stream read error".
  virtual int64_t CopyFrom(TStream& source, int64_t count);
};

// Bytes read whole into memory (not zero-filled first).
struct TByteBuffer {
  std::unique_ptr<char[]> data;
  size_t size = 0;
  std::string_view View() const { return {data.get(), size}; }
};

// Reads the rest of a stream. More than limit bytes throws EStreamError with
// tooLargeMessage; memory stays bounded by the limit.
TByteBuffer ReadRestBuffer(TStream& stream, int64_t limit, const std::string& tooLargeMessage);
std::string ReadRest(TStream& stream, int64_t limit, const std::string& tooLargeMessage);

}  // namespace lum
