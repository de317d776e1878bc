#include "container/disk_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

#include "foundation/case_fold.h"
#include "foundation/paths.h"

namespace lum {

std::string ToPosixSeparators(std::string_view name) {
  std::string s(name);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

std::string_view StripDriveAndRoot(std::string_view name) {
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
    name.remove_prefix(2);
  } else if (name.size() >= 2 && (name[0] == '\\' || name[0] == '/') &&
             (name[1] == '\\' || name[1] == '/')) {
    // \\server\share\rest: the server and share stand for the drive.
    name.remove_prefix(2);
    for (int part = 0; part < 2; ++part) {
      size_t sep = name.find_first_of("\\/");
      name = sep == std::string_view::npos ? std::string_view() : name.substr(sep + 1);
    }
  }
  while (!name.empty() && (name[0] == '\\' || name[0] == '/')) name.remove_prefix(1);
  return name;
}

namespace {

bool IsDir(const std::string& p) {
  return DirectoryExists(p);
}

// The entry of folder whose name folds equal to part, or "".
std::string FindInFolder(const std::string& folder, std::string_view part) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), closedir);
  if (!dir) return {};
  while (dirent* e = readdir(dir.get())) {
    if (FoldedEquals(e->d_name, part)) return e->d_name;
  }
  return {};
}

}  // namespace

std::string MatchPathCaseInsensitive(const std::string& path) {
  if (FileExists(path)) return path;
  std::string out = path.empty() || path[0] != '/' ? std::string() : std::string("/");
  size_t i = out.size();
  while (i <= path.size()) {
    size_t sep = path.find('/', i);
    if (sep == std::string::npos) sep = path.size();
    std::string_view part(path.data() + i, sep - i);
    i = sep + 1;
    if (part.empty() || part == ".") continue;
    std::string candidate = out + std::string(part);
    struct stat st;
    if (part == ".." || lstat(candidate.c_str(), &st) == 0) {
      out = candidate;
    } else {
      std::string found = FindInFolder(out.empty() ? "." : out, part);
      if (found.empty()) return {};
      out += found;
    }
    if (sep < path.size()) {
      if (!IsDir(out)) return {};
      out += '/';
    }
  }
  return FileExists(out) ? out : std::string();
}

std::string FindDiskFile(std::string_view name, std::string_view baseFolder) {
  if (name.empty()) return {};
  std::string posix = ToPosixSeparators(name);
  bool drive = name.size() >= 2 && name[1] == ':';
  bool posixAbsolute = name[0] == '/';
  if (posixAbsolute || (!drive && baseFolder.empty())) {
    if (std::string hit = MatchPathCaseInsensitive(posix); !hit.empty()) return hit;
  }
  if (baseFolder.empty() || posixAbsolute) return {};
  // The show's folder was moved here from elsewhere: try the name without its
  // drive, then with ever fewer leading folders, down to the file name alone.
  std::string rest = ToPosixSeparators(StripDriveAndRoot(name));
  std::string base = IncludeTrailingSlash(baseFolder);
  for (size_t from = 0; from < rest.size();) {
    if (std::string hit = MatchPathCaseInsensitive(base + rest.substr(from)); !hit.empty())
      return hit;
    size_t sep = rest.find('/', from);
    if (sep == std::string::npos) break;
    from = sep + 1;
  }
  return {};
}

}  // namespace lum
