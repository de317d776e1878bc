// The player's signal handling in a process whose main thread never returns
// to an event loop, as when a thread is stuck: only the watchdog can end it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "startup/quit_on_signal.h"

int main(int argc, char** argv) {
  lum::QuitOnSignals(argc > 1 ? std::atoi(argv[1]) : 3000);
  std::puts("ready");
  std::fflush(stdout);
  for (;;) pause();
}
