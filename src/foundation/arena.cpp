#include "foundation/arena.h"

#include <cstring>

namespace lum {

void* TArena::AllocateSlow(size_t size, size_t align) {
  size_t need = size + align;
  if (need > blockSize_ / 4) {
    // Large requests get their own block so the current one keeps serving small ones.
    blocks_.emplace_back(new char[need]);
    reserved_ += need;
    auto base = reinterpret_cast<uintptr_t>(blocks_.back().get());
    return reinterpret_cast<void*>((base + align - 1) & ~(uintptr_t(align) - 1));
  }
  blocks_.emplace_back(new char[blockSize_]);
  reserved_ += blockSize_;
  current_ = blocks_.back().get();
  capacity_ = blockSize_;
  used_ = 0;
  return Allocate(size, align);
}

std::string_view TArena::Copy(std::string_view s) {
  if (s.empty()) return {};
  char* p = static_cast<char*>(Allocate(s.size(), 1));
  std::memcpy(p, s.data(), s.size());
  return {p, s.size()};
}

void TArena::Clear() {
  blocks_.clear();
  current_ = nullptr;
  used_ = capacity_ = reserved_ = 0;
}

}  // namespace lum
