#include "container/crypt_stream.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif
#include <vector>

#include "foundation/errors.h"

namespace lum {

namespace {

// data[i] ^= run[i % block], sixteen bytes at a time where SSE2 is there.
// out[i] = in[i] ^ run[i % block] (in may be out), sixteen bytes at a time where SSE2 is there.
void XorRunPortable(char* out, const char* in, size_t count, const char* __restrict run,
                    size_t block) {
  while (count > 0) {
    size_t n = count < block ? count : block;
    size_t j = 0;
#ifdef __SSE2__
    for (; j + 16 <= n; j += 16) {
      __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j));
      __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + j));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_xor_si128(d, k));
    }
#endif
    for (; j < n; ++j) out[j] = char(in[j] ^ run[j]);
    out += n;
    in += n;
    count -= n;
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same with 32-byte registers, chosen at run time where the processor has AVX2.
__attribute__((target("avx2"))) void XorRunAvx2(char* out, const char* in, size_t count,
                                                const char* __restrict run, size_t block) {
  while (count > 0) {
    size_t n = count < block ? count : block;
    size_t j = 0;
    for (; j + 32 <= n; j += 32) {
      __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + j));
      __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(run + j));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), _mm256_xor_si256(d, k));
    }
    for (; j < n; ++j) out[j] = char(in[j] ^ run[j]);
    out += n;
    in += n;
    count -= n;
  }
}
#endif

using TXorRun = void (*)(char*, const char*, size_t, const char*, size_t);

TXorRun ChooseXorRun() {
#if defined(__x86_64__) && defined(__GNUC__)
  if (__builtin_cpu_supports("avx2")) return XorRunAvx2;
#endif
  return XorRunPortable;
}

const TXorRun XorRun = ChooseXorRun();

}  // namespace

TCryptStream::TCryptStream(TStream& inner, std::string_view key) : inner_(&inner) {
  Init(key);
}

TCryptStream::TCryptStream(std::unique_ptr<TStream> inner, std::string_view key)
    : owned_(std::move(inner)), inner_(owned_.get()) {
  Init(key);
}

void TCryptStream::Init(std::string_view key) {
  pos_ = inner_->Position();
  if (key.empty()) AssertFailed("TCryptStream", "empty scramble key");
  keyLength_ = key.size();
  // The usual 32-byte key: a mask instead of a 64-bit division per piece.
  keyMask_ = (keyLength_ & (keyLength_ - 1)) == 0 ? keyLength_ - 1 : 0;
  block_ = keyLength_ * ((256 + keyLength_ - 1) / keyLength_);
  keyRun_.resize(block_ + keyLength_);
  for (size_t i = 0; i < keyRun_.size(); ++i) keyRun_[i] = key[i % keyLength_];
}

size_t TCryptStream::KeyIndex() {
  auto pos = uint64_t(Position());
  return keyMask_ ? size_t(pos & keyMask_) : size_t(pos % keyLength_);
}

size_t TCryptStream::Read(void* buffer, size_t count) {
  size_t k = KeyIndex();
  auto* out = static_cast<char*>(buffer);
  size_t n;
  if (count <= sizeof staging_) {
    // Small pieces go through a buffer that stays in the first-level cache, so
    // the caller's memory is written once instead of copied and then XORed.
    n = inner_->Read(staging_, count);
    XorRun(out, staging_, n, keyRun_.data() + k, block_);
  } else {
    n = inner_->Read(out, count);
    XorRun(out, out, n, keyRun_.data() + k, block_);
  }
  pos_ += int64_t(n);
  return n;
}

size_t TCryptStream::Write(const void* buffer, size_t count) {
  size_t k = KeyIndex();
  std::vector<char> copy(static_cast<const char*>(buffer),
                         static_cast<const char*>(buffer) + count);
  XorRun(copy.data(), copy.data(), count, keyRun_.data() + k, block_);
  size_t n = inner_->Write(copy.data(), count);
  pos_ += int64_t(n);
  return n;
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
