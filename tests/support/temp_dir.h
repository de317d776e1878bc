#pragma once
// A fresh folder for one test, removed with everything in it afterwards.
#include <string>
#include <string_view>

namespace lum::test {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path of a name inside the folder.
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes a file (parent folders created); returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);

}  // namespace lum::test
