#include "startup/temp_manager.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
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
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
  auto remove = [](const char* p, const struct stat*, int flag, struct FTW*) -> int {
    return flag == FTW_DP ? rmdir(p) : unlink(p);
  };
  return nftw(path.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

TTempManager::TTempManager(std::string systemTemp) : systemTemp_(std::move(systemTemp)) {
  if (systemTemp_.empty()) {
    const char* t = std::getenv("TMPDIR");
    systemTemp_ = t && *t ? t : "/tmp";
  }
  root_ = IncludeTrailingSlash(systemTemp_) + "ORVAK_TEMP_ROOT";
}

TTempManager::~TTempManager() {
  Cleanup();
}

TTempManager& TTempManager::Instance() {
  static TTempManager manager;
  return manager;
}

std::string TTempManager::Root() const {
  return root_;
}

void TTempManager::FirstUse() {
  if (ready_) return;
  if (!DirectoryExists(root_) && mkdir(root_.c_str(), 0700) != 0 && errno != EEXIST) {
    throw ELumError("VendorTemp Create Error: " + root_);
  }
  Sweep();
  if (!DirectoryExists(root_)) throw ELumError("Temp Path not Found");
  ready_ = true;
}

void TTempManager::Sweep() {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(root_.c_str()), closedir);
  if (!dir) return;
  std::vector<std::string> locks;
  while (dirent* e = readdir(dir.get())) {
    std::string n = e->d_name;
    if (n.size() > 5 && n.compare(n.size() - 5, 5, ".lock") == 0) locks.push_back(n);
  }
  for (const std::string& n : locks) {
    std::string lockPath = root_ + "/" + n;
    int fd = open(lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    // A lock we cannot take belongs to a running program.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      continue;
    }
    std::string folder = lockPath.substr(0, lockPath.size() - 5);
    bool gone = unlink(lockPath.c_str()) == 0;
    if (gone && !RemoveTree(folder)) {
      int again = open(lockPath.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
      if (again >= 0) close(again);
    }
    close(fd);
  }
}

std::string TTempManager::NewFolder(bool trailingSlash) {
  std::lock_guard<std::mutex> lock(mutex_);
  FirstUse();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string folder = root_ + "/[" + NewGuidText() + "]";
    if (mkdir(folder.c_str(), 0700) != 0) continue;
    std::string lockPath = folder + ".lock";
    int fd = open(lockPath.c_str(), O_CREAT | O_TRUNC | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      owned_.push_back({folder, lockPath, fd});
      return trailingSlash ? folder + "/" : folder;
    }
    if (fd >= 0) close(fd);
    rmdir(folder.c_str());
  }
  throw ELumError("VendorTemp Create Error: " + root_);
}

void TTempManager::Cleanup() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const TOwned& o : owned_) {
    close(o.lockFd);
    struct stat st;
    if (unlink(o.lockPath.c_str()) != 0 && lstat(o.lockPath.c_str(), &st) == 0) continue;
    if (!RemoveTree(o.folder)) {
      Log().Line("Cannot remove temporary folder " + o.folder);
      int again = open(o.lockPath.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
      if (again >= 0) close(again);
    }
  }
  owned_.clear();
}

}  // namespace lum
