#pragma once
// SIGTERM, SIGINT and SIGHUP end the player cleanly: the window thread is
// asked to quit, as the window's close button does without the run-on-exit
// rule. A thread stuck in work (a long slide load, a blocked call) must not
// keep the process alive: when it has not ended graceMs after the signal, or
// a second signal comes, it ends at once with status 0.
namespace lum {

// Installs the handlers (once per process); call before the window thread
// starts so that no library installs its own.
void QuitOnSignals(int graceMs = 3000);

}  // namespace lum
