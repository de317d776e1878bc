#pragma once
// The control socket: a UNIX stream socket serving one JSON request per line.
// One I/O thread serves every client; the player's dispatcher decides where a
// request runs (the window thread) and answers through a TControlReply, from
// any thread and at any later time. A client's requests are dispatched one at
// a time in arrival order, so its replies come back in the same order.
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "startup/control_request.h"

namespace lum {

// The answer to one request. Copies share one answer: the first Ok or Error
// sends it, later calls do nothing. Calling it after the client went away or
// the server stopped is harmless. When the last copy goes unanswered, the
// client gets the error "request was not answered" so it never waits forever.
class TControlReply {
 public:
  // deliver receives the finished reply line (with its line feed) at most once,
  // on the thread that answers.
  explicit TControlReply(std::function<void(std::string line)> deliver);

  // Answers {"ok":true, ...fields}; fields must be an object or null.
  void Ok(const nlohmann::json& fields = nlohmann::json::object()) const;
  // Answers {"ok":false,"error":text}.
  void Error(std::string_view text) const;
  // True once this answer (through any copy) was sent.
  bool Answered() const;

 private:
  struct TState;
  void Send(std::string line) const;
  std::shared_ptr<TState> state_;
};

using TControlDispatcher = std::function<void(TControlRequest, TControlReply)>;

class TControlServer {
 public:
  // Longest a client may hold unanswered bytes it does not read before it is
  // dropped, and the number of clients served at once.
  static constexpr size_t kMaxPendingOutput = 1024 * 1024;
  static constexpr size_t kMaxClients = 16;

  // dispatcher runs on the server's I/O thread and should hand the request on
  // quickly; an exception it throws answers the request with its message. It
  // must not call Stop. Blank request lines are skipped without an answer.
  TControlServer(std::string path, TControlDispatcher dispatcher);
  ~TControlServer();
  TControlServer(const TControlServer&) = delete;
  TControlServer& operator=(const TControlServer&) = delete;

  // Creates the socket (mode 0600) and starts serving. A stale socket at the
  // path (nobody listening) is replaced; anything else there is left alone.
  // Throws ELumError naming the path when it cannot be used, e.g. "another
  // player listens on PATH". Sets the process umask for the moment of bind, so
  // call it before other threads create files.
  void Start();
  // Stops serving: replies answered so far are sent as far as the clients take
  // them at once, later ones are dropped, clients are disconnected, the thread
  // joins and the socket file goes (when it is still ours). Safe to repeat.
  void Stop();

  const std::string& Path() const { return path_; }

 private:
  struct TCore;
  class TLoop;

  void Listen();
  void RemoveSocketFile();

  std::string path_;
  TControlDispatcher dispatcher_;
  std::shared_ptr<TCore> core_;
  std::thread thread_;
  int listenFd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace lum
