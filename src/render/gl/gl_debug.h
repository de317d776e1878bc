#pragma once
// The driver's own reports of our GL use. With LUM_GL_DEBUG=1 (tests, bug
// reports) contexts are made with the debug flag and every message the
// driver sends is logged with its source, type and severity. Errors and
// high-severity messages are failures: each is logged, counted and handed to
// the failure handler (tests fail the running test there); a process that
// saw any ends with status 1 and says so on stderr.
#include <cstdint>
#include <functional>
#include <string>

namespace lum {

// Whether contexts are made for debugging: LUM_GL_DEBUG=1 unless a program
// or test set it.
bool GLDebugRequested();
void SetGLDebugRequested(bool on);

// In the current context (a debug one offering KHR_debug): delivers every
// message synchronously to our callback. False where no callback could be
// installed; the caller then polls glGetError.
bool InstallGLDebugCallback();

// One failure (a driver message of type error or high severity, or an error
// polled where no callback runs): log line, counter, handler.
void ReportGLFailure(const std::string& text);

// Failures seen so far in this process (the control socket's "glErrors").
int64_t GLFailureCount();
// Sets the count back: for a test that provoked failures on purpose.
void ResetGLFailures(int64_t count = 0);

// Receives the text of every failure on the thread of the failing call.
// Returns the handler it replaces.
using TGLFailureHandler = std::function<void(const std::string&)>;
TGLFailureHandler SetGLFailureHandler(TGLFailureHandler handler);

}  // namespace lum
