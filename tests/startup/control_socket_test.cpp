// Control socket: request lines parse into typed requests or clear errors, and
// the server keeps each client's replies in order over real sockets.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/errors.h"
#include "startup/control_request.h"
#include "startup/control_socket.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TTempDir;
using namespace std::chrono_literals;

TControlRequest Parsed(std::string_view line) {
  TControlParse p = ParseControlRequest(line);
  EXPECT_TRUE(p.request) << line << ": " << p.error;
  return p.request.value_or(TControlRequest{});
}

TEST(ControlRequest, ParsesEachCommandWithItsFields) {
  EXPECT_EQ(Parsed(R"({"command":"status"})").command, TControlCommand::Status);
  EXPECT_EQ(Parsed(R"( {"command":"toggle","extra":[1]} )").command, TControlCommand::Toggle);
  EXPECT_EQ(Parsed("{\"command\":\"quit\"}\r").command, TControlCommand::Quit);
  EXPECT_EQ(Parsed(R"({"command":"seek","position":-2.5})").position, -2.5);
  EXPECT_EQ(Parsed(R"({"command":"seek","position":1500})").position, 1500.0);
  EXPECT_EQ(Parsed(R"j({"command":"action","text":"gotoslide(3)"})j").text, "gotoslide(3)");
  EXPECT_EQ(Parsed(R"({"command":"screenshot","path":"/tmp/a b.png"})").path, "/tmp/a b.png");
  EXPECT_EQ(Parsed(R"({"command":"open","show":"Ünïcode.lumshow"})").path, "Ünïcode.lumshow");

  TControlRequest click = Parsed(R"({"command":"click","x":-4,"y":2147483647})");
  EXPECT_EQ(click.command, TControlCommand::Click);
  EXPECT_EQ(click.x, -4);
  EXPECT_EQ(click.y, 2147483647);
  EXPECT_EQ(click.button, TMouseButton::Left);
  EXPECT_FALSE(click.doubleClick);
  click = Parsed(R"({"command":"click","x":1,"y":2,"button":"Right","double":true})");
  EXPECT_EQ(click.button, TMouseButton::Right);
  EXPECT_TRUE(click.doubleClick);
  EXPECT_EQ(Parsed(R"({"command":"click","x":1,"y":2,"button":"middle"})").button,
            TMouseButton::Middle);

  TControlRequest key = Parsed(R"({"command":"key","key":"right","mods":["ctrl","Shift"]})");
  EXPECT_EQ(key.virtualKey, vk::kRight);
  EXPECT_EQ(key.modifiers, kModCtrl | kModShift);
  key = Parsed(R"({"command":"key","vk":255,"mods":["alt","win","alt"]})");
  EXPECT_EQ(key.virtualKey, 255);
  EXPECT_EQ(key.modifiers, kModAlt | kModWin);
  EXPECT_EQ(Parsed(R"({"command":"key","vk":0,"mods":[]})").modifiers, 0u);
}

