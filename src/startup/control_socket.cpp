#include "startup/control_socket.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "foundation/errors.h"

namespace lum {

namespace {

// Unread input kept per client: one longest line and its line feed.
constexpr size_t kInputCap = kMaxControlLine + 1;
// Above this much unsent output a client's next request waits, so a client
// that pipelines without reading stalls instead of growing our buffers.
constexpr size_t kOutputHighWater = 64 * 1024;

[[noreturn]] void Fail(const std::string& message) {
  throw ELumError(message);
}

std::string ErrnoText(int err) {
  return std::strerror(err);
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

// ---- replies

struct TControlReply::TState {
  std::function<void(std::string)> deliver;
  std::atomic<bool> answered{false};

  ~TState() {
    if (answered.exchange(true)) return;
    try {
      deliver(ReplyError("request was not answered"));
    } catch (...) {
      // Destructors must not throw; the client is closed with the server anyway.
    }
  }
};

TControlReply::TControlReply(std::function<void(std::string line)> deliver)
    : state_(std::make_shared<TState>()) {
  state_->deliver = std::move(deliver);
}

void TControlReply::Ok(const nlohmann::json& fields) const {
  Send(ReplyOk(fields));
}

void TControlReply::Error(std::string_view text) const {
  Send(ReplyError(text));
}

bool TControlReply::Answered() const {
  return state_->answered.load();
}

void TControlReply::Send(std::string line) const {
  if (!state_->answered.exchange(true)) state_->deliver(std::move(line));
}

// ---- state shared by the server, its thread and the replies

struct TControlServer::TCore {
  std::mutex mutex;
  bool stopped = false;
  int wakeFd = -1;
  std::vector<std::pair<uint64_t, std::string>> answers;

  // Queues an answer for the I/O thread; dropped once the server stopped.
  void Post(uint64_t client, std::string line) {
    std::lock_guard lock(mutex);
    if (stopped) return;
    answers.emplace_back(client, std::move(line));
    Wake();
  }

  // Called with the mutex held, so wakeFd is still open.
  void Wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd, &one, sizeof one);
  }
};

// ---- the I/O thread

class TControlServer::TLoop {
 public:
  TLoop(int listenFd, std::shared_ptr<TCore> core, const TControlDispatcher& dispatcher)
      : listenFd_(listenFd), core_(std::move(core)), dispatcher_(dispatcher) {}

  void Run();

 private:
  struct TClient {
    int fd = -1;
    uint64_t id = 0;
    std::string in, out;
    bool busy = false;             // a request is with the dispatcher
    bool inputEnded = false;       // the client sends nothing more
    bool gone = false;             // nobody reads our output any more
    bool closeAfterFlush = false;  // a protocol error was answered
    bool dead = false;
  };

  void BuildPollSet();
  bool TakeAnswers();
  void Accept();
  void Serve(TClient& c, short revents);
  void Pump(TClient& c);
  void Handle(TClient& c, const std::string& line);
  bool ReadSome(TClient& c);
  void Append(TClient& c, std::string_view line);
  void Flush(TClient& c);
  void CloseAll();

