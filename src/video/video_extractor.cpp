#include "video/video_extractor.h"

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "foundation/log.h"
#include "model/video_time.h"

namespace lum {

namespace {

constexpr size_t kMaxPool = 16;

int64_t Distance(int64_t a, int64_t b) {
  return a > b ? a - b : b - a;
}

// True when this thread may take its nice value back from `nice + 1` to
// `nice`: unprivileged threads may only go down to their RLIMIT_NICE.
bool MayStepBack(int nice) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) == 0 &&
      (limit.rlim_cur == RLIM_INFINITY || rlim_t(20 - nice) <= limit.rlim_cur))
    return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  return syscall(SYS_capget, &header, data) == 0 && (data[0].effective & (1u << CAP_SYS_NICE));
}

// One nice step below the thread's own until Restore: a video starting to
// decode must not slow the frames and sound already playing. Only taken
// where it can be given back, so a worker never stays below normal.
class TNiceStep {
 public:
  TNiceStep() {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, id_);
    if (errno != 0 || nice >= 19 || !MayStepBack(nice)) return;
    if (setpriority(PRIO_PROCESS, id_, nice + 1) == 0) saved_ = nice;
  }
  void Restore() {
    if (saved_ == kNone) return;
    if (setpriority(PRIO_PROCESS, id_, saved_) != 0)
      Log().Line("Video worker keeps nice " + std::to_string(saved_ + 1) + ": " +
                 std::strerror(errno));
    saved_ = kNone;
  }

 private:
  static constexpr int kNone = 100;
  const id_t id_ = id_t(syscall(SYS_gettid));  // the nice value is per thread
  int saved_ = kNone;
};

}  // namespace

TLumVideoExtractor::TLumVideoExtractor(TRef<TWinVideoSource> source, bool loop)
    : source_(std::move(source)), loop_(loop) {
  for (size_t i = 0; i < capacity_; ++i) pool_.push_back(std::make_unique<TVideoFrame>());
  worker_ = std::thread([this] { Run(); });
}

