#include "foundation/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/side_file.h"

namespace lum {

namespace {

constexpr int kNotRegular = -2;  // OpenFd's answer for a FIFO, device, socket or folder

// Never blocks: a FIFO without writer or a device would otherwise hold open()
// forever; what a read mode finds must be a regular file.
int OpenFd(const std::string& path, TFileStream::TMode mode, int permissions) {
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  bool readMode = false;
  switch (mode) {
    case TFileStream::TMode::OpenRead:
      flags |= O_RDONLY;
      readMode = true;
      break;
    case TFileStream::TMode::OpenReadWrite:
      flags |= O_RDWR;
      readMode = true;
      break;
    case TFileStream::TMode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case TFileStream::TMode::CreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
  }
  int fd;
  do fd = ::open(path.c_str(), flags, mode_t(permissions));
  while (fd < 0 && errno == EINTR);
  // ENXIO: a socket, a FIFO without reader or a device without its hardware.
  if (fd < 0) return errno == ENXIO ? kNotRegular : -1;
  struct stat st;
  const bool statOk = fstat(fd, &st) == 0;
  if (!statOk || S_ISDIR(st.st_mode)) {
    const int e = statOk ? EISDIR : errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  // Writing to a character device (/dev/null as log) stays possible; reading
  // a show from one is refused.
  if (!S_ISREG(st.st_mode) && (readMode || !S_ISCHR(st.st_mode))) {
    ::close(fd);
    return kNotRegular;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::string OpenFailure(const std::string& path, int fd) {
  const char* why = fd == kNotRegular ? "Not a regular file" : std::strerror(errno);
  return "Cannot open file \"" + path + "\". " + why;
}

}  // namespace

TFileStream::TFileStream(int fd, std::string path)
    : fd_(fd), path_(std::move(path)), buf_(new char[kBufferSize]) {}

TFileStream::TFileStream(const std::string& path, TMode mode, int permissions)
    : path_(path), buf_(new char[kBufferSize]) {
  const int fd = OpenFd(path, mode, permissions);
  if (fd < 0) throw EFOpenError(OpenFailure(path, fd));
  fd_ = fd;
}

std::unique_ptr<TFileStream> TFileStream::TryOpenRead(const std::string& path) {
  const int fd = OpenFd(path, TMode::OpenRead, 0);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TFileStream>(new TFileStream(fd, path));
}

TFileStream::~TFileStream() {
  try {
    Flush();
  } catch (...) {
    // A destructor cannot report; callers that care call Flush first.
  }
  if (fd_ >= 0) ::close(fd_);
}

void TFileStream::Flush() {
  size_t done = 0;
  while (done < writeLen_) {
    ssize_t n = ::pwrite(fd_, buf_.get() + done, writeLen_ - done, bufStart_ + int64_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      writeLen_ = 0;
      throw EStreamError(std::string(kStreamWriteError) + ": " + std::strerror(errno));
    }
    done += size_t(n);
  }
  writeLen_ = 0;
}

void TFileStream::FillReadBuffer() {
  bufStart_ = pos_;
  readLen_ = 0;
  for (;;) {
    ssize_t n = ::pread(fd_, buf_.get(), kBufferSize, pos_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EStreamError(std::string(kStreamReadError) + ": " + std::strerror(errno));
    readLen_ = size_t(n);
    return;
  }
}

size_t TFileStream::Read(void* buffer, size_t count) {
  // Fast path: the piece lies inside the read buffer (writes empty it).
  if (pos_ >= bufStart_ && pos_ + int64_t(count) <= bufStart_ + int64_t(readLen_)) {
    std::memcpy(buffer, buf_.get() + (pos_ - bufStart_), count);
    pos_ += int64_t(count);
    return count;
  }
  if (writeLen_) Flush();
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (pos_ >= bufStart_ && pos_ < bufStart_ + int64_t(readLen_)) {
      size_t at = size_t(pos_ - bufStart_);
      size_t n = std::min(count - done, readLen_ - at);
      std::memcpy(out + done, buf_.get() + at, n);
      done += n;
      pos_ += int64_t(n);
      continue;
    }
    if (count - done >= kBufferSize) {
      ssize_t n = ::pread(fd_, out + done, count - done, pos_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EStreamError(std::string(kStreamReadError) + ": " + std::strerror(errno));
      if (n == 0) break;
      done += size_t(n);
      pos_ += n;
      continue;
    }
    FillReadBuffer();
    if (readLen_ == 0) break;
  }
  return done;
}

size_t TFileStream::Write(const void* buffer, size_t count) {
  readLen_ = 0;
  if (writeLen_ && pos_ != bufStart_ + int64_t(writeLen_)) Flush();
  if (writeLen_ == 0) bufStart_ = pos_;
  if (writeLen_ + count > kBufferSize) {
    Flush();
    if (count >= kBufferSize) {
      const char* p = static_cast<const char*>(buffer);
      size_t done = 0;
      while (done < count) {
        ssize_t n = ::pwrite(fd_, p + done, count - done, pos_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
          throw EStreamError(std::string(kStreamWriteError) + ": " + std::strerror(errno));
        done += size_t(n);
        pos_ += n;
      }
      return count;
    }
    bufStart_ = pos_;
  }
  std::memcpy(buf_.get() + writeLen_, buffer, count);
  writeLen_ += count;
  pos_ += int64_t(count);
  return count;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == TSeekOrigin::Current) base = pos_;
  if (origin == TSeekOrigin::End) base = Size();
  int64_t p = base + offset;
  if (p < 0) throw EStreamError("Incorrect Position");
  pos_ = p;
  return pos_;
}

int64_t TFileStream::Size() {
  if (writeLen_) Flush();
  struct stat st;
  if (fstat(fd_, &st) != 0) return -1;
  return int64_t(st.st_size);
}

void TFileStream::SetSize(int64_t size) {
  Flush();
  readLen_ = 0;
  if (size < 0) throw EStreamError("Stream Cannot be resized");
  if (ftruncate(fd_, size) != 0) {
    throw EStreamError(std::string("Stream Cannot be resized: ") + std::strerror(errno));
  }
  if (pos_ > size) pos_ = size;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  TSideFile side(path);
  side.Stream().WriteBuffer(bytes.data(), bytes.size());
  side.Commit();
}

std::string ReadFileBytes(const std::string& path, int64_t limit) {
  TFileStream f(path, TFileStream::TMode::OpenRead);
  return ReadRest(f, limit, "File \"" + path + "\" is too large");
}

}  // namespace lum
