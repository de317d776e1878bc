#include "foundation/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace lum {

const std::string& ExecutablePath() {
  static const std::string path = [] {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
  }();
  return path;
}

std::string ExecutableFolder() {
  return std::string(ExtractFilePath(ExecutablePath()));
}

namespace {
size_t LastSeparator(std::string_view path) {
  size_t i = path.find_last_of("\\/");
  // A drive colon ("C:name") separates too.
  if (i == std::string_view::npos && path.size() >= 2 && path[1] == ':') return 1;
  return i;
}
}  // namespace

std::string_view ExtractFileName(std::string_view path) {
  size_t i = LastSeparator(path);
  return i == std::string_view::npos ? path : path.substr(i + 1);
}

std::string_view ExtractFilePath(std::string_view path) {
  size_t i = LastSeparator(path);
  return i == std::string_view::npos ? std::string_view() : path.substr(0, i + 1);
}

std::string_view ExtractFileExt(std::string_view path) {
  std::string_view name = ExtractFileName(path);
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  std::string_view old = ExtractFileExt(path);
  return std::string(path.substr(0, path.size() - old.size())) + std::string(ext);
}

std::string IncludeTrailingSlash(std::string_view folder) {
  std::string s(folder);
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

std::string CurrentFolder() {
  char buf[PATH_MAX];
  return IncludeTrailingSlash(getcwd(buf, sizeof buf) ? buf : ".");
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SpecialFileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
         !S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t sep = path.find('/', 1); sep != std::string::npos; sep = path.find('/', sep + 1)) {
    std::string parent = path.substr(0, sep);
    if (!DirectoryExists(parent)) mkdir(parent.c_str(), 0755);
  }
  if (!DirectoryExists(path)) mkdir(path.c_str(), 0755);
  return DirectoryExists(path);
}

std::string ResolveAgainst(std::string_view path, std::string_view baseFolder) {
  if (!path.empty() && path[0] == '/') return std::string(path);
  if (baseFolder.empty()) return CurrentFolder() + std::string(path);
  return IncludeTrailingSlash(baseFolder) + std::string(path);
}

}  // namespace lum
