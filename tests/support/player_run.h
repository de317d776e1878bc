#pragma once
// Runs the lumviewer built beside the tests (LUMVIEWER_PATH) as a child
// process and drives it through its control socket. A player that stops
// answering fails the test instead of hanging it, and no player outlives its
// TPlayer.
#include <sys/types.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "startup/control_client.h"

namespace lum::test {

// A connection to a control socket: one JSON line out, one line in.
using TControlClient = lum::TControlClient;

class TPlayer {
 public:
  // Nothing runs until Start.
  TPlayer(std::string folder, std::string show, std::vector<std::string> args = {},
          std::vector<std::string> env = {});
  ~TPlayer();
  TPlayer(const TPlayer&) = delete;
  TPlayer& operator=(const TPlayer&) = delete;

  // Runs program (a self-playing show) instead of lumviewer; an empty show is
  // then left off the command line.
  void SetProgram(std::string program) { program_ = std::move(program); }

  // Starts lumviewer SHOW -control SOCKET -log ARGS... with env (NAME=VALUE)
  // added to the test's environment, stderr to a file in the folder; waits
  // until the socket answers. The error text says why it did not.
  bool Start(std::string* error, int timeoutMs = 15000);

  // One request and its reply; throws std::runtime_error (with the end of
  // the player's log) when the reply does not come within timeoutMs.
  nlohmann::json Request(const nlohmann::json& request, int timeoutMs = 10000);
  nlohmann::json Status() { return Request({{"command", "status"}}); }
  // Polls the status until done accepts it; the last status seen, and in
  // *met whether done accepted it before timeoutMs ran out.
  nlohmann::json WaitFor(const std::function<bool(const nlohmann::json&)>& done, int timeoutMs,
                         bool* met);
  // As WaitFor, but a status done never accepts fails the running test,
  // naming what was awaited, the last status and the end of the log.
  nlohmann::json Expect(const std::function<bool(const nlohmann::json&)>& done,
                        const std::string& what = {}, int timeoutMs = 20000);
  // The dialog the player shows, once there is one.
  nlohmann::json Dialog(int timeoutMs = 20000);

  // Sends quit and waits up to 5 s for the process; SIGKILL after that.
  // The exit status, or -1 when it had to be killed, did not exit normally or
  // never ran.
  int Stop();

  pid_t Pid() const { return pid_; }
  bool Running();
  const std::string& SocketPath() const { return socket_; }
  // Everything the player wrote to stderr so far, and its last lines.
  std::string Log() const;
  std::string LogTail(size_t lines = 40) const;
  // User plus system CPU time of the process so far, in seconds.
  double CpuSeconds() const;

 private:
  std::string program_ = LUMVIEWER_PATH;
  std::string folder_, show_, socket_, logPath_;
  std::vector<std::string> args_, env_;
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  TControlClient client_;
};

// Seconds of CPU (user + system, all threads) process pid used so far, from
// /proc/PID/stat; negative when it cannot be read.
double ProcessCpuSeconds(pid_t pid);

}  // namespace lum::test
