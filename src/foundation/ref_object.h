#pragma once
// Reference-counted base of shared objects and its intrusive smart pointer.
// The last holder frees the object on whatever thread it releases it.
#include <atomic>
#include <cstdint>
#include <utility>

namespace lum {

class TRefObject {
 public:
  TRefObject() = default;
  TRefObject(const TRefObject&) = delete;
  TRefObject& operator=(const TRefObject&) = delete;

  void AddRef() const { count_.fetch_add(1, std::memory_order_relaxed); }
  // Drops one reference; disposes the object when it was the last.
  void Release() const {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  int32_t RefCount() const { return count_.load(std::memory_order_relaxed); }

 protected:
  virtual ~TRefObject() = default;

 private:
  mutable std::atomic<int32_t> count_{0};
};

// Intrusive pointer: holds one reference of a TRefObject-derived object.
template <class T>
class TRef {
 public:
  TRef() = default;
  TRef(std::nullptr_t) {}
  explicit TRef(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  TRef(const TRef& o) : TRef(o.p_) {}
  TRef(TRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  TRef(const TRef<U>& o) : TRef(o.Get()) {}
  ~TRef() {
    if (p_) p_->Release();
  }
  TRef& operator=(TRef o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  bool operator==(const TRef& o) const { return p_ == o.p_; }

 private:
  T* p_ = nullptr;
};

template <class T, class... Args>
TRef<T> MakeRef(Args&&... args) {
  return TRef<T>(new T(std::forward<Args>(args)...));
}

}  // namespace lum