  int listenFd_;
  std::shared_ptr<TCore> core_;
  const TControlDispatcher& dispatcher_;
  std::vector<TClient> clients_;
  std::vector<pollfd> fds_;
  uint64_t nextId_ = 1;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point acceptPausedUntil_{};
};

void TControlServer::TLoop::Run() {
  for (;;) {
    BuildPollSet();
    bool paused = std::chrono::steady_clock::now() < acceptPausedUntil_;
    if (paused) fds_[1].fd = -1;
    if (poll(fds_.data(), fds_.size(), paused ? 100 : -1) < 0 && errno != EINTR) continue;
    if (TakeAnswers()) break;
    size_t polled = fds_.size() - 2;
    for (size_t i = 0; i < polled; ++i) Serve(clients_[i], fds_[i + 2].revents);
    for (TClient& c : clients_) {
      if (c.dead) CloseFd(c.fd);
    }
    std::erase_if(clients_, [](const TClient& c) { return c.dead; });
    if (fds_[1].revents & POLLIN) Accept();
  }
  CloseAll();
}

void TControlServer::TLoop::BuildPollSet() {
  fds_.clear();
  fds_.push_back({core_->wakeFd, POLLIN, 0});
  fds_.push_back({listenFd_, POLLIN, 0});
  for (const TClient& c : clients_) {
    short events = 0;
    if (!c.inputEnded && !c.closeAfterFlush && c.in.size() < kInputCap) events |= POLLIN;
    if (!c.out.empty()) events |= POLLOUT;
    // A vanished peer keeps reporting POLLHUP; leave it out while its request runs.
    fds_.push_back({c.gone ? -1 : c.fd, events, 0});
  }
}

// Hands queued answers to their clients; true once the server is stopping.
bool TControlServer::TLoop::TakeAnswers() {
  uint64_t count;
  [[maybe_unused]] ssize_t n = read(core_->wakeFd, &count, sizeof count);
  std::vector<std::pair<uint64_t, std::string>> answers;
  {
    std::lock_guard lock(core_->mutex);
    answers.swap(core_->answers);
    stopping_ = core_->stopped;
  }
  for (auto& [id, line] : answers) {
    for (TClient& c : clients_) {
      if (c.id != id || c.dead) continue;
      c.busy = false;
      Append(c, line);
      Pump(c);
    }
  }
  return stopping_;
}

void TControlServer::TLoop::Accept() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Out of descriptors or memory: the socket stays readable, so wait a little.
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        acceptPausedUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      }
      return;
    }
    if (clients_.size() >= kMaxClients) {
      std::string line = ReplyError("too many clients");
      [[maybe_unused]] ssize_t n = send(fd, line.data(), line.size(), MSG_NOSIGNAL);
      close(fd);
      continue;
    }
    TClient c;
    c.fd = fd;
    c.id = nextId_++;
    clients_.push_back(std::move(c));
  }
}

void TControlServer::TLoop::Serve(TClient& c, short revents) {
  if (c.dead) return;
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    c.gone = true;
    c.out.clear();
  }
  if (revents & POLLOUT) Flush(c);
  if (revents & POLLIN) ReadSome(c);
  Pump(c);
}

// Runs the client's complete lines while nothing of it is in flight, then
// decides whether the connection is finished.
void TControlServer::TLoop::Pump(TClient& c) {
  while (!c.dead && !c.busy && !c.closeAfterFlush && !stopping_ &&
         c.out.size() < kOutputHighWater) {
    size_t end = c.in.find('\n');
    if (end == std::string::npos) {
      if (c.in.size() > kMaxControlLine) {
        c.in.clear();
        c.closeAfterFlush = true;
        Append(c, ReplyError("request line too long"));
        break;
      }
      // A vanished peer is no longer polled: read what it left behind here.
      if (c.gone && !c.inputEnded && ReadSome(c)) continue;
      if (!c.inputEnded || c.in.empty()) break;
      end = c.in.size();  // the last line may lack its line feed
    }
    std::string line = c.in.substr(0, end);
    c.in.erase(0, std::min(end + 1, c.in.size()));
    Handle(c, line);
  }
  bool idle = !c.busy && c.in.empty() && c.inputEnded;
  if ((c.closeAfterFlush || idle) && (c.out.empty() || c.gone)) c.dead = true;
}

void TControlServer::TLoop::Handle(TClient& c, const std::string& line) {
  if (IsBlank(line)) return;
  TControlParse parsed = ParseControlRequest(line);
  if (!parsed.request) {
    Append(c, ReplyError(parsed.error));
    return;
  }
  c.busy = true;
  std::weak_ptr<TCore> core = core_;
  TControlReply reply([core, id = c.id](std::string answer) {
    if (auto alive = core.lock()) alive->Post(id, std::move(answer));
  });
  try {
    dispatcher_(std::move(*parsed.request), reply);
  } catch (const std::exception& e) {
    reply.Error(e.what());
  } catch (...) {
    reply.Error("request failed");
  }
}

// Reads what the client sent, within the input cap; false when nothing came.
bool TControlServer::TLoop::ReadSome(TClient& c) {
  char buffer[16 * 1024];
  size_t room = std::min(sizeof buffer, kInputCap - c.in.size());
  if (room == 0 || c.inputEnded) return false;
  ssize_t n = recv(c.fd, buffer, room, 0);
  if (n > 0) {
    c.in.append(buffer, size_t(n));
    return true;
  }
  if (n < 0 && (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && !c.gone))) {
    return false;
  }
  c.inputEnded = true;
  if (n < 0) c.gone = true;
  return false;
}

void TControlServer::TLoop::Append(TClient& c, std::string_view line) {
  if (c.gone) return;
  c.out += line;
  Flush(c);
  if (c.out.size() > kMaxPendingOutput) c.dead = true;
}

