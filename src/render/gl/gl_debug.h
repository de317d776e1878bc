#pragma once
// The driver's own reports of our GL use. With LUM_GL_DEBUG=1 (tests, bug
// reports) contexts are made with the debug flag and every message the
// driver sends is logged with its source, type and severity. Errors and
// high-severity messages are failures: each is logged, counted and handed to
// the failure handler (tests fail the running test there); a process that
// saw any ends with status 1 and says so on stderr.
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
// polled where no callback runs): log line, then the device failure count and
// handler (render/device_failures.h).
void ReportGLFailure(const std::string& text);

}  // namespace lum
