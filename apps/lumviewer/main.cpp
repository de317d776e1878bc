// lumviewer: plays a show in a window (full screen or windowed).
//   lumviewer [SHOW] [-filename PROJECT] [-exename SHOW] [-slide N] [-time T]
//             [-display N] [-desktopalign] [-resize] [-noicc] [-icc PROFILE]
//             [-control PATH] [-codepage N] [-allowprograms] [-log] [-filelog] [/s]
// With no show it plays its own appended show, else the bundled demo.
// -allowprograms lets the show start programs without asking (kiosks).
#include <SDL.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "container/disk_path.h"
#include "container/lum_show_locator.h"
#include "foundation/code_page.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "imaging/color_management.h"
#include "render/render_backends.h"
#include "startup/commands_storage.h"
#include "startup/control_socket.h"
#include "startup/display_awake.h"
#include "startup/instance_lock.h"
#include "mpris/player_media_controls.h"
#include "startup/main_form.h"
#include "startup/player_control.h"
#include "startup/player_dialogs.h"
#include "startup/quit_on_signal.h"
#include "toolkit/window.h"

namespace {

using namespace lum;

constexpr const char* kLowColourMessage =
    "Currently you have 256 or 16 colors display mode.\rSet True color or High color display "
    "mode.";

std::string Executable(const char* argv0) {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : std::string(argv0);
}

// Tokens the system passes to screen savers; never a show's name.
bool ScreenSaverToken(const std::string& t) {
  return t.size() >= 2 && t[0] == '/' && std::string("sScCpP").find(t[1]) != std::string::npos &&
         (t.size() == 2 || t[2] == ':');
}

// The first plain argument names the show, also when it follows a switch
// that takes no value.
std::string ShowArgument(const TCommandsStorage& cmd) {
  for (const char* flag :
       {"", "desktopalign", "resize", "log", "filelog", "noicc", "cover", "allowprograms"}) {
    const TCommand* c = cmd.Find(flag);
    if (!c) continue;
    for (size_t i = *flag ? 0 : 1; i < c->items.size(); ++i)
      if (!ScreenSaverToken(c->items[i].text)) return c->items[i].text;
  }
  return {};
}

// "filename" and "exename" name files beside the program; a name that is
// not there is taken from the working folder.
std::string BesideProgram(const std::string& name, const std::string& exe) {
  if (name.empty() || name[0] == '/') return name;
  const std::string beside = ResolveAgainst(name, ExtractFilePath(exe));
  return FileExists(beside) || DirectoryExists(beside) ? beside : name;
}

std::optional<int64_t> PositiveSwitch(const TCommandsStorage& cmd, const char* name) {
  const int64_t v = cmd.IntValue(name, 0, 0);
  return v >= 1 ? std::optional<int64_t>(v) : std::nullopt;
}

// Bits per pixel of the primary display; 32 when SDL cannot tell.
int DisplayBitsPerPixel() {
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.format == 0) return 32;
  return int(SDL_BITSPERPIXEL(mode.format));
}

// Why the show cannot be opened; empty when it can.
std::string ShowProblem(const TPlayerOptions& o) {
  std::string message;
  const std::unique_ptr<TLumShowLocator> show =
      o.folderMode ? TLumShowLocator::OpenProjectFile(ToPosixSeparators(o.show), message)
                   : TLumShowLocator::OpenAny(o.show, message);
  return show ? std::string() : message;
}

void Usage() {
  std::fprintf(stderr,
               "usage: lumviewer [SHOW] [-filename PROJECT] [-exename SHOW] [-slide N] [-time T]\n"
               "                 [-display N] [-desktopalign] [-resize] [-noicc] [-icc PROFILE]\n"
               "                 [-control PATH] [-codepage N] [-allowprograms] [-log] [-filelog]\n"
               "                 [/s]\n");
}

void Complain(std::string message) {
  // The show's messages break lines with CR; a terminal wants LF.
  std::replace(message.begin(), message.end(), '\r', '\n');
  std::fprintf(stderr, "lumviewer: %s\n", message.c_str());
}

TPlayerOptions OptionsOf(const TCommandsStorage& cmd, const std::string& exe) {
  TPlayerOptions o;
  if (auto f = cmd.Value("filename")) {
    o.show = BesideProgram(*f, exe);
    o.folderMode = true;
  } else if (auto e = cmd.Value("exename")) {
    o.show = BesideProgram(*e, exe);
  } else {
    o.show = ShowArgument(cmd);
  }
  if (o.show.empty()) o.show = DefaultShow(exe);
  o.slide = PositiveSwitch(cmd, "slide");
  // A time counts only when no slide is asked for.
  if (!cmd.HasSwitch("slide")) o.time = PositiveSwitch(cmd, "time");
  // "display" counts monitors from 1; anything else is the primary one.
  const int64_t display = cmd.IntValue("display", 0, 0);
  o.viewer.display = display >= 1 ? int(display - 1) : 0;
  o.viewer.desktopAlign = cmd.HasSwitch("desktopalign");
  o.viewer.resize = cmd.HasSwitch("resize");
  o.startupMode = cmd.HasRawToken("-startup");
  o.screenSaverRun = cmd.HasRawToken("/s") || cmd.HasRawToken("/S");
  o.allowPrograms = cmd.HasSwitch("allowprograms");
  return o;
}

