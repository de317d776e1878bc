// A signal ends the player even when nothing answers the quit request: after
// the grace time, or at once on a second signal, with status 0.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace lum {
namespace {

using Clock = std::chrono::steady_clock;

struct TEnd {
  int status = -1;  // exit status; -1 when killed or still running after 10 s
  double seconds = 0;
};

// Starts the helper with the grace time, signals it (twice when asked) once
// it is ready, and waits for its end.
TEnd SignalStuckProcess(int sig, bool twice) {
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    execl(QUIT_HELPER_PATH, QUIT_HELPER_PATH, "2000", nullptr);
    _exit(127);
  }
  close(out[1]);
  char ready[6] = {};
  EXPECT_EQ(read(out[0], ready, 6), 6);
  close(out[0]);
  const auto start = Clock::now();
  kill(pid, sig);
  if (twice) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(pid, sig);
  }
  TEnd end;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() - start > std::chrono::seconds(10)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return end;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  end.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return end;
}

TEST(QuitOnSignals, AStuckPlayerEndsAfterTheGraceTimeOrASecondSignal) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    TEnd once = SignalStuckProcess(sig, false);
    EXPECT_EQ(once.status, 0) << sig;
    EXPECT_GE(once.seconds, 1.9) << sig;
    EXPECT_LT(once.seconds, 6.0) << sig;
  }
  TEnd twice = SignalStuckProcess(SIGTERM, true);
  EXPECT_EQ(twice.status, 0);
  EXPECT_LT(twice.seconds, 1.5);
}

}  // namespace
}  // namespace lum
