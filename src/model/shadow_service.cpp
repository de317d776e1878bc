#include "model/shadow_service.h"

#include <algorithm>

#include "model/special_pictures.h"

namespace lum {

namespace {

// Failed descriptions cost no bytes; their number is bounded too.
constexpr size_t kMaxEntries = 4096;

}  // namespace

TShadowService::TShadowService(size_t maxBytes, size_t maxQueued)
    : maxBytes_(maxBytes), maxQueued_(std::max<size_t>(1, maxQueued)) {}

TShadowService::~TShadowService() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

TShadowService::TState TShadowService::Request(const std::string& name, const TShadowParams& params,
                                               const TRef<const TImage>& source,
                                               TRef<TImage>& picture) {
  std::lock_guard<std::mutex> guard(lock_);
  if (auto it = done_.find(name); it != done_.end()) {
    it->second.used = ++clock_;
    picture = it->second.picture;
    return picture ? TState::Ready : TState::Failed;
  }
  if (pending_.contains(name)) return TState::Pending;
  // A full queue refuses: the object asks again at its next layout.
  if (queue_.size() >= maxQueued_ || stop_) return TState::Pending;
  queue_.push_back({name, params, source});
  pending_.insert(name);
  if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
  wake_.notify_one();
  return TState::Pending;
}

void TShadowService::Withdraw(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it =
      std::find_if(queue_.begin(), queue_.end(), [&](const TJob& j) { return j.name == name; });
  if (it == queue_.end()) return;
  queue_.erase(it);
  pending_.erase(name);
  if (pending_.empty()) idle_.notify_all();
}

void TShadowService::WaitIdle() {
  std::unique_lock<std::mutex> guard(lock_);
  idle_.wait(guard, [this] { return pending_.empty() || stop_; });
}

size_t TShadowService::Bytes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return bytes_;
}

size_t TShadowService::Busy() const {
  std::lock_guard<std::mutex> guard(lock_);
  return pending_.size();
}

void TShadowService::Run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return stop_ || !queue_.empty(); });
    if (stop_) break;
    TJob job = std::move(queue_.front());
    queue_.pop_front();
    guard.unlock();
    TRef<TImage> picture;
    if (TRef<TBitmap> made =
            GenerateShadow(job.params, job.source.Get(), [this] { return stop_.load(); }))
      picture = MakeRef<TImage>(MakeRef<TGeneratedBitmapStore>(made, job.name));
    job.source = nullptr;
    guard.lock();
    if (stop_) break;
    Store(job.name, std::move(picture));
    pending_.erase(job.name);
    if (pending_.empty()) idle_.notify_all();
  }
  idle_.notify_all();
}

void TShadowService::Store(const std::string& name, TRef<TImage> picture) {
  TEntry e;
  e.bytes = picture ? size_t(picture->Width()) * size_t(picture->Height()) * 4 : 0;
  e.picture = std::move(picture);
  e.used = ++clock_;
  bytes_ += e.bytes;
  done_[name] = std::move(e);
  Evict();
}

void TShadowService::Evict() {
  // Linear in the entries, which the bounds keep few; the newest stays.
  while ((bytes_ > maxBytes_ || done_.size() > kMaxEntries) && done_.size() > 1) {
    auto oldest = std::min_element(done_.begin(), done_.end(), [](const auto& a, const auto& b) {
      return a.second.used < b.second.used;
    });
    bytes_ -= oldest->second.bytes;
    done_.erase(oldest);
  }
}

}  // namespace lum
