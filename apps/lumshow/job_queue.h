#pragma once
// One worker thread running jobs in order, with a bounded backlog: the
// export draws the next frame while the last one is encoded. The first
// failure of a job is rethrown to the caller at its next Push or at Drain;
// later jobs are skipped.
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace lum::lumshow {

class TJobQueue {
 public:
  explicit TJobQueue(size_t backlog);
  // Drops what is still queued and ends the thread.
  ~TJobQueue();
  TJobQueue(const TJobQueue&) = delete;
  TJobQueue& operator=(const TJobQueue&) = delete;

  // Queues a job, waiting while the backlog is full.
  void Push(std::function<void()> job);
  // Waits until every queued job has run.
  void Drain();

 private:
  void Run();
  void RethrowFailure();

  const size_t backlog_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false, stop_ = false;
  std::exception_ptr failure_;
  std::thread worker_;
};

}  // namespace lum::lumshow
