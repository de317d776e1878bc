#include "foundation/thread_event_list.h"

namespace lum {

TThreadEventList::TThreadEventList(THandler handler) : handler_(std::move(handler)) {}

TThreadEventList::~TThreadEventList() {
  Shut();
}

void TThreadEventList::Post(int code, TRef<TRefObject> data) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_) return;  // data released on return
    items_.push_back({code, std::move(data), nullptr});
  }
  arrived_.notify_all();
}

void TThreadEventList::Send(int code, TRef<TRefObject> data) {
  bool done = false;
  std::unique_lock<std::mutex> lock(mutex_);
  if (shut_) return;
  items_.push_back({code, std::move(data), &done});
  arrived_.notify_all();
  handled_.wait(lock, [&] { return done; });
}

void TThreadEventList::Drain() {
  for (;;) {
    TMessageItem item;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (items_.empty()) return;
      item = std::move(items_.front());
      items_.pop_front();
    }
    try {
      if (handler_) handler_(item.code, item.data.Get());
    } catch (...) {
      // A failing request must not stop the worker's loop.
    }
    item.data = nullptr;
    if (item.done) {
      std::lock_guard<std::mutex> lock(mutex_);
      *item.done = true;
      handled_.notify_all();
    }
  }
}

void TThreadEventList::Shut() {
  std::deque<TMessageItem> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shut_ = true;
    for (TMessageItem& item : items_) {
      if (item.done) *item.done = true;
    }
    dropped.swap(items_);
    handled_.notify_all();
  }
  arrived_.notify_all();
  // dropped data is released here, outside the lock
}

bool TThreadEventList::IsShut() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shut_;
}

bool TThreadEventList::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_.empty();
}

void TThreadEventList::WaitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_for(lock, timeout, [&] { return shut_ || !items_.empty(); });
}

}  // namespace lum
