#include "startup/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/utf.h"
#include "startup/user_runtime_folder.h"

namespace lum {

uint32_t InstanceHash(std::string_view utf8) {
  uint32_t h = 0;
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    h = h * 16 + (unit & 0xFF);
    if (h >= 0x10000000) h = (h ^ ((h >> 28) << 4)) & 0x0FFFFFFF;
  }
  return h;
}

std::string InstanceName(std::string_view executablePath) {
  std::string_view folder = ExtractFilePath(executablePath);
  if (!folder.empty()) folder.remove_suffix(1);
  std::string_view file = ExtractFileName(executablePath);
  return "Instance_ID" + std::to_string(InstanceHash(executablePath)) +
         std::to_string(InstanceHash(folder)) + std::to_string(InstanceHash(file)) +
         std::string(file);
}

std::string InstanceLockFolder() {
  return UserRuntimeFolder();
}

TInstanceLock::TInstanceLock(std::string_view name, std::string folder) {
  if (folder.empty()) folder = InstanceLockFolder();
  if (folder.empty()) {
    Log().Line("Instance lock not available: no private runtime folder");
    return;
  }
  // A long file name must still fit a directory entry; the hashes come first.
  std::string file(name.substr(0, 240));
  for (char& c : file) {
    if (c == '/') c = '_';
  }
  path_ = IncludeTrailingSlash(folder) + file + ".lock";
  // Close-on-exec: a program we start must not keep the lock after we end.
  // Only a regular file of ours, never through a link, and never blocking.
  int fd =
      open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())) {
    close(fd);
    fd = -1;
  }
  if (fd < 0) {
    Log().Line("Instance lock not available: " + path_);
    return;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    fd_ = fd;
    return;
  }
  anotherRunning_ = errno == EWOULDBLOCK;
  close(fd);
}

TInstanceLock::~TInstanceLock() {
  // The file stays: removing it could let two copies lock different files.
  if (fd_ >= 0) close(fd_);
}

}  // namespace lum