TLumVideoExtractor::~TLumVideoExtractor() {
  {
    std::lock_guard<std::mutex> l(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

int64_t TLumVideoExtractor::IndexAt(double ms) const {
  return FrameIndexAt(ms, source_->RateNum(), source_->RateDen(), source_->FrameCount(), loop_);
}

int64_t TLumVideoExtractor::NextIndex(int64_t n) const {
  const int64_t count = source_->FrameCount();
  if (n + 1 < count) return n + 1;
  return loop_ ? 0 : n;
}

int TLumVideoExtractor::FindEntry(int64_t n) const {
  for (size_t i = 0; i < pool_.size(); ++i)
    if (pool_[i]->index == n) return int(i);
  return -1;
}

int TLumVideoExtractor::NearestEntry(int64_t n) const {
  int best = -1;
  for (size_t i = 0; i < pool_.size(); ++i) {
    if (pool_[i]->index < 0) continue;
    if (best < 0 || Distance(pool_[i]->index, n) < Distance(pool_[size_t(best)]->index, n))
      best = int(i);
  }
  return best;
}

int TLumVideoExtractor::FarthestEntry(int64_t n) const {
  int worst = -1;
  for (size_t i = 0; i < pool_.size(); ++i) {
    if (pool_[i]->index < 0) return int(i);
    if (pool_[i]->index == prepared_) continue;
    if (worst < 0 || Distance(pool_[i]->index, n) > Distance(pool_[size_t(worst)]->index, n))
      worst = int(i);
  }
  // The prepared frame goes last.
  return worst >= 0 || pool_.empty() ? worst : 0;
}

int TLumVideoExtractor::StaleEntry() const {
  for (size_t i = 0; i < pool_.size(); ++i)
    if (pool_[i]->index < 0 || (pool_[i]->index < playing_ && pool_[i]->index != prepared_))
      return int(i);
  return -1;
}

int64_t TLumVideoExtractor::AheadTarget() const {
  if (playing_ < 0 || StaleEntry() < 0) return -1;
  int64_t n = playing_;
  for (int k = 0; k < kReadAhead; ++k) {
    const int64_t next = NextIndex(n);
    if (next == n || next == failed_) return -1;
    n = next;
    if (FindEntry(n) < 0) return n;
  }
  return -1;
}

std::unique_ptr<TVideoFrame> TLumVideoExtractor::Take(double ms, double displayRate, bool* exact) {
  const int64_t want = IndexAt(ms);
  std::unique_ptr<TVideoFrame> got;
  {
    std::lock_guard<std::mutex> l(lock_);
    playing_ = want;
    const int i = NearestEntry(want);
    if (i >= 0) {
      got = std::move(pool_[size_t(i)]);
      pool_.erase(pool_.begin() + i);
      ++outstanding_;
    }
    // Without the wanted frame, that one is decoded first; with it, the one
    // the next display refresh will want.
    int64_t next = want;
    if (got && got->index == want) {
      next = IndexAt(ms + 1000 / (displayRate > 0 ? displayRate : 60));
      if (next == want) next = NextIndex(want);
    }
    if (pool_.empty()) Grow();
    if (FindEntry(next) < 0 && next != failed_) wanted_ = next;
  }
  wake_.notify_all();
  if (exact) *exact = got && got->index == want;
  return got;
}

void TLumVideoExtractor::Give(std::unique_ptr<TVideoFrame> frame) {
  if (!frame) return;
  {
    std::lock_guard<std::mutex> l(lock_);
    if (outstanding_ > 0) --outstanding_;
    pool_.push_back(std::move(frame));
  }
  wake_.notify_all();
}

void TLumVideoExtractor::Grow() {
  // Callers holding every image would starve the worker: the pool doubles,
  // up to a bound.
  if (capacity_ >= kMaxPool) return;
  capacity_ = std::min(kMaxPool, capacity_ * 2);
  while (pool_.size() + outstanding_ < capacity_) pool_.push_back(std::make_unique<TVideoFrame>());
}

bool TLumVideoExtractor::Prepare(double ms, bool wait, int timeoutMs) {
  const int64_t want = IndexAt(ms);
  std::unique_lock<std::mutex> l(lock_);
  prepared_ = want;
  if (FindEntry(want) >= 0) return true;
  wanted_ = want;
  if (failed_ == want) failed_ = -1;
  wake_.notify_all();
  if (pool_.empty()) Grow();
  if (!wait || pool_.empty()) return false;
  done_.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] {
    return stop_ || FindEntry(want) >= 0 || failed_ == want || wanted_ != want;
  });
  return FindEntry(want) >= 0;
}

size_t TLumVideoExtractor::PoolSize() const {
  std::lock_guard<std::mutex> l(lock_);
  return pool_.size();
}

void TLumVideoExtractor::Run() {
  TNiceStep lowered;
  std::unique_lock<std::mutex> l(lock_);
  for (;;) {
    int64_t want = -1;
    // A frame asked for first, else one to read ahead.
    wake_.wait(l, [&] {
      if (stop_) return true;
      if (pool_.empty()) return false;
      want = wanted_ >= 0 ? wanted_ : AheadTarget();
      return want >= 0;
    });
    if (stop_) return;
    const bool asked = want == wanted_;
    if (FindEntry(want) >= 0) {
      wanted_ = -1;
      done_.notify_all();
      continue;
    }
    const int i = asked ? FarthestEntry(want) : StaleEntry();
    std::unique_ptr<TVideoFrame> image = std::move(pool_[size_t(i)]);
    pool_.erase(pool_.begin() + i);
    l.unlock();
    const bool ok = source_->GetFrame(want, *image);
    if (ok) lowered.Restore();
    l.lock();
    if (!ok) image->index = -2;
    pool_.push_back(std::move(image));
    if (!ok) failed_ = want;
    if (wanted_ == want) wanted_ = -1;
    done_.notify_all();
  }
}

namespace {

struct TExtractorTable {
  std::mutex lock;
  std::map<std::string, TRef<TLumVideoExtractor>> alive;
  // Entries only the table still holds belong to files no object shows.
  void DropUnused() {
    for (auto it = alive.begin(); it != alive.end();)
      it = it->second->RefCount() == 1 ? alive.erase(it) : std::next(it);
  }
};

TExtractorTable& Extractors() {
  static TExtractorTable table;
  return table;
}

}  // namespace

void ReleaseUnusedVideoExtractors() {
  TExtractorTable& t = Extractors();
  std::lock_guard<std::mutex> l(t.lock);
  t.DropUnused();
}

TRef<TLumVideoExtractor> SharedExtractor(const std::string& key,
                                         const std::function<TRef<TWinVideoSource>()>& open) {
  TExtractorTable& t = Extractors();
  std::lock_guard<std::mutex> l(t.lock);
  t.DropUnused();
  auto& alive = t.alive;
  auto found = alive.find(key);
  if (found != alive.end()) return found->second;
  TRef<TWinVideoSource> source = open();
  if (!source) return nullptr;
  auto made = MakeRef<TLumVideoExtractor>(std::move(source));
  alive[key] = made;
  return made;
}

void InstallVideoFrameSources() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetVideoSourceFactory([](const std::string& key, const std::string& fileName,
                             const TVideoStreamOpener& openStream) -> TRef<TVideoFrameSource> {
      // Without the library nothing is opened; its absence is logged once.
      TRef<TFFMpegDll> lib = TFFMpegDll::Acquire();
      if (!lib) return nullptr;
      return SharedExtractor(key, [&]() -> TRef<TWinVideoSource> {
        std::string why;
        TRef<TWinVideoSource> s = TWinVideoSource::Open(lib, fileName, openStream(), &why);
        if (!s) Log().Line("Video " + fileName + " not shown: " + why);
        return s;
      });
    });
  });
}

}  // namespace lum
