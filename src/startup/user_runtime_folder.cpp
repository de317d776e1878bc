#include "startup/user_runtime_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/paths.h"

namespace lum {

namespace {

constexpr int kMaxTreeDepth = 64;

bool PrivateAndOurs(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::string CacheHome() {
  if (const char* c = std::getenv("XDG_CACHE_HOME"); c && *c == '/') return c;
  const char* home = std::getenv("HOME");
  return home && *home == '/' ? IncludeTrailingSlash(home) + ".cache" : std::string();
}

bool RemoveTreeAt(int parentFd, const std::string& name, int depth) {
  struct stat st;
  if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return unlinkat(parentFd, name.c_str(), 0) == 0;
  if (depth >= kMaxTreeDepth) return false;
  const int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(fd), closedir);
  if (!dir) {
    close(fd);
    return false;
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(dir.get())) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
  }
  bool ok = true;
  for (const std::string& n : names) ok = RemoveTreeAt(fd, n, depth + 1) && ok;
  dir.reset();
  return ok && unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

int OpenPrivateFolder(int parentFd, const std::string& name) {
  if (mkdirat(parentFd, name.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  const int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int error = 0;
  if (fstat(fd, &st) != 0)
    error = errno;
  else if (st.st_uid != geteuid())
    error = EPERM;
  else if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0)
    error = errno;
  if (error) {
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::string UserRuntimeFolder(std::string* why) {
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/') {
    // The system makes this folder; we only use it when it is what it should be.
    const int fd = open(run, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    const bool usable = fd >= 0 && fstat(fd, &st) == 0 && PrivateAndOurs(st);
    if (fd >= 0) close(fd);
    if (usable) return run;
  }
  const std::string cache = CacheHome();
  if (cache.empty() || !ForceDirectories(cache)) {
    if (why) *why = "no usable $XDG_RUNTIME_DIR and no cache folder";
    return {};
  }
  const std::string folder = IncludeTrailingSlash(cache) + "lumviewer";
  const int fd = OpenPrivateFolder(AT_FDCWD, folder);
  if (fd < 0) {
    if (why) *why = folder + ": " + std::strerror(errno);
    return {};
  }
  close(fd);
  return folder;
}

bool RemoveTreeAt(int parentFd, const std::string& name) {
  return RemoveTreeAt(parentFd, name, 0);
}

}  // namespace lum
