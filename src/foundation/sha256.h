#pragma once
// SHA-256 (FIPS 180-4), small and self-contained: the player remembers which
// shows the user trusts by the hash of their file's bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lum {

class TSha256 {
 public:
  using TDigest = std::array<uint8_t, 32>;

  TSha256();
  // Adds bytes to the message.
  void Update(const void* data, size_t size);
  // The digest of everything added; the object starts over afterwards.
  TDigest Final();

 private:
  void Block(const uint8_t* p);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_;
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes added
};

// Lower-case hexadecimal of a digest (64 characters).
std::string DigestHex(const TSha256::TDigest& digest);
// DigestHex of the bytes' SHA-256.
std::string Sha256Hex(std::string_view bytes);
// DigestHex of the SHA-256 of a file's bytes, read in pieces; "" when the
// file cannot be opened or read.
std::string FileSha256Hex(const std::string& path);

}  // namespace lum
