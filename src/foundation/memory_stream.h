#pragma once
// Growable in-memory stream. Large buffers are mapped pages that grow by
// remapping, so they are never copied while growing.
#include <string>
#include <string_view>

#include "foundation/stream.h"

namespace lum {

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes);
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Position() override { return int64_t(pos_); }
  int64_t Size() override { return int64_t(size_); }
  void SetSize(int64_t size) override;

  char* Memory() { return data_; }
  const char* Memory() const { return data_; }
  std::string_view View() const { return {data_, size_}; }
  void Clear();

  // Room for at least minFree bytes after the end, its pages already mapped in;
  // returns where they start. Append() then makes n of them part of the stream.
  // Lets producers (inflaters) write straight into the stream's storage.
  char* ReserveTail(size_t minFree);
  void Append(size_t n) { size_ += n; }
  size_t Capacity() const { return capacity_; }

 private:
  void Grow(size_t minCapacity);
  void Release();

  char* data_ = nullptr;
  bool mapped_ = false;  // data_ comes from mmap rather than malloc
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t pos_ = 0;
};

}  // namespace lum
