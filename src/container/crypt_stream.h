#pragma once
// Scrambler of storage method 2: byte i of the inner stream is XORed with
// key[i mod key length], counted from the inner stream's position 0, so that
// reading and seeking work at any position.
#include <memory>
#include <string>
#include <string_view>

#include "foundation/stream.h"

namespace lum {

class TCryptStream : public TStream {
 public:
  // key must not be empty.
  TCryptStream(TStream& inner, std::string_view key);
  TCryptStream(std::unique_ptr<TStream> inner, std::string_view key);

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    return pos_ = inner_->Seek(offset, origin);
  }
  int64_t Position() override { return owned_ ? pos_ : inner_->Position(); }
  int64_t Size() override { return inner_->Size(); }
  void SetSize(int64_t size) override { inner_->SetSize(size); }

  TStream& Inner() { return *inner_; }

 private:
  void Init(std::string_view key);
  size_t KeyIndex();

  std::unique_ptr<TStream> owned_;
  TStream* inner_;
  int64_t pos_ = 0;  // kept when the inner stream is ours alone
  size_t keyLength_ = 0;
  size_t keyMask_ = 0;  // key length - 1 when it is a power of two
  size_t block_ = 0;    // a multiple of the key length, at least 256
  std::string keyRun_;  // the key repeated to block_ + key length bytes
  alignas(64) char staging_[4096];
};

// XORs data in place with the key, as if the data started at stream position pos.
void ScrambleBytes(char* data, size_t count, std::string_view key, int64_t pos);

}  // namespace lum
