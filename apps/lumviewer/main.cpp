// lumviewer: plays a show in a window (full screen or windowed).
//   lumviewer [SHOW] [-slide N] [-time T] [-display N] [-desktopalign] [-resize]
//             [-control PATH] [-codepage N] [-log] [-filelog]
// With no show it plays its own appended show, else the bundled demo.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/code_page.h"
#include "foundation/log.h"
#include "startup/control_socket.h"
#include "startup/main_form.h"
#include "startup/player_control.h"
#include "toolkit/window.h"

namespace {

using namespace lum;

// Switches by name (without "-"), each with its values; the empty name holds
// the plain arguments.
using TSwitches = std::map<std::string, std::vector<std::string>>;

TSwitches ParseSwitches(int argc, char** argv) {
  TSwitches s;
  std::string current;
  s[current];
  for (int i = 1; i < argc; ++i) {
    std::string token = argv[i];
    if (token.size() > 1 && token[0] == '-') {
      current = token.substr(token[1] == '-' ? 2 : 1);
      s[current];
    } else if (!token.empty()) {
      s[current].push_back(token);
    }
  }
  return s;
}

std::optional<int64_t> IntValue(const TSwitches& s, const std::string& name) {
  auto it = s.find(name);
  if (it == s.end() || it->second.empty()) return std::nullopt;
  char* end = nullptr;
  const long long v = std::strtoll(it->second[0].c_str(), &end, 10);
  if (!end || *end) return std::nullopt;
  return v;
}

std::string Executable(const char* argv0) {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : std::string(argv0);
}

// The plain argument given after a switch that takes none is still the show.
std::string ShowArgument(const TSwitches& s) {
  for (const char* flag : {"", "desktopalign", "resize", "log", "filelog"}) {
    auto it = s.find(flag);
    if (it != s.end() && !it->second.empty()) return it->second[0];
  }
  return {};
}

void Usage() {
  std::fprintf(stderr,
               "usage: lumviewer [SHOW] [-slide N] [-time T] [-display N] [-desktopalign] "
               "[-resize] [-control PATH] [-codepage N] [-log]\n");
}

int Play(const TSwitches& s, const std::string& exe) {
  TPlayerOptions o;
  o.show = ShowArgument(s);
  if (o.show.empty()) o.show = DefaultShow(exe);
  if (o.show.empty()) {
    std::fprintf(stderr, "lumviewer: no show given and no demo show found\n");
    Usage();
    return 2;
  }
  o.slide = IntValue(s, "slide");
  o.time = IntValue(s, "time");
  // "display" counts monitors from 1; anything else is the primary one.
  const int64_t display = IntValue(s, "display").value_or(0);
  o.viewer.display = display >= 1 ? int(display - 1) : 0;
  o.viewer.desktopAlign = s.count("desktopalign") > 0;
  o.viewer.resize = s.count("resize") > 0;
  std::string error;
  if (!TWindowThread::Init(&error)) {
    std::fprintf(stderr, "lumviewer: no display to play on: %s\n", error.c_str());
    return 1;
  }
  auto form = std::make_unique<TMainForm>(o);
  std::unique_ptr<TControlServer> control;
  if (auto it = s.find("control"); it != s.end()) {
    if (it->second.empty()) {
      std::fprintf(stderr, "lumviewer: -control wants a socket path\n");
      return 2;
    }
    control = std::make_unique<TControlServer>(it->second[0], PlayerDispatcher(*form));
    control->Start();
  }
  std::string message;
  if (!form->OpenShow(o.show, o.slide, o.time, message)) {
    // The show's messages break lines with CR; a terminal wants LF.
    std::replace(message.begin(), message.end(), '\r', '\n');
    std::fprintf(stderr, "lumviewer: %s: %s\n", o.show.c_str(), message.c_str());
    return 1;
  }
  TWindowThread::Run();
  const int code = form->ExitCode();
  if (control) control->Stop();
  form.reset();
  TWindowThread::Shutdown();
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  const TSwitches s = ParseSwitches(argc, argv);
  if (s.count("help") || s.count("h")) {
    Usage();
    return 0;
  }
  const std::string exe = Executable(argv[0]);
  try {
    if (s.count("filelog"))
      SetLog(std::make_unique<TFileLog>(DefaultLogPath(exe)));
    else if (s.count("log"))
      SetLog(std::make_unique<TStdLog>());
    if (auto cp = IntValue(s, "codepage"); cp && !SetCodePage(int(*cp))) {
      std::fprintf(stderr, "lumviewer: code page %lld is not known\n", (long long)*cp);
      return 2;
    }
    return Play(s, exe);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumviewer: %s\n", e.what());
    return 1;
  }
}
