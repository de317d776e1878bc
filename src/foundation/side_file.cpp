#include "foundation/side_file.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/paths.h"

namespace lum {

namespace {

std::string RandomSuffix() {
  static constexpr char kDigits[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char raw[8];
  if (getrandom(raw, sizeof raw, 0) != ssize_t(sizeof raw)) {
    // Exclusive creation keeps this safe; randomness only avoids collisions.
    static unsigned counter = 0;
    const auto mix = uint64_t(getpid()) * 0x9E3779B97F4A7C15ull ^ ++counter;
    std::memcpy(raw, &mix, sizeof raw);
  }
  std::string out;
  for (unsigned char c : raw) out += kDigits[c % (sizeof kDigits - 1)];
  return out;
}

}  // namespace

TSideFile::TSideFile(const std::string& target, mode_t mode) : target_(target) {
  const std::string folder(ExtractFilePath(target));
  const std::string name(ExtractFileName(target));
  // A taken name is skipped; should one appear between the check and the
  // exclusive create, the create fails rather than touch it.
  struct stat st;
  do path_ = folder + "." + name + ".part-" + RandomSuffix();
  while (lstat(path_.c_str(), &st) == 0);
  try {
    stream_ = std::make_unique<TFileStream>(path_, TFileStream::TMode::CreateNew, int(mode));
  } catch (const EFOpenError& e) {
    // The user named the target; the side file's name means nothing to them.
    std::string message = e.what();
    if (size_t at = message.find(path_); at != std::string::npos) message.replace(at, path_.size(), target_);
    throw EFOpenError(message);
  }
}

TSideFile::~TSideFile() {
  stream_.reset();
  if (!committed_) unlink(path_.c_str());
}

void TSideFile::Commit() {
  stream_->Flush();
  if (fsync(stream_->Handle()) != 0) {
    throw EStreamError(std::string(kStreamWriteError) + ": " + std::strerror(errno));
  }
  if (rename(path_.c_str(), target_.c_str()) != 0) {
    throw EFOpenError("Cannot create file \"" + target_ + "\". " + std::strerror(errno));
  }
  committed_ = true;
}

}  // namespace lum
