#include "job_queue.h"

namespace lum::lumshow {

TJobQueue::TJobQueue(size_t backlog) : backlog_(backlog == 0 ? 1 : backlog) {
  worker_ = std::thread([this] { Run(); });
}

TJobQueue::~TJobQueue() {
  {
    std::lock_guard g(lock_);
    stop_ = true;
    jobs_.clear();
  }
  changed_.notify_all();
  worker_.join();
}

void TJobQueue::RethrowFailure() {
  if (failure_) std::rethrow_exception(failure_);
}

void TJobQueue::Push(std::function<void()> job) {
  std::unique_lock l(lock_);
  changed_.wait(l, [&] { return jobs_.size() < backlog_ || failure_; });
  RethrowFailure();
  jobs_.push_back(std::move(job));
  changed_.notify_all();
}

void TJobQueue::Drain() {
  std::unique_lock l(lock_);
  changed_.wait(l, [&] { return (jobs_.empty() && !busy_) || failure_; });
  RethrowFailure();
}

void TJobQueue::Run() {
  std::unique_lock l(lock_);
  for (;;) {
    changed_.wait(l, [&] { return stop_ || !jobs_.empty(); });
    if (stop_) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    l.unlock();
    std::exception_ptr failed;
    try {
      if (!failure_) job();
    } catch (...) {
      failed = std::current_exception();
    }
    l.lock();
    busy_ = false;
    if (failed && !failure_) failure_ = failed;
    if (failure_) jobs_.clear();
    changed_.notify_all();
  }
}

}  // namespace lum::lumshow
