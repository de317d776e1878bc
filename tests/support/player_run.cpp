#include "support/player_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace lum::test {

namespace {

using Clock = std::chrono::steady_clock;

// The test's environment with the given NAME=VALUE entries added or replaced.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> out;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.substr(0, x.find('=')) == name;
    if (!replaced) out.push_back(entry);
  }
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

// The player logs each OpenGL error (and high-severity message) its driver
// reported; any of them fails the test that ran it.
void FailOnGLErrors(const std::string& log) {
  const size_t at = log.find("OpenGL error: ");
  if (at == std::string::npos) return;
  const size_t end = log.find('\n', at);
  ADD_FAILURE() << "the player reported "
                << log.substr(at, end == std::string::npos ? end : end - at);
}

}  // namespace

// ---- TControlClient

// ---- TPlayer

TPlayer::TPlayer(std::string folder, std::string show, std::vector<std::string> args,
                 std::vector<std::string> env)
    : folder_(std::move(folder)),
      show_(std::move(show)),
      socket_(folder_ + "/control.sock"),
      logPath_(folder_ + "/lumviewer.log"),
      args_(std::move(args)),
      env_(std::move(env)) {}

TPlayer::~TPlayer() {
  Stop();
}

bool TPlayer::Start(std::string* error, int timeoutMs) {
  std::vector<std::string> argv = {program_, show_, "-control", socket_, "-log"};
  if (show_.empty()) argv.erase(argv.begin() + 1);
  argv.insert(argv.end(), args_.begin(), args_.end());
  const std::vector<std::string> env = MergedEnvironment(env_);
  std::vector<char*> av, ev;
  for (const std::string& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) ev.push_back(const_cast<char*>(e.c_str()));
  av.push_back(nullptr);
  ev.push_back(nullptr);
  const int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (log < 0 || null < 0) {
    if (log >= 0) close(log);
    if (null >= 0) close(null);
    *error = "cannot open the log file " + logPath_;
    return false;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec. The player dies with
    // the test process, so a crashed test leaves nothing running.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(null, 0);
    dup2(null, 1);
    dup2(log, 2);
    execve(av[0], av.data(), ev.data());
    _exit(127);
  }
  close(log);
  close(null);
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  pid_ = pid;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (!Running()) {
      *error = "lumviewer exited (status " + std::to_string(exitStatus_) +
               ") before its socket answered:\n" + LogTail();
      return false;
    }
    if (client_.Connect(socket_)) {
      try {
        nlohmann::json s = Status();
        if (s.value("ok", false)) return true;
      } catch (const std::exception&) {
        // Not ready yet.
      }
      client_.Close();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  *error = "lumviewer did not answer on " + socket_ + " within " + std::to_string(timeoutMs) +
           " ms:\n" + LogTail();
  return false;
}

nlohmann::json TPlayer::Request(const nlohmann::json& request, int timeoutMs) {
  if (!client_.Connected() && !client_.Connect(socket_))
    throw std::runtime_error("cannot connect to " + socket_ + "\n" + LogTail());
  try {
    if (!client_.Send(request.dump() + "\n")) throw std::runtime_error("the player is gone");
    return nlohmann::json::parse(client_.ReadLine(timeoutMs));
  } catch (const std::exception& e) {
    client_.Close();
    throw std::runtime_error(request.dump() + ": " + e.what() + "\nlumviewer's log:\n" + LogTail());
  }
}

nlohmann::json TPlayer::WaitFor(const std::function<bool(const nlohmann::json&)>& done,
                                int timeoutMs, bool* met) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  nlohmann::json s;
  for (;;) {
    s = Status();
    if (done(s)) {
      *met = true;
      return s;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *met = false;
  return s;
}

nlohmann::json TPlayer::Expect(const std::function<bool(const nlohmann::json&)>& done,
                               const std::string& what, int timeoutMs) {
  bool met = false;
  nlohmann::json s = WaitFor(done, timeoutMs, &met);
  EXPECT_TRUE(met) << what << (what.empty() ? "" : ": ") << s.dump() << "\n" << LogTail();
  return s;
}

nlohmann::json TPlayer::Dialog(int timeoutMs) {
  return Expect([](const nlohmann::json& s) { return !s["dialog"].is_null(); }, "a dialog",
                timeoutMs)["dialog"];
}

bool TPlayer::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  if (r == pid_) exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  FailOnGLErrors(Log());
  return false;
}

int TPlayer::Stop() {
  if (pid_ <= 0) return exitStatus_;
  try {
    if (client_.Connected() || client_.Connect(socket_))
      client_.Send(nlohmann::json{{"command", "quit"}}.dump() + "\n");
  } catch (...) {
    // Killed below if it does not go.
  }
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) break;
    if (Clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      client_.Close();
      FailOnGLErrors(Log());
      return exitStatus_ = -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  client_.Close();
  FailOnGLErrors(Log());
  return exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TPlayer::Log() const {
  std::ifstream f(logPath_, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string TPlayer::LogTail(size_t lines) const {
  const std::string all = Log();
  size_t pos = all.size();
  for (size_t n = 0; n <= lines; ++n) {
    if (pos == 0) return all;
    pos = all.rfind('\n', pos - 1);
    if (pos == std::string::npos) return all;
  }
  return all.substr(pos + 1);
}

double TPlayer::CpuSeconds() const {
  return ProcessCpuSeconds(pid_);
}

double ProcessCpuSeconds(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(f, stat);
  // The command name may hold spaces and parentheses: fields follow the last ')'.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // Fields 3..13, then utime (14) and stime (15).
  for (int i = 3; i <= 13 && rest >> field; ++i) {
  }
  if (!(rest >> utime >> stime)) return -1;
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace lum::test
