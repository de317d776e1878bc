#pragma once
// Inbound queue of a worker thread: a locked first-in-first-out list of
// {code, reference-counted data}. Post returns at once; Send blocks until the
// owner has handled the item; the owner drains the list in its loop; Shut
// releases every waiting sender and refuses new items from then on.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "foundation/ref_object.h"

namespace lum {

class TThreadEventList {
 public:
  // Called on the owner's thread for each item; exceptions it raises are swallowed.
  using THandler = std::function<void(int code, TRefObject* data)>;

  explicit TThreadEventList(THandler handler);
  ~TThreadEventList();
  TThreadEventList(const TThreadEventList&) = delete;
  TThreadEventList& operator=(const TThreadEventList&) = delete;

  // Appends and returns at once; on a shut list the data is released.
  void Post(int code, TRef<TRefObject> data = {});
  // Appends and waits until the owner has handled the item; returns at once on
  // a shut list, and when the list is shut while waiting.
  void Send(int code, TRef<TRefObject> data = {});
  // Owner thread: handles items one by one, outside the lock, until the list is empty.
  void Drain();
  // Releases every waiting sender, drops all items, refuses new ones.
  void Shut();
  bool IsShut() const;
  bool Empty() const;
  // Owner thread: waits until an item arrives, the list is shut, or the timeout passes.
  void WaitFor(std::chrono::milliseconds timeout) const;

 private:
  struct TMessageItem {
    int code;
    TRef<TRefObject> data;
    bool* done;  // the sender's completion flag; null for posts
  };

  THandler handler_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;  // owner waits for items
  std::condition_variable handled_;          // senders wait for their item
  std::deque<TMessageItem> items_;
  bool shut_ = false;
};

}  // namespace lum
