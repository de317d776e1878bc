#include "imaging/picture_budget.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace lum {

namespace {

int64_t LimitFromEnvironment() {
  constexpr int64_t kMaxMB = int64_t(1) << 30;  // a petabyte: "no limit" without overflow
  int64_t mb = kDefaultPictureBudgetMB;
  if (const char* v = std::getenv("LUM_PICTURE_BUDGET_MB")) {
    int64_t parsed = 0;
    const char* end = v + std::strlen(v);
    auto r = std::from_chars(v, end, parsed);
    if (r.ec == std::errc() && r.ptr == end && parsed >= 1) mb = std::min(parsed, kMaxMB);
  }
  return mb << 20;
}

}  // namespace

TPictureBudget& TPictureBudget::Process() {
  // Never destroyed: bitmaps released by static destructors still find it.
  static TPictureBudget* budget = new TPictureBudget(LimitFromEnvironment());
  return *budget;
}

void TPictureBudget::SetLimit(int64_t bytes) {
  limit_.store(std::max<int64_t>(bytes, 1), std::memory_order_relaxed);
}

void TPictureBudget::Charge(int64_t bytes) {
  const int64_t now = used_.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  int64_t peak = peak_.load(std::memory_order_relaxed);
  while (now > peak && !peak_.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

bool TPictureBudget::Fits(int64_t bytes) const {
  return bytes >= 0 && bytes <= Limit() - Used();
}

int64_t Megabytes(int64_t bytes) {
  return (bytes + (int64_t(1) << 20) - 1) >> 20;
}

}  // namespace lum
