#include "container/crypt_stream.h"

#include <cstring>
#include <vector>

#include "foundation/errors.h"

namespace lum {

namespace {

// data[i] ^= run[i] over whole blocks; the fixed-length inner loop vectorises.
void XorRun(char* data, size_t count, const char* run, size_t block) {
  while (count >= block) {
    for (size_t j = 0; j < block; ++j) data[j] ^= run[j];
    data += block;
    count -= block;
  }
  for (size_t j = 0; j < count; ++j) data[j] ^= run[j];
}

}  // namespace

TCryptStream::TCryptStream(TStream& inner, std::string_view key) : inner_(&inner) { Init(key); }

TCryptStream::TCryptStream(std::unique_ptr<TStream> inner, std::string_view key)
    : owned_(std::move(inner)), inner_(owned_.get()) {
  Init(key);
}

void TCryptStream::Init(std::string_view key) {
  if (key.empty()) AssertFailed("TCryptStream", "empty scramble key");
  keyLength_ = key.size();
  block_ = keyLength_ * ((256 + keyLength_ - 1) / keyLength_);
  keyRun_.resize(block_ + keyLength_);
  for (size_t i = 0; i < keyRun_.size(); ++i) keyRun_[i] = key[i % keyLength_];
}

size_t TCryptStream::Read(void* buffer, size_t count) {
  size_t k = size_t(inner_->Position() % int64_t(keyLength_));
  size_t n = inner_->Read(buffer, count);
  XorRun(static_cast<char*>(buffer), n, keyRun_.data() + k, block_);
  return n;
}

size_t TCryptStream::Write(const void* buffer, size_t count) {
  size_t k = size_t(inner_->Position() % int64_t(keyLength_));
  std::vector<char> copy(static_cast<const char*>(buffer), static_cast<const char*>(buffer) + count);
  XorRun(copy.data(), count, keyRun_.data() + k, block_);
  return inner_->Write(copy.data(), count);
}

void ScrambleBytes(char* data, size_t count, std::string_view key, int64_t pos) {
  if (key.empty()) AssertFailed("TCryptStream", "empty scramble key");
  size_t k = size_t(pos % int64_t(key.size()));
  for (size_t i = 0; i < count; ++i) {
    data[i] ^= key[k];
    if (++k == key.size()) k = 0;
  }
}

}  // namespace lum
