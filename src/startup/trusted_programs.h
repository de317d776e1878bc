#pragma once
// The shows whose programs the user chose to run always ("Always for this
// show"), remembered by the SHA-256 of the show's file, so a changed or
// renamed-in stranger's file is never taken for a trusted one. One line per
// show: the hash in hexadecimal, a tab, the show's path (for the reader).
#include <cstddef>
#include <string>
#include <string_view>

namespace lum {

// The most bytes of the file read or written; a larger file is read up to
// there and not grown further.
inline constexpr size_t kTrustedProgramsMaxBytes = 1 << 20;

// $XDG_CONFIG_HOME/lumviewer/trusted-programs ($XDG_CONFIG_HOME: an absolute
// path, else $HOME/.config); "" when neither gives an absolute folder.
std::string TrustedProgramsPath();

class TTrustedPrograms {
 public:
  // path: the file; "" keeps nothing (every lookup misses, adding fails).
  explicit TTrustedPrograms(std::string path);

  // Whether no show is trusted yet (then no show's hash need be worked out).
  bool Empty() const { return Read().empty(); }
  // Whether the show with this content hash is in the file (read now).
  bool Contains(std::string_view hash) const;
  // Adds the show (its folders made 0700, the file 0600, replaced whole).
  // True when it is in the file afterwards.
  bool Add(std::string_view hash, std::string_view showPath) const;

  const std::string& Path() const { return path_; }

 private:
  std::string Read() const;

  std::string path_;
};

}  // namespace lum
