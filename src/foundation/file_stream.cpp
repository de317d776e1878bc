#include "foundation/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/errors.h"

namespace lum {

namespace {

int OpenFd(const std::string& path, TFileStream::TMode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case TFileStream::TMode::OpenRead:
      flags |= O_RDONLY;
      break;
    case TFileStream::TMode::OpenReadWrite:
      flags |= O_RDWR;
      break;
    case TFileStream::TMode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  int fd;
  do fd = ::open(path.c_str(), flags, 0644);
  while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      errno = EISDIR;
      return -1;
    }
  }
  return fd;
}

}  // namespace

TFileStream::TFileStream(int fd, std::string path)
    : fd_(fd), path_(std::move(path)), buf_(new char[kBufferSize]) {}

TFileStream::TFileStream(const std::string& path, TMode mode)
    : path_(path), buf_(new char[kBufferSize]) {
  fd_ = OpenFd(path, mode);
  if (fd_ < 0) {
    throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  }
}

std::unique_ptr<TFileStream> TFileStream::TryOpenRead(const std::string& path) {
  int fd = OpenFd(path, TMode::OpenRead);
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
  // Written aside and renamed over the file: a failed write never leaves a
  // cut file where a whole one stood.
  const std::string part = path + ".part" + std::to_string(getpid());
  try {
    TFileStream f(part, TFileStream::TMode::Create);
    f.WriteBuffer(bytes.data(), bytes.size());
    f.Flush();
  } catch (...) {
    unlink(part.c_str());
    throw;
  }
  if (rename(part.c_str(), path.c_str()) != 0) {
    const int e = errno;
    unlink(part.c_str());
    throw EFOpenError("Cannot create file \"" + path + "\". " + std::strerror(e));
  }
}

std::string ReadFileBytes(const std::string& path, int64_t limit) {
  TFileStream f(path, TFileStream::TMode::OpenRead);
  return ReadRest(f, limit, "File \"" + path + "\" is too large");
}

}  // namespace lum