TEST(ControlRequest, RejectsBadRequestsWithClearErrors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "malformed JSON"},
      {"{\"command\":\"status\"", "malformed JSON"},
      {"{\"command\":\"status\"} {}", "malformed JSON"},
      {std::string("{\"command\":\"status\"}\0", 21), "malformed JSON"},
      {"{\"command\":\"st\xff\"}", "malformed JSON"},
      {R"({"command":"seek","position":NaN})", "malformed JSON"},
      {R"({"command":"seek","position":1e400})", "malformed JSON"},
      {R"(["status"])", "request must be a JSON object"},
      {R"("status")", "request must be a JSON object"},
      {R"({})", "missing field: command"},
      {R"({"command":5})", "command must be a string"},
      {R"({"command":"jump"})", "unknown command: jump"},
      {R"({"command":"STATUS"})", "unknown command: STATUS"},
      {R"({"command":"seek"})", "missing field: position"},
      {R"({"command":"seek","position":"12"})", "position must be a number"},
      {R"({"command":"seek","position":null})", "position must be a number"},
      {R"({"command":"action"})", "missing field: text"},
      {R"({"command":"action","text":["x"]})", "text must be a string"},
      {R"({"command":"action","text":"a\u0000b"})", "text must not contain NUL characters"},
      {R"({"command":"key"})", "missing field: key"},
      {R"({"command":"key","key":"Hyper"})", "unknown key: Hyper"},
      {R"({"command":"key","key":""})", "key must not be empty"},
      {R"({"command":"key","key":"A","vk":65})", "give either key or vk, not both"},
      {R"({"command":"key","vk":256})", "vk must be between 0 and 255"},
      {R"({"command":"key","vk":-1})", "vk must be between 0 and 255"},
      {R"({"command":"key","vk":39.0})", "vk must be an integer"},
      {R"({"command":"key","vk":"39"})", "vk must be an integer"},
      {R"({"command":"key","key":"A","mods":"ctrl"})", "mods must be an array of strings"},
      {R"({"command":"key","key":"A","mods":[1]})", "mods must be an array of strings"},
      {R"({"command":"key","key":"A","mods":["meta"]})", "unknown modifier: meta"},
      {R"({"command":"click","x":1})", "missing field: y"},
      {R"({"command":"click","x":1.5,"y":1})", "x must be an integer"},
      {R"({"command":"click","x":1,"y":2147483648})",
       "y must be between -2147483648 and 2147483647"},
      {R"({"command":"click","x":1,"y":2,"button":"up"})", "button must be left, right or middle"},
      {R"({"command":"click","x":1,"y":2,"double":1})", "double must be true or false"},
      {R"({"command":"screenshot","path":""})", "path must not be empty"},
      {R"({"command":"screenshot","path":"a\u0000.png"})", "path must not contain NUL characters"},
      {R"({"command":"open","path":"x"})", "missing field: show"},
  };
  for (const auto& [line, error] : cases) {
    TControlParse p = ParseControlRequest(line);
    EXPECT_FALSE(p.request) << line;
    EXPECT_EQ(p.error, error) << line;
  }
  // Client text quoted in an error stays short.
  TControlParse p = ParseControlRequest(R"({"command":")" + std::string(5000, 'x') + "\"}");
  EXPECT_LT(p.error.size(), 100u);
}

TEST(ControlRequest, KeyNamesIgnoreCase) {
  const std::pair<const char*, int> keys[] = {
      {"Escape", vk::kEscape},
      {"ESC", vk::kEscape},
      {"space", vk::kSpace},
      {"Return", vk::kReturn},
      {"enter", vk::kReturn},
      {"Tab", vk::kTab},
      {"Backspace", vk::kBack},
      {"Left", vk::kLeft},
      {"UP", vk::kUp},
      {"Down", vk::kDown},
      {"Home", vk::kHome},
      {"End", vk::kEnd},
      {"PageUp", vk::kPrior},
      {"pagedown", vk::kNext},
      {"Pause", vk::kPause},
      {"F1", 0x70},
      {"f12", 0x7B},
      {"F24", 0x87},
      {"a", 'A'},
      {"Z", 'Z'},
      {"0", '0'},
      {"9", '9'},
      {"MediaPlayPause", vk::kMediaPlayPause},
      {"mediastop", vk::kMediaStop},
      {"MediaNext", vk::kMediaNextTrack},
      {"MediaPrev", vk::kMediaPrevTrack},
      {"BrowserBack", vk::kBrowserBack},
      {"BrowserForward", vk::kBrowserForward},
  };
  for (const auto& [name, value] : keys) EXPECT_EQ(VirtualKeyByName(name), value) << name;
  for (const char* bad : {"", "F0", "F25", "F01", "F1x", "AB", "-", "Escape ", "Ctrl"}) {
    EXPECT_FALSE(VirtualKeyByName(bad)) << bad;
  }
}

TEST(ControlRequest, RepliesAreSingleJsonLines) {
  EXPECT_EQ(ReplyOk(), "{\"ok\":true}\n");
  EXPECT_EQ(ReplyOk(nullptr), "{\"ok\":true}\n");
  std::string line = ReplyOk({{"window", {640, 480}}, {"ok", false}, {"show", "a\nb"}});
  EXPECT_EQ(line, "{\"ok\":true,\"show\":\"a\\nb\",\"window\":[640,480]}\n");
  line = ReplyError("bad \xff\n text");
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_EQ(json::parse(line)["error"], "bad \xEF\xBF\xBD\n text");
  EXPECT_THROW(ReplyOk(json::array({1})), EAssertion);
}

