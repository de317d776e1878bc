#pragma once
// The client side of the player's control socket: lumshow control, the tests
// and the benchmarks talk to a running player through it.
#include <string>

namespace lum {

// One connection; requests and replies are lines.
class TControlClient {
 public:
  TControlClient() = default;
  ~TControlClient();
  TControlClient(TControlClient&& o) noexcept;
  TControlClient& operator=(TControlClient&& o) noexcept;

  // False when nobody listens at path.
  bool Connect(const std::string& path);
  bool Connected() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void Close();
  // Writes all of bytes; false when the peer is gone.
  bool Send(const std::string& bytes);
  // The next line without its line feed; throws ELumError when none
  // comes within timeoutMs or the peer closes first.
  std::string ReadLine(int timeoutMs);
  // True when the peer closed the connection (end of file or reset) within
  // timeoutMs, with no further bytes before that.
  bool ClosedByPeer(int timeoutMs);

 private:
  int fd_ = -1;
  std::string in_;
};

}  // namespace lum
