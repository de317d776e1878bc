#pragma once
// Memory of decoded pictures, counted process-wide: every bitmap's pixels and
// the working buffers of decoders. Decoders check a picture against what is
// left before they take its memory, and decode it smaller (or refuse it)
// when it does not fit.
#include <atomic>
#include <cstdint>

namespace lum {

// The limit when LUM_PICTURE_BUDGET_MB does not set another: the player and
// its textures fit beside it in 1.5 GB.
inline constexpr int64_t kDefaultPictureBudgetMB = 1024;

class TPictureBudget {
 public:
  // The process's budget; its limit comes from LUM_PICTURE_BUDGET_MB (whole
  // megabytes, at least 1) when set, else kDefaultPictureBudgetMB.
  static TPictureBudget& Process();

  explicit TPictureBudget(int64_t limitBytes) : limit_(limitBytes) {}

  int64_t Limit() const { return limit_.load(std::memory_order_relaxed); }
  // Tests and fuzzers lower it; at least 1 byte.
  void SetLimit(int64_t bytes);
  // Bytes charged and not yet released.
  int64_t Used() const { return used_.load(std::memory_order_relaxed); }
  // The most Used() has been since the last ResetPeak (tests, benchmarks).
  int64_t Peak() const { return peak_.load(std::memory_order_relaxed); }
  void ResetPeak() { peak_.store(Used(), std::memory_order_relaxed); }
  // True when bytes more stay within the limit (negative counts as too many).
  bool Fits(int64_t bytes) const;
  // Counts memory taken or given back; never refuses (callers ask Fits first).
  void Charge(int64_t bytes);
  void Release(int64_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> limit_;
  std::atomic<int64_t> used_{0}, peak_{0};
};

// Charges a decoder's working memory to the process's budget for as long as
// it lives.
class TPictureCharge {
 public:
  explicit TPictureCharge(int64_t bytes) : bytes_(bytes) {
    TPictureBudget::Process().Charge(bytes_);
  }
  ~TPictureCharge() { TPictureBudget::Process().Release(bytes_); }
  TPictureCharge(const TPictureCharge&) = delete;
  TPictureCharge& operator=(const TPictureCharge&) = delete;

 private:
  int64_t bytes_;
};

// Whole megabytes for log lines (rounded up).
int64_t Megabytes(int64_t bytes);

}  // namespace lum