TEST(ControlRequest, ReplyAnswersOnceAcrossCopies) {
  std::vector<std::string> sent;
  {
    TControlReply reply([&](std::string line) { sent.push_back(std::move(line)); });
    TControlReply copy = reply;
    EXPECT_FALSE(reply.Answered());
    copy.Ok({{"paused", true}});
    reply.Error("late");
    EXPECT_TRUE(reply.Answered());
  }
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], "{\"ok\":true,\"paused\":true}\n");
  // Dropped without an answer: the client still hears back.
  {
    TControlReply forgotten([&](std::string line) { sent.push_back(std::move(line)); });
  }
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], ReplyError("request was not answered"));
}

// ---- server

// A blocking client that gives up after a second instead of hanging the test.
class TClient {
 public:
  explicit TClient(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    timeval timeout{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~TClient() { Close(); }

  bool Connected() const { return connected_; }
  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return;
      bytes.remove_prefix(size_t(n));
    }
  }
  // The next line without its line feed; "<closed>" or "<timeout>" when none
  // comes. A server closing with our bytes unread resets the connection.
  std::string Line() {
    for (;;) {
      size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      char chunk[65536];
      ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n == 0 || (n < 0 && errno == ECONNRESET)) return "<closed>";
      if (n < 0) return "<timeout>";
      buffer_.append(chunk, size_t(n));
    }
  }
  json Reply() { return json::parse(Line(), nullptr, false); }
  std::string Error() { return Reply().value("error", "<no error>"); }
  void ShutdownWrite() { shutdown(fd_, SHUT_WR); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

// A server whose dispatcher echoes each request, or holds it when asked to.
class ControlServer : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_ / "ctl.sock"; }
  void TearDown() override {
    server_.reset();
    for (std::thread& t : threads_) t.join();
  }

  void Start() {
    server_ = std::make_unique<TControlServer>(
        path_, [this](TControlRequest r, TControlReply reply) { Dispatch(r, reply); });
    server_->Start();
  }

  void Dispatch(const TControlRequest& r, const TControlReply& reply) {
    std::lock_guard lock(mutex_);
    seen_.push_back(r);
    if (hold_) {
      held_.push_back(reply);
      changed_.notify_all();
    } else if (r.text == "throw") {
      throw ELumError("cannot do that");
    } else if (r.command == TControlCommand::Action && r.text == "slow") {
      threads_.emplace_back([reply] {
        std::this_thread::sleep_for(50ms);
        reply.Ok({{"text", "slow"}});
      });
    } else {
      reply.Ok({{"command", ControlCommandName(r.command)}, {"text", r.text}});
    }
  }

  std::vector<TControlRequest> Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

  // Waits until `count` requests are held.
  std::vector<TControlReply> Held(size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 1s, [&] { return held_.size() >= count; });
    return held_;
  }

  static std::string Action(std::string_view text) {
    return R"({"command":"action","text":")" + std::string(text) + "\"}\n";
  }

  TTempDir dir_;
  std::string path_;
  std::unique_ptr<TControlServer> server_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TControlRequest> seen_;
  std::vector<TControlReply> held_;
  std::vector<std::thread> threads_;
  bool hold_ = false;
};

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST_F(ControlServer, SocketIsPrivateAndRemovedOnStop) {
  mode_t before = umask(0);
  Start();
  mode_t after = umask(before);
  EXPECT_EQ(after, 0u);  // the process umask is restored
  struct stat st;
  ASSERT_EQ(lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  TClient client(path_);
  client.Send("{\"command\":\"status\"}\n");
  EXPECT_EQ(client.Reply()["command"], "status");
  server_->Stop();
  EXPECT_FALSE(Exists(path_));
  server_->Stop();
  // The same server may start again.
  server_->Start();
  TClient again(path_);
  again.Send("{\"command\":\"play\"}\n");
  EXPECT_EQ(again.Reply()["command"], "play");
}

TEST_F(ControlServer, ReplacesOnlyStaleSockets) {
  // A socket whose owner died without removing it.
  int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(stale);
  Start();
  TClient client(path_);
  client.Send("{\"command\":\"pause\"}\n");
  EXPECT_EQ(client.Reply()["command"], "pause");

  // A live socket belongs to another player: refused, and left in place.
  TControlServer second(path_, [](TControlRequest, TControlReply) {});
  try {
    second.Start();
    ADD_FAILURE() << "second server started";
  } catch (const ELumError& e) {
    EXPECT_EQ(std::string(e.what()), "another player listens on " + path_);
  }
  second.Stop();
  EXPECT_TRUE(Exists(path_));
  TClient still(path_);
  still.Send("{\"command\":\"status\"}\n");
  EXPECT_EQ(still.Reply()["ok"], true);
}

TEST_F(ControlServer, RefusesOtherFilesAndUnusablePaths) {
  std::string file = dir_.Write("ctl.sock", "keep me");
  TControlServer server(file, [](TControlRequest, TControlReply) {});
  EXPECT_THROW(server.Start(), ELumError);
  EXPECT_EQ(test::ReadFile(file), "keep me");

  TControlServer longPath(dir_.Path() + "/" + std::string(120, 's'), {});
  try {
    longPath.Start();
    ADD_FAILURE() << "long path accepted";
  } catch (const ELumError& e) {
    EXPECT_NE(std::string(e.what()).find("control socket path too long"), std::string::npos);
  }
  TControlServer missingFolder(dir_ / "no/such/folder/ctl.sock", {});
  EXPECT_THROW(missingFolder.Start(), ELumError);
  TControlServer empty("", {});
  EXPECT_THROW(empty.Start(), ELumError);
}

TEST_F(ControlServer, AnswersBadLinesAndKeepsTheConnection) {
  Start();
  TClient client(path_);
  client.Send("not json\n[1]\n{\"command\":\"fly\"}\n\n  \r\n");
  client.Send(std::string("{\"command\":\0\"status\"}\n", 22));
  client.Send("{\"command\":\"open\",\"show\":\"\xc3\x28\"}\n");
  client.Send("{\"command\":\"seek\",\"position\":1e999}\n{\"command\":\"status\"}\n");
  EXPECT_EQ(client.Error(), "malformed JSON");
  EXPECT_EQ(client.Error(), "request must be a JSON object");
  EXPECT_EQ(client.Error(), "unknown command: fly");
  // Blank lines get no answer.
  EXPECT_EQ(client.Error(), "malformed JSON");
  EXPECT_EQ(client.Error(), "malformed JSON");
  EXPECT_EQ(client.Error(), "malformed JSON");
  EXPECT_EQ(client.Reply()["command"], "status");
  EXPECT_EQ(Seen().size(), 1u);
}

TEST_F(ControlServer, OverlongLineClosesTheConnection) {
  Start();
  TClient client(path_);
  std::string line = Action(std::string(kMaxControlLine - 40, 'x'));
  ASSERT_LE(line.size(), kMaxControlLine + 1);
  client.Send(line);  // just within the limit
  EXPECT_EQ(client.Reply()["ok"], true);
  client.Send(std::string(kMaxControlLine + 10, 'y'));
  EXPECT_EQ(client.Error(), "request line too long");
  EXPECT_EQ(client.Line(), "<closed>");
  TClient next(path_);
  next.Send("{\"command\":\"status\"}\n");
  EXPECT_EQ(next.Reply()["ok"], true);
}

TEST_F(ControlServer, PipelinedRequestsAnswerInOrder) {
  Start();
  TClient client(path_);
  // The slow one is answered 50 ms later from another thread; the rest wait for it.
  client.Send(Action("1") + Action("slow") + Action("3") + "{\"command\":\"bad\"}\n" +
              Action("throw") + Action("5"));
  EXPECT_EQ(client.Reply()["text"], "1");
  EXPECT_EQ(client.Reply()["text"], "slow");
  EXPECT_EQ(client.Reply()["text"], "3");
  EXPECT_EQ(client.Error(), "unknown command: bad");
  EXPECT_EQ(client.Error(), "cannot do that");
  EXPECT_EQ(client.Reply()["text"], "5");
  // The last line may end the connection without its line feed.
  client.Send("{\"command\":\"quit\"}");
  client.ShutdownWrite();
  EXPECT_EQ(client.Reply()["command"], "quit");
  EXPECT_EQ(client.Line(), "<closed>");
}

TEST_F(ControlServer, ClientsDoNotWaitForEachOther) {
  hold_ = true;
  Start();
  TClient a(path_), b(path_);
  a.Send(Action("a1") + Action("a2"));
  std::vector<TControlReply> held = Held(1);
  b.Send(Action("b1"));
  held = Held(2);
  ASSERT_EQ(held.size(), 2u);  // a2 waits for a1's answer
  EXPECT_EQ(Seen()[1].text, "b1");
  held[1].Ok({{"text", "b1"}});
  EXPECT_EQ(b.Reply()["text"], "b1");
  held[0].Ok({{"text", "a1"}});
  EXPECT_EQ(a.Reply()["text"], "a1");
  held = Held(3);
  ASSERT_EQ(held.size(), 3u);
  EXPECT_EQ(Seen()[2].text, "a2");
  // Dropping the last copy answers with an error.
  {
    std::lock_guard lock(mutex_);
    held_.clear();
  }
  held.clear();
  EXPECT_EQ(a.Error(), "request was not answered");
}

TEST_F(ControlServer, VanishedClientsDoNotDisturbOthers) {
  hold_ = true;
  Start();
  {
    TClient gone(path_);
    gone.Send(Action("first") + Action("second"));
    ASSERT_EQ(Held(1).size(), 1u);
  }
  // Its requests still run; the answers go nowhere.
  Held(1)[0].Ok({{"text", "nobody reads this"}});
  ASSERT_EQ(Held(2).size(), 2u);
  EXPECT_EQ(Seen()[1].text, "second");
  Held(2)[1].Error("nobody reads this either");

  // A client that never reads a huge answer is dropped, not buffered.
  TClient hoarder(path_);
  hoarder.Send(Action("big"));
  ASSERT_EQ(Held(3).size(), 3u);
  Held(3)[2].Ok({{"text", std::string(2 * TControlServer::kMaxPendingOutput, 'z')}});
  TClient other(path_);
  other.Send(Action("after"));
  ASSERT_EQ(Held(4).size(), 4u);
  Held(4)[3].Ok({{"text", "after"}});
  EXPECT_EQ(other.Reply()["text"], "after");
  EXPECT_EQ(hoarder.Line(), "<closed>");
}

TEST_F(ControlServer, TooManyClientsAreTurnedAway) {
  Start();
  std::vector<std::unique_ptr<TClient>> clients;
  for (size_t i = 0; i < TControlServer::kMaxClients; ++i) {
    clients.push_back(std::make_unique<TClient>(path_));
    clients.back()->Send("{\"command\":\"status\"}\n");
    EXPECT_EQ(clients.back()->Reply()["ok"], true);
  }
  TClient extra(path_);
  EXPECT_EQ(extra.Error(), "too many clients");
  EXPECT_EQ(extra.Line(), "<closed>");
  clients.pop_back();
  // The freed place is taken once the server noticed the departure.
  for (int attempt = 0; attempt < 50; ++attempt) {
    TClient late(path_);
    late.Send("{\"command\":\"status\"}\n");
    json reply = late.Reply();
    if (reply.value("ok", false)) return;
    std::this_thread::sleep_for(2ms);
  }
  ADD_FAILURE() << "no place after a client left";
}

TEST_F(ControlServer, StopDisconnectsClientsAndDropsLateAnswers) {
  hold_ = true;
  Start();
  TClient idle(path_), waiting(path_);
  waiting.Send(Action("held"));
  ASSERT_EQ(Held(1).size(), 1u);
  auto started = std::chrono::steady_clock::now();
  server_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
  EXPECT_FALSE(Exists(path_));
  Held(1)[0].Ok({{"text", "too late"}});
  EXPECT_EQ(waiting.Line(), "<closed>");
  EXPECT_EQ(idle.Line(), "<closed>");
}

}  // namespace
}  // namespace lum
