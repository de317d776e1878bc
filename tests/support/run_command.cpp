#include "support/run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace lum::test {

TCommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input) {
  int out[2], err[2], in[2];
  if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC) || pipe2(in, O_CLOEXEC))
    throw std::runtime_error("pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  close(err[1]);
  close(in[0]);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  if (!input.empty()) {
    ssize_t w = write(in[1], input.data(), input.size());
    (void)w;
  }
  close(in[1]);
  TCommandResult r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? r.out : r.err).append(buf, size_t(n));
      }
    }
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.peakRssKb = usage.ru_maxrss;
  r.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return r;
}

}  // namespace lum::test
