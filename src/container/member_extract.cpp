#include "container/member_extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "container/disk_path.h"
#include "foundation/errors.h"
#include "foundation/paths.h"

namespace lum {

bool SafeMemberPath(std::string_view name, std::string& relative, std::string& reason) {
  std::string posix = ToPosixSeparators(StripDriveAndRoot(name));
  relative.clear();
  size_t i = 0;
  while (i <= posix.size()) {
    size_t sep = posix.find('/', i);
    if (sep == std::string::npos) sep = posix.size();
    std::string_view part(posix.data() + i, sep - i);
    i = sep + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      reason = "the name climbs out of the target folder";
      return false;
    }
    if (!relative.empty()) relative += '/';
    relative += part;
  }
  if (relative.empty()) {
    reason = "the name has no file part";
    return false;
  }
  return true;
}

namespace {

struct TFd {
  int fd = -1;
  ~TFd() {
    if (fd >= 0) close(fd);
  }
};

[[noreturn]] void Refuse(const std::string& path, const char* what) {
  std::string why = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
  throw EFOpenError(std::string(what) + " \"" + path + "\": " + why);
}

}  // namespace

std::string WriteUnderFolder(const std::string& folder, const std::string& relative,
                             TStream& data) {
  TFd dir;
  dir.fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir.fd < 0) Refuse(folder, "Cannot open folder");
  std::vector<std::string> parts;
  for (size_t i = 0; i <= relative.size();) {
    size_t sep = relative.find('/', i);
    if (sep == std::string::npos) sep = relative.size();
    parts.emplace_back(relative.substr(i, sep - i));
    i = sep + 1;
  }
  std::string shown = IncludeTrailingSlash(folder);
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    shown += parts[k] + "/";
    if (mkdirat(dir.fd, parts[k].c_str(), 0755) != 0 && errno != EEXIST)
      Refuse(shown, "Cannot create folder");
    TFd next;
    next.fd = openat(dir.fd, parts[k].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next.fd < 0) Refuse(shown, "Cannot enter folder");
    std::swap(dir.fd, next.fd);
  }
  shown += parts.back();
  TFd out;
  out.fd = openat(dir.fd, parts.back().c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (out.fd < 0) Refuse(shown, "Cannot create file");
  constexpr size_t kChunk = 256 * 1024;
  auto buf = std::make_unique<char[]>(kChunk);
  while (size_t n = data.Read(buf.get(), kChunk)) {
    for (size_t done = 0; done < n;) {
      ssize_t w = write(out.fd, buf.get() + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) Refuse(shown, "Cannot write file");
      done += size_t(w);
    }
  }
  return shown;
}

}  // namespace lum
