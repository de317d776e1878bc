#include "support/temp_dir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lum::test {

TTempDir::TTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumtest.XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TTempDir::~TTempDir() {
  auto remove = [](const char* p, const struct stat*, int flag, struct FTW*) -> int {
    if (flag == FTW_DP) return rmdir(p);
    chmod(p, 0700);
    return unlink(p);
  };
  nftw(path_.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TTempDir::Write(std::string_view name, std::string_view bytes) const {
  std::string path = *this / name;
  for (size_t i = path_.size() + 1; i < path.size(); ++i) {
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  }
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), std::streamsize(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace lum::test
