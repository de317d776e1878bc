#include "foundation/memory_stream.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/errors.h"

namespace lum {

TMemoryStream::TMemoryStream(std::string_view bytes) {
  Write(bytes.data(), bytes.size());
  pos_ = 0;
}

namespace {

constexpr size_t kPage = 4096;
// From this size on, storage is mapped pages that grow with mremap: the heap
// would copy a buffer of tens of megabytes every time it outgrows its place.
constexpr size_t kMapFrom = 1 << 20;

size_t RoundToPage(size_t n) {
  return (n + kPage - 1) & ~(kPage - 1);
}

}  // namespace

TMemoryStream::~TMemoryStream() {
  Release();
}

void TMemoryStream::Release() {
  if (mapped_) {
    munmap(data_, capacity_);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  mapped_ = false;
}

void TMemoryStream::Clear() {
  Release();
  size_ = capacity_ = pos_ = 0;
}

void TMemoryStream::Grow(size_t minCapacity) {
  if (minCapacity <= capacity_) return;
  size_t cap = std::max<size_t>({minCapacity, capacity_ + capacity_ / 2, 4096});
  if (cap < kMapFrom) {
    void* p = std::realloc(data_, cap);
    if (!p) throw std::bad_alloc();
    data_ = static_cast<char*>(p);
    capacity_ = cap;
    return;
  }
  cap = RoundToPage(cap);
  void* p;
  if (mapped_) {
    p = mremap(data_, capacity_, cap, MREMAP_MAYMOVE);
  } else {
    p = mmap(nullptr, cap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      if (size_) std::memcpy(p, data_, size_);
      std::free(data_);
    }
  }
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<char*>(p);
  capacity_ = cap;
  mapped_ = true;
  // Huge pages: a few hundred times fewer faults while a big member fills it.
  madvise(data_, capacity_, MADV_HUGEPAGE);
}

char* TMemoryStream::ReserveTail(size_t minFree) {
  Grow(size_ + minFree);
  if (mapped_ && minFree >= 16 * kPage) {
    // Fault the pages in with one call instead of one trap per page; kernels
    // without MADV_POPULATE_WRITE refuse and the pages fault in as written.
    auto begin = reinterpret_cast<uintptr_t>(data_ + size_) & ~uintptr_t(kPage - 1);
    auto end = RoundToPage(reinterpret_cast<uintptr_t>(data_ + size_ + minFree));
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
  }
  return data_ + size_;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (pos_ >= size_) return 0;
  size_t n = std::min(count, size_ - pos_);
  std::memcpy(buffer, data_ + pos_, n);
  pos_ += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  size_t end = pos_ + count;
  Grow(end);
  if (pos_ > size_) std::memset(data_ + size_, 0, pos_ - size_);
  std::memcpy(data_ + pos_, buffer, count);
  pos_ = end;
  size_ = std::max(size_, end);
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::Begin     ? 0
                 : origin == TSeekOrigin::Current ? int64_t(pos_)
                                                  : int64_t(size_);
  int64_t p = base + offset;
  if (p < 0) throw EStreamError("Incorrect Position");
  pos_ = size_t(p);
  return p;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Stream Cannot be resized");
  size_t old = size_;
  Grow(size_t(size));
  if (size_t(size) > old) std::memset(data_ + old, 0, size_t(size) - old);
  size_ = size_t(size);
  pos_ = std::min(pos_, size_);
}

}  // namespace lum
