#include "support/session_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "support/environment.h"

extern char** environ;

namespace lum::test {

namespace {

using Clock = std::chrono::steady_clock;

// Starts argv with its stdout on a pipe; the child dies with the test.
pid_t StartPiped(const std::vector<std::string>& argv, int& readFd) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return -1;
  std::vector<char*> av;
  for (const std::string& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(p[1], 1);
    execve(av[0], av.data(), environ);
    _exit(127);
  }
  close(p[1]);
  if (pid < 0) {
    close(p[0]);
    return -1;
  }
  readFd = p[0];
  return pid;
}

void KillAndReap(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace

TSessionBus::TSessionBus() {
  const std::string daemon = FindProgram("dbus-daemon");
  if (daemon.empty()) {
    error_ = "dbus-daemon is not installed";
    return;
  }
  int fd = -1;
  pid_ = StartPiped({daemon, "--session", "--nofork", "--nopidfile", "--print-address=1"}, fd);
  if (pid_ < 0) {
    error_ = "cannot start dbus-daemon";
    return;
  }
  // The first line is the address clients connect to.
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline && line.find('\n') == std::string::npos) {
    pollfd f{fd, POLLIN, 0};
    if (poll(&f, 1, 100) <= 0) continue;
    char buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, size_t(n));
  }
  close(fd);
  if (line.find('\n') == std::string::npos) {
    error_ = "dbus-daemon printed no address";
    KillAndReap(pid_);
    return;
  }
  address_ = line.substr(0, line.find('\n'));
}

TSessionBus::~TSessionBus() {
  Kill();
}

void TSessionBus::Kill() {
  KillAndReap(pid_);
}

TLineReader::TLineReader(const std::vector<std::string>& argv) {
  pid_ = StartPiped(argv, fd_);
}

TLineReader::~TLineReader() {
  KillAndReap(pid_);
  if (fd_ >= 0) close(fd_);
}

bool TLineReader::WaitFor(const std::function<bool(const std::string&)>& done, int timeoutMs) {
  for (const std::string& l : lines_)
    if (done(l)) return true;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (fd_ >= 0 && Clock::now() < deadline) {
    pollfd f{fd_, POLLIN, 0};
    if (poll(&f, 1, 50) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      close(fd_);
      fd_ = -1;
      break;
    }
    partial_.append(buf, size_t(n));
    for (size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
      lines_.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
      if (done(lines_.back())) return true;
    }
  }
  return false;
}

}  // namespace lum::test
