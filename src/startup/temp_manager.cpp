#include "startup/temp_manager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include <fmt/format.h>

#include "foundation/errors.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "startup/user_runtime_folder.h"

namespace lum {

std::string NewGuidText() {
  unsigned char b[16];
  if (getrandom(b, sizeof b, 0) != ssize_t(sizeof b)) {
    std::random_device rd;
    for (unsigned char& c : b) c = static_cast<unsigned char>(rd());
  }
  std::string hex;
  for (unsigned char c : b) hex += fmt::format("{:02X}", c);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20);
}

bool RemoveTree(const std::string& path) {
  return RemoveTreeAt(AT_FDCWD, path);
}

TTempManager::TTempManager(std::string base) : base_(std::move(base)) {
  if (!base_.empty()) root_ = IncludeTrailingSlash(base_) + "ORVAK_TEMP_ROOT";
}

TTempManager::~TTempManager() {
  Cleanup();
  if (rootFd_ >= 0) close(rootFd_);
}

TTempManager& TTempManager::Instance() {
  static TTempManager manager;
  return manager;
}

std::string TTempManager::Root() const {
  return root_;
}

void TTempManager::FirstUse() {
  if (rootFd_ >= 0) return;
  if (base_.empty()) {
    std::string why;
    base_ = UserRuntimeFolder(&why);
    if (base_.empty()) throw ELumError("VendorTemp Create Error: " + why);
    root_ = IncludeTrailingSlash(base_) + "ORVAK_TEMP_ROOT";
  }
  const int fd = OpenPrivateFolder(AT_FDCWD, root_);
  if (fd < 0) {
    Log().Line("Temporary root refused: " + root_ + " (" + std::strerror(errno) + ")");
    throw ELumError("VendorTemp Create Error: " + root_);
  }
  rootFd_ = fd;
  Sweep();
  struct stat st;
  if (fstat(rootFd_, &st) != 0 || st.st_nlink == 0) throw ELumError("Temp Path not Found");
}

void TTempManager::Sweep() {
  const int listFd = dup(rootFd_);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(listFd >= 0 ? fdopendir(listFd) : nullptr, closedir);
  if (!dir) {
    if (listFd >= 0) close(listFd);
    return;
  }
  rewinddir(dir.get());
  std::vector<std::string> locks;
  while (dirent* e = readdir(dir.get())) {
    std::string n = e->d_name;
    if (n.size() > 5 && n.compare(n.size() - 5, 5, ".lock") == 0) locks.push_back(n);
  }
  for (const std::string& n : locks) {
    const int fd =
        openat(rootFd_, n.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    // A lock we cannot take belongs to a running program.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      continue;
    }
    const std::string folder = n.substr(0, n.size() - 5);
    if (unlinkat(rootFd_, n.c_str(), 0) == 0 && !RemoveTreeAt(rootFd_, folder)) KeepForSweep(n);
    close(fd);
  }
}

void TTempManager::KeepForSweep(const std::string& lockName) {
  const int fd =
      openat(rootFd_, lockName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) close(fd);
}

std::string TTempManager::NewFolder(bool trailingSlash) {
  std::lock_guard<std::mutex> lock(mutex_);
  FirstUse();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "[" + NewGuidText() + "]";
    if (mkdirat(rootFd_, name.c_str(), 0700) != 0) continue;
    const std::string lockName = name + ".lock";
    const int fd =
        openat(rootFd_, lockName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      owned_.push_back({name, fd});
      const std::string folder = root_ + "/" + name;
      return trailingSlash ? folder + "/" : folder;
    }
    if (fd >= 0) {
      close(fd);
      unlinkat(rootFd_, lockName.c_str(), 0);
    }
    unlinkat(rootFd_, name.c_str(), AT_REMOVEDIR);
  }
  throw ELumError("VendorTemp Create Error: " + root_);
}

void TTempManager::Cleanup() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const TOwned& o : owned_) {
    close(o.lockFd);
    const std::string lockName = o.name + ".lock";
    struct stat st;
    if (unlinkat(rootFd_, lockName.c_str(), 0) != 0 &&
        fstatat(rootFd_, lockName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
      continue;
    if (!RemoveTreeAt(rootFd_, o.name)) {
      Log().Line("Cannot remove temporary folder " + root_ + "/" + o.name);
      KeepForSweep(lockName);
    }
  }
  owned_.clear();
}

}  // namespace lum
