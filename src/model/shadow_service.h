#pragma once
// Shadow pictures made off the engine thread. Objects ask for a shadow by
// its description every layout and draw without it until it is ready, so a
// frame never waits for a blur. Pictures are shared by description; what the
// service keeps is bounded in bytes and in waiting requests.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "imaging/image.h"
#include "model/shadow.h"

namespace lum {

class TShadowService {
 public:
  enum class TState { Ready, Pending, Failed };

  // maxBytes: pictures kept for later askers (the least recently asked for
  // go first); maxQueued: requests waiting at once (more are refused and
  // asked again later).
  explicit TShadowService(size_t maxBytes = size_t(64) << 20, size_t maxQueued = 64);
  // Stops the worker; a shadow being made is abandoned.
  ~TShadowService();
  TShadowService(const TShadowService&) = delete;
  TShadowService& operator=(const TShadowService&) = delete;

  // The shadow named by a description (ShadowDescription(params)): Ready
  // with the picture, Pending while it waits or is made (the first ask
  // queues it, made from source; null for shapes), Failed when it cannot be
  // made. Never blocks on a shadow being made.
  TState Request(const std::string& name, const TShadowParams& params,
                 const TRef<const TImage>& source, TRef<TImage>& picture);
  // Drops a request that waits and has not started (its asker moved on).
  void Withdraw(const std::string& name);
  // Blocks until nothing waits or is being made.
  void WaitIdle();

  // Bytes of the pictures kept, and requests waiting or being made.
  size_t Bytes() const;
  size_t Busy() const;

 private:
  struct TJob {
    std::string name;
    TShadowParams params;
    TRef<const TImage> source;
  };
  struct TEntry {
    TRef<TImage> picture;  // null: failed
    size_t bytes = 0;
    uint64_t used = 0;
  };

  void Run();
  void Store(const std::string& name, TRef<TImage> picture);
  void Evict();

  const size_t maxBytes_, maxQueued_;
  mutable std::mutex lock_;
  std::condition_variable wake_, idle_;
  std::deque<TJob> queue_;
  std::unordered_map<std::string, TEntry> done_;
  std::unordered_set<std::string> pending_;  // queued or being made
  size_t bytes_ = 0;
  size_t working_ = 0;
  uint64_t clock_ = 0;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace lum
