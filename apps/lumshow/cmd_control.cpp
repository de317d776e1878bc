// lumshow control SOCKET REQUEST...: sends JSON requests to a running player's
// control socket, one per argument, and prints each reply line.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "foundation/errors.h"

namespace lum::lumshow {

namespace {

constexpr int kReplyTimeoutMs = 30000;

class TSocket {
 public:
  explicit TSocket(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) throw TUsageError{"socket path too long: " + path};
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw ELumError(std::string("no socket: ") + std::strerror(errno));
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
      throw ELumError("no player listens on \"" + path + "\": " + std::strerror(errno));
  }
  ~TSocket() { close(fd_); }

  void Send(std::string line) {
    line += '\n';
    for (size_t done = 0; done < line.size();) {
      const ssize_t n = send(fd_, line.data() + done, line.size() - done, MSG_NOSIGNAL);
      if (n <= 0) throw ELumError("the player closed the connection");
      done += size_t(n);
    }
  }

  std::string ReadLine() {
    while (true) {
      if (size_t nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, kReplyTimeoutMs) <= 0) throw ELumError("the player did not answer");
      char chunk[4096];
      const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) throw ELumError("the player closed the connection");
      buffer_.append(chunk, size_t(n));
    }
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace

int Control(const TControlArgs& args) {
  TSocket socket(args.socket);
  int status = 0;
  for (const std::string& request : args.requests) {
    socket.Send(request);
    const std::string reply = socket.ReadLine();
    std::printf("%s\n", reply.c_str());
    if (reply.find("\"ok\":true") == std::string::npos) status = 1;
  }
  return status;
}

}  // namespace lum::lumshow
