#include "startup/control_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "foundation/errors.h"

namespace lum {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return int(std::max<int64_t>(0, left.count()));
}

}  // namespace

TControlClient::~TControlClient() {
  Close();
}

TControlClient::TControlClient(TControlClient&& o) noexcept : fd_(o.fd_), in_(std::move(o.in_)) {
  o.fd_ = -1;
}

TControlClient& TControlClient::operator=(TControlClient&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    in_ = std::move(o.in_);
    o.fd_ = -1;
  }
  return *this;
}

bool TControlClient::Connect(const std::string& path) {
  Close();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    Close();
    return false;
  }
  return true;
}

void TControlClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  in_.clear();
}

bool TControlClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

std::string TControlClient::ReadLine(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t end = in_.find('\n');
    if (end != std::string::npos) {
      std::string line = in_.substr(0, end);
      in_.erase(0, end + 1);
      return line;
    }
    pollfd p{fd_, POLLIN, 0};
    const int left = MsLeft(deadline);
    const int r = poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) throw ELumError("no reply within " + std::to_string(timeoutMs) + " ms");
    char buf[8192];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ELumError("the player closed the connection");
    in_.append(buf, size_t(n));
  }
}

bool TControlClient::ClosedByPeer(int timeoutMs) {
  if (!in_.empty()) return false;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  char c;
  const ssize_t n = recv(fd_, &c, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

}  // namespace lum
