#include "startup/trusted_programs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "foundation/errors.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/side_file.h"

namespace lum {

namespace {

constexpr size_t kHashChars = 64;

bool IsHexHash(std::string_view s) {
  if (s.size() != kHashChars) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string AbsoluteEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && v[0] == '/' ? std::string(v) : std::string();
}

// A path on one line: control characters would start a new entry.
std::string OneLine(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  return out;
}

// The folder and its missing parents, new ones private to the user.
bool MakeFolders(const std::string& folder) {
  if (folder.empty() || DirectoryExists(folder)) return true;
  const std::string parent(ExtractFilePath(folder.substr(0, folder.size() - 1)));
  if (!parent.empty() && parent != folder && !MakeFolders(parent)) return false;
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string TrustedProgramsPath() {
  std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
  if (config.empty()) {
    const std::string home = AbsoluteEnv("HOME");
    if (home.empty()) return {};
    config = IncludeTrailingSlash(home) + ".config";
  }
  return IncludeTrailingSlash(config) + "lumviewer/trusted-programs";
}

TTrustedPrograms::TTrustedPrograms(std::string path) : path_(std::move(path)) {}

std::string TTrustedPrograms::Read() const {
  if (path_.empty()) return {};
  const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {};
  std::string text;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    text.resize(kTrustedProgramsMaxBytes);
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += size_t(n);
    }
    text.resize(got);
  }
  close(fd);
  return text;
}

bool TTrustedPrograms::Contains(std::string_view hash) const {
  if (!IsHexHash(hash)) return false;
  const std::string text = Read();
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (std::string_view(text).substr(start, end - start).substr(0, kHashChars) == hash)
      return true;
    start = end + 1;
  }
  return false;
}

bool TTrustedPrograms::Add(std::string_view hash, std::string_view showPath) const {
  if (path_.empty() || !IsHexHash(hash)) return false;
  if (Contains(hash)) return true;
  std::string text = Read();
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += std::string(hash) + "\t" + OneLine(showPath) + "\n";
  if (text.size() > kTrustedProgramsMaxBytes) {
    Log().Line("Trusted programs: " + path_ + " is full");
    return false;
  }
  try {
    if (!MakeFolders(std::string(ExtractFilePath(path_)))) throw EFOpenError("no folder");
    TSideFile file(path_, 0600);
    file.Stream().WriteBuffer(text.data(), text.size());
    file.Commit();
  } catch (const std::exception& e) {
    Log().Line("Trusted programs: cannot write " + path_ + " (" + e.what() + ")");
    return false;
  }
  return true;
}

}  // namespace lum
