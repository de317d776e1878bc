#pragma once
// Buffered stream over a file descriptor. Small reads (the 256-byte pieces of
// hooked partial streams) are served from a 64 KB buffer, never one system
// call each; large reads bypass the buffer.
#include <memory>
#include <string>

#include "foundation/stream.h"

namespace lum {

class TFileStream : public TStream {
 public:
  // OpenRead/OpenReadWrite open regular files only and never block (a FIFO or
  // device is refused). CreateNew makes a new file and fails when anything,
  // a link included, already exists at the path.
  enum class TMode { OpenRead, OpenReadWrite, Create, CreateNew };

  // Opens or creates the file (new files get permissions less the umask);
  // throws EFOpenError with the reason on failure.
  TFileStream(const std::string& path, TMode mode, int permissions = 0644);
  ~TFileStream() override;

  // Opens an existing regular file for reading, or nothing when it cannot be
  // opened (SpecialFileExists tells a FIFO or device from a missing file).
  static std::unique_ptr<TFileStream> TryOpenRead(const std::string& path);

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Position() override { return pos_; }
  int64_t Size() override;
  void SetSize(int64_t size) override;

  // Writes pending bytes; throws "Stream write error" with the reason on failure.
  void Flush();
  const std::string& Path() const { return path_; }
  int Handle() const { return fd_; }

 private:
  TFileStream(int fd, std::string path);
  void FillReadBuffer();

  static constexpr size_t kBufferSize = 64 * 1024;
  int fd_ = -1;
  std::string path_;
  int64_t pos_ = 0;
  std::unique_ptr<char[]> buf_;
  int64_t bufStart_ = 0;  // file offset of buf_[0]
  size_t readLen_ = 0;    // valid bytes for reading
  size_t writeLen_ = 0;   // pending bytes to write at bufStart_
};

// Writes the whole string to the file, replacing it only once all of it is
// written (through a TSideFile: a link at path is replaced, not followed);
// throws on failure.
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Reads a whole file, refusing files larger than limit; throws on failure.
std::string ReadFileBytes(const std::string& path, int64_t limit = int64_t(1) << 30);

}  // namespace lum