std::unique_ptr<TControlServer> StartControl(const TCommandsStorage& cmd,
                                             TControlDispatcher dispatcher) {
  const TCommand* c = cmd.Find("control");
  if (!c) return nullptr;
  if (c->items.empty()) throw ELumError("-control wants a socket path");
  auto control = std::make_unique<TControlServer>(c->items[0].text, std::move(dispatcher));
  control->Start();
  return control;
}

// A player that cannot play tells it in its own message box, also when it
// was started from a file manager without a terminal; stderr has it too.
// The box is visible to the control socket (one is started for it when
// none runs yet). Returns the exit status.
int FailAtStart(const TCommandsStorage& cmd, const std::string& text,
                std::unique_ptr<TControlServer> control) {
  try {
    if (!control) control = StartControl(cmd, MessageBoxDispatcher());
    ShowErrorBox(nullptr, text);
  } catch (const std::exception& e) {
    Complain(std::string("the message box could not be shown: ") + e.what());
  }
  if (control) control->Stop();
  return 1;
}

int Play(const TCommandsStorage& cmd, const std::string& exe) {
  TPlayerOptions o = OptionsOf(cmd, exe);
  if (o.show.empty()) {
    Complain("no show given and no demo show found");
    Usage();
    return 2;
  }
  ColorManagement().SetCommandLine(cmd.HasSwitch("noicc"), cmd.Value("icc"));
  std::string error;
  PrepareDisplayAwake();
  if (!TWindowThread::Init(&error)) {
    Complain("no display to play on: " + error);
    // No box can say what is wrong with the show: stderr does.
    if (const std::string problem = ShowProblem(o); !problem.empty())
      Complain(o.show + ": " + problem);
    return 1;
  }
  if (DisplayBitsPerPixel() < 16) {
    ShowErrorBox(nullptr, kLowColourMessage);
    Complain(kLowColourMessage);
    return 1;
  }
  // Held while the player runs: a second copy of a screen saver stays quiet.
  // The show stands for the program here: a show executable is one.
  TInstanceLock instance(
      InstanceName(std::filesystem::absolute(o.show).lexically_normal().string()));
  o.otherCopyRunning = instance.AnotherRunning();
  // A driver without what we draw with gets a message, not a black window.
  if (const std::string gl = CreateRenderEngine()->Shortfall(); !gl.empty()) {
    Complain(gl);
    return FailAtStart(cmd, gl, nullptr);
  }
  std::unique_ptr<TMainForm> form;
  try {
    form = std::make_unique<TMainForm>(o);
  } catch (const std::exception& e) {
    Complain(e.what());
    return FailAtStart(cmd, e.what(), nullptr);
  }
  InstallPlayerDialogs(*form);
  std::unique_ptr<TControlServer> control = StartControl(cmd, PlayerDispatcher(*form));
  std::string message;
  if (!form->OpenShow(o.show, o.slide, o.time, message, o.folderMode)) {
    switch (form->LastOpenOutcome()) {
      case TOpenOutcome::Declined:
        // A screen saver's configure and preview calls end quietly.
        if (control) control->Stop();
        return 0;
      case TOpenOutcome::Cancelled:
        if (control) control->Stop();
        Complain(o.show + ": the show's password was not given");
        return 1;
      default:
        if (message.empty()) message = "Can`t Load Show\r\"" + o.show + "\"";
        Complain(o.show + ": " + message);
        return FailAtStart(cmd, message, std::move(control));
    }
  }
  // Media keys and desktop media widgets, when there is a session bus.
  auto mediaControls = std::make_unique<TPlayerMediaControls>(*form);
  TWindowThread::Run();
  const int code = form->ExitCode();
  if (control) control->Stop();
  mediaControls.reset();
  form.reset();
  TWindowThread::Shutdown();
  return code;
}

void StartLog(const TCommandsStorage& cmd, const std::string& exe) {
  if (cmd.HasSwitch("filelog"))
    InstallFileLog(DefaultLogPath(exe));
  else if (cmd.HasSwitch("log"))
    SetLog(std::make_unique<TStdLog>());
  Log().StartBanner();
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  // Pictures, textures and sound blocks are large and come and go with every
  // slide and show: mapped on their own, they go back to the system when
  // freed instead of fragmenting the allocator's arenas of a player that
  // runs for days.
  mallopt(M_MMAP_THRESHOLD, 256 << 10);
  // Before SDL starts, which would otherwise install handlers of its own.
  QuitOnSignals();
  const TCommandsStorage cmd(argc, argv);
  if (cmd.HasSwitch("help") || cmd.HasSwitch("h") || cmd.HasSwitch("-help")) {
    Usage();
    return 0;
  }
  const std::string exe = Executable(argv[0]);
  int code = 1;
  try {
    StartLog(cmd, exe);
    if (cmd.HasSwitch("codepage")) {
      const int64_t cp = cmd.IntValue("codepage", 0, -1);
      if (!SetCodePage(int(cp))) {
        Complain("code page " + cmd.Value("codepage").value_or("") + " is not known");
        return 2;
      }
    }
    code = Play(cmd, exe);
  } catch (const std::exception& e) {
    Complain(e.what());
  }
  Log().EndBanner();
  return code;
}
