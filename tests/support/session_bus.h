#pragma once
// A private D-Bus session bus for a test (its own dbus-daemon, as
// dbus-run-session starts one), and programs whose output is read line by
// line while they run (playerctl --follow).
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace lum::test {

class TSessionBus {
 public:
  // Starts dbus-daemon with the session configuration; Address() is empty
  // and Error() says why when it could not.
  TSessionBus();
  ~TSessionBus();
  TSessionBus(const TSessionBus&) = delete;
  TSessionBus& operator=(const TSessionBus&) = delete;

  const std::string& Address() const { return address_; }
  const std::string& Error() const { return error_; }
  // Ends the daemon now: the bus goes away under its clients.
  void Kill();

 private:
  pid_t pid_ = -1;
  std::string address_, error_;
};

// A program running with its standard output read line by line.
class TLineReader {
 public:
  // Starts argv[0] (a full path) with the test's environment.
  explicit TLineReader(const std::vector<std::string>& argv);
  ~TLineReader();
  TLineReader(const TLineReader&) = delete;
  TLineReader& operator=(const TLineReader&) = delete;

  // Reads until a line satisfies done or timeoutMs passes; true when one did.
  bool WaitFor(const std::function<bool(const std::string&)>& done, int timeoutMs);
  // Every line read so far.
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
};

}  // namespace lum::test
