#pragma once
// Builds show containers byte by byte, independently of the player's writer:
// the directory text is written by hand, deflated with zlib directly, and the
// trailer is assembled from little-endian integers here.
#include <cstdint>
#include <string>
#include <vector>

namespace lum::test {

// Raw deflate (no header) of bytes, straight through zlib.
std::string RawDeflate(const std::string& bytes);
std::string LittleEndian64(int64_t v);
// XOR with the key, counted from the member's first byte.
std::string Scramble(const std::string& bytes, const std::string& key);

struct TRawMember {
  std::string section;  // directory section name, already mapped
  std::string stored;   // bytes as they lie in the file
  int method = 0;
  std::string extraKeys;  // more "key=value\r\n" lines for the section
};

struct TRawContainer {
  std::string prefix;  // bytes in front (an "executable")
  std::vector<TRawMember> members;
  std::string protection;  // lines of "$protection$" without the header; "" for none
  bool longTrailer = false;
  bool positionsRelative = false;  // "_ps" relative to the container start instead of the file

  // The file's bytes. directoryPos receives the absolute directory position.
  std::string Build(int64_t* directoryPos = nullptr) const;
};

}  // namespace lum::test
