#include "startup/quit_on_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "foundation/log.h"
#include "toolkit/window.h"

namespace lum {

namespace {

int gPipe[2] = {-1, -1};

// Only async-signal-safe work here: the watcher thread does the rest.
void OnSignal(int sig) {
  const int saved = errno;
  const char c = char(sig);
  [[maybe_unused]] ssize_t n = write(gPipe[1], &c, 1);
  errno = saved;
}

char NextSignal(int timeoutMs) {
  pollfd p{gPipe[0], POLLIN, 0};
  for (;;) {
    const int r = poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    char c = 0;
    if (r > 0 && read(gPipe[0], &c, 1) == 1) return c;
    return 0;
  }
}

void Watch(int graceMs) {
  const char sig = NextSignal(-1);
  Log().Line("Signal " + std::to_string(int(sig)) + ": quitting");
  TWindowThread::Quit();
  // Ends the process when the clean way does not come in time.
  NextSignal(graceMs);
  Log().Line("Quit did not finish in time: ending now");
  _exit(0);
}

}  // namespace

void QuitOnSignals(int graceMs) {
  if (gPipe[0] >= 0) return;
  if (pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  // The reading end waits in poll, so only writing must never block.
  fcntl(gPipe[0], F_SETFL, fcntl(gPipe[0], F_GETFL) & ~O_NONBLOCK);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
  std::thread(Watch, graceMs).detach();
}

}  // namespace lum
