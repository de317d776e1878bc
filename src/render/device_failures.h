#pragma once
// Failures the drawing driver reported of our use of it (errors and
// high-severity messages): counted for the control socket, handed to one
// handler (tests fail the running test there).
#include <cstdint>
#include <functional>
#include <string>

namespace lum {

// Counts one failure, keeps the first text and calls the handler on the
// thread of the failing call.
void ReportDeviceFailure(const std::string& text);

// Failures seen so far in this process (the control socket's "glErrors").
int64_t DeviceFailureCount();
// The first failure's text ("" when none).
std::string FirstDeviceFailure();
// Sets the count back: for a test that provoked failures on purpose.
void ResetDeviceFailures(int64_t count = 0);

// Returns the handler it replaces.
using TDeviceFailureHandler = std::function<void(const std::string&)>;
TDeviceFailureHandler SetDeviceFailureHandler(TDeviceFailureHandler handler);

}  // namespace lum
