#pragma once
// Bump allocator for many small, trivially destructible objects that live as
// long as their owner (the nodes and strings of a parsed document).
#include <cstddef>
#include <memory>
#include <memory_resource>
#include <new>
#include <string_view>
#include <type_traits>
#include <vector>

namespace lum {

class TArena {
 public:
  explicit TArena(size_t blockSize = 64 * 1024) : blockSize_(blockSize) {}
  TArena(const TArena&) = delete;
  TArena& operator=(const TArena&) = delete;

  // Uninitialised storage, valid until Clear or destruction.
  void* Allocate(size_t size, size_t align) {
    size_t p = (used_ + align - 1) & ~(align - 1);
    if (p + size > capacity_) return AllocateSlow(size, align);
    used_ = p + size;
    return current_ + p;
  }

  template <class T, class... Args>
  T* New(Args&&... args) {
    static_assert(std::is_trivially_destructible_v<T>, "arena objects are never destroyed");
    return new (Allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
  }

  // A copy of the bytes owned by the arena.
  std::string_view Copy(std::string_view s);

  void Clear();
  size_t BytesReserved() const { return reserved_; }

 private:
  void* AllocateSlow(size_t size, size_t align);

  size_t blockSize_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* current_ = nullptr;
  size_t used_ = 0;
  size_t capacity_ = 0;
  size_t reserved_ = 0;
};

// Lets standard containers (std::pmr) take their storage from an arena; freeing
// is a no-op, the arena releases everything at once.
class TArenaResource : public std::pmr::memory_resource {
 public:
  explicit TArenaResource(TArena& arena) : arena_(arena) {}

 private:
  void* do_allocate(size_t bytes, size_t align) override { return arena_.Allocate(bytes, align); }
  void do_deallocate(void*, size_t, size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& o) const noexcept override {
    return this == &o;
  }

  TArena& arena_;
};

}  // namespace lum
