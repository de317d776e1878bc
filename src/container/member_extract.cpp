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
#include "foundation/file_stream.h"
#include "foundation/paths.h"
#include "foundation/side_file.h"

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

// Creates and enters each folder of relative but its last part, refusing
// links on the way; gives folder/relative.
std::string MakeParentFolders(const std::string& folder, const std::string& relative) {
  TFd dir;
  dir.fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir.fd < 0) Refuse(folder, "Cannot open folder");
  std::string shown = IncludeTrailingSlash(folder);
  for (size_t at = 0, sep; (sep = relative.find('/', at)) != std::string::npos; at = sep + 1) {
    const std::string part = relative.substr(at, sep - at);
    shown += part + "/";
    if (mkdirat(dir.fd, part.c_str(), 0755) != 0 && errno != EEXIST)
      Refuse(shown, "Cannot create folder");
    TFd next;
    next.fd = openat(dir.fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next.fd < 0) Refuse(shown, "Cannot enter folder");
    std::swap(dir.fd, next.fd);
  }
  return shown + relative.substr(relative.rfind('/') + 1);
}

void CopyAll(TStream& data, TFileStream& out) {
  constexpr size_t kChunk = 256 * 1024;
  auto buf = std::make_unique<char[]>(kChunk);
  while (size_t n = data.Read(buf.get(), kChunk)) out.WriteBuffer(buf.get(), n);
  out.Flush();
}

}  // namespace

TExtracted WriteUnderFolder(const std::string& folder, const std::string& relative, TStream& data,
                            bool overwrite) {
  TExtracted result{MakeParentFolders(folder, relative)};
  const std::string& path = result.path;
  if (overwrite) {
    TSideFile side(path);
    CopyAll(data, side.Stream());
    side.Commit();
    return result;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    result.existed = true;
    return result;
  }
  // Exclusive: whatever appears at the path meanwhile, a link included, is never written through.
  TFileStream out(path, TFileStream::TMode::CreateNew);
  try {
    CopyAll(data, out);
  } catch (...) {
    unlink(path.c_str());
    throw;
  }
  return result;
}

}  // namespace lum
