#include "render/device_failures.h"

#include <atomic>
#include <mutex>

namespace lum {

namespace {

struct TFailureState {
  std::mutex mutex;
  TDeviceFailureHandler handler;
  std::string first;
};

TFailureState& State() {
  static TFailureState s;
  return s;
}

std::atomic<int64_t> gFailures{0};

}  // namespace

void ReportDeviceFailure(const std::string& text) {
  ++gFailures;
  TDeviceFailureHandler handler;
  {
    std::lock_guard lock(State().mutex);
    if (State().first.empty()) State().first = text;
    handler = State().handler;
  }
  if (handler) handler(text);
}

int64_t DeviceFailureCount() {
  return gFailures.load();
}

std::string FirstDeviceFailure() {
  std::lock_guard lock(State().mutex);
  return State().first;
}

void ResetDeviceFailures(int64_t count) {
  gFailures = count;
  std::lock_guard lock(State().mutex);
  if (count == 0) State().first.clear();
}

TDeviceFailureHandler SetDeviceFailureHandler(TDeviceFailureHandler handler) {
  std::lock_guard lock(State().mutex);
  std::swap(State().handler, handler);
  return handler;
}

}  // namespace lum