void TControlServer::TLoop::Flush(TClient& c) {
  while (!c.out.empty() && !c.gone) {
    ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out.erase(0, size_t(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else {
      c.gone = true;
      c.out.clear();
    }
  }
}

void TControlServer::TLoop::CloseAll() {
  for (TClient& c : clients_) {
    Flush(c);
    CloseFd(c.fd);
  }
  clients_.clear();
}

// ---- the server

TControlServer::TControlServer(std::string path, TControlDispatcher dispatcher)
    : path_(std::move(path)), dispatcher_(std::move(dispatcher)) {}

TControlServer::~TControlServer() {
  Stop();
}

void TControlServer::Start() {
  if (thread_.joinable()) AssertFailed("control", "server already started");
  Listen();
  auto core = std::make_shared<TCore>();
  core->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  try {
    if (core->wakeFd < 0) Fail("cannot start control socket " + path_ + ": " + ErrnoText(errno));
    auto loop = std::make_unique<TLoop>(listenFd_, core, dispatcher_);
    thread_ = std::thread([loop = std::move(loop)] { loop->Run(); });
  } catch (...) {
    CloseFd(core->wakeFd);
    RemoveSocketFile();
    CloseFd(listenFd_);
    throw;
  }
  core_ = std::move(core);
}

void TControlServer::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(core_->mutex);
    core_->stopped = true;
    core_->Wake();
  }
  thread_.join();
  {
    // Replies answering later see `stopped` under this lock and never touch the fd.
    std::lock_guard lock(core_->mutex);
    CloseFd(core_->wakeFd);
  }
  core_.reset();
  RemoveSocketFile();
  CloseFd(listenFd_);
}

namespace {

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty()) Fail("control socket path is empty");
  if (path.size() >= sizeof addr.sun_path) {
    Fail("control socket path too long (" + std::to_string(path.size()) + " bytes, at most " +
         std::to_string(sizeof addr.sun_path - 1) + "): " + path);
  }
  std::memcpy(addr.sun_path, path.data(), path.size());
  return addr;
}

// Removes a socket left by a player that ended without cleaning up; a socket
// somebody listens on and every other kind of file stay untouched.
void RemoveStaleSocket(const std::string& path, const sockaddr_un& addr) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    Fail("cannot use control socket " + path + ": " + ErrnoText(errno));
  }
  if (!S_ISSOCK(st.st_mode)) Fail(path + " exists and is not a socket");
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (probe < 0) Fail("cannot probe control socket " + path + ": " + ErrnoText(errno));
  int rc = connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  int err = errno;
  close(probe);
  // EAGAIN: a listener whose backlog is full is alive all the same.
  if (rc == 0 || err == EAGAIN || err == EINPROGRESS) Fail("another player listens on " + path);
  if (err != ECONNREFUSED) Fail("cannot use control socket " + path + ": " + ErrnoText(err));
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    Fail("cannot remove stale control socket " + path + ": " + ErrnoText(errno));
  }
}

}  // namespace

void TControlServer::Listen() {
  sockaddr_un addr = AddressOf(path_);
  RemoveStaleSocket(path_, addr);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) Fail("cannot create control socket " + path_ + ": " + ErrnoText(errno));
  // The file must never exist with a wider mode, not even between bind and chmod.
  mode_t oldMask = umask(0177);
  int rc = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  int err = errno;
  umask(oldMask);
  if (rc != 0) {
    close(fd);
    if (err == EADDRINUSE) Fail(path_ + " appeared while the control socket was being created");
    Fail("cannot create control socket " + path_ + ": " + ErrnoText(err));
  }
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  listenFd_ = fd;
  if (chmod(path_.c_str(), 0600) != 0 || listen(fd, int(kMaxClients)) != 0) {
    err = errno;
    RemoveSocketFile();
    CloseFd(listenFd_);
    Fail("cannot create control socket " + path_ + ": " + ErrnoText(err));
  }
}

// Only our own socket goes: another player may have replaced it meanwhile.
void TControlServer::RemoveSocketFile() {
  struct stat st;
  if (inode_ == 0 || lstat(path_.c_str(), &st) != 0) return;
  if (S_ISSOCK(st.st_mode) && st.st_dev == device_ && st.st_ino == inode_) unlink(path_.c_str());
  inode_ = 0;
}

}  // namespace lum
