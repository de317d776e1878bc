// The player's figures, each beside its reference in the same run:
//  1. the demo show played by the player in this process in a 1280 x 720
//     window for --seconds N (60): frames drawn per second and the spread of
//     the frame intervals, against a bare loop in which the same drawer draws
//     the same slides at advancing show times; both with presents paced to
//     the display refresh (as the player runs) and unpaced; and the pace of
//     the player's show clock against the wall clock (target 0.9 .. 1.1);
//  2. CPU time of a lumviewer process over 10 s while paused on the demo and
//     while waiting at a slide that stops the show (target 2 % of one core);
//  3. launch to first frame: lumviewer on the demo until its control socket
//     counts a frame, against lumshow render of the frame at time 0 in the
//     player's window size, process start included in both (medians of 5);
//     lumshow render also reads the frame back and writes it as PNG, which
//     the player does not: the comparison favours the player by that much;
//  4. a slide showing a 1080p30 H.264 clip (made by the ffmpeg program) over
//     the whole 1280 x 720 window, played by the player in this process for
//     --seconds (at most the clip's length): clip frames shown per second
//     against the clip's own 30, and the share of clip frames shown more than
//     one frame interval after their time or never (target none);
//  5. the stats panel of the i/I keys: a still slide of the demo drawn again
//     and again at 1280 x 720, presents unpaced, for --seconds in stretches of
//     100 ms taken in turn with the panel shown (its numbers refreshed as the
//     player refreshes them) and without: frame time with it against frame
//     time without, the median over the pairs of stretches (target 1.05).
// --only fps,cpu,launch,video,overlay picks figures; --pacing on|off|both (both).
// --play PROJECT [--size WxH]: plays a show in this process in a window of
// that size until it ends, then prints the peak memory and how long playing
// took against the show's duration (bench/player_memory.sh uses it).
// --log FILE keeps every log line of the players in this process.
//
// The player of figure 1 runs in this process because the offscreen display is
// 1024 x 768 and the player fits the demo's 1920 x 1080 window into it: here
// the window is resized to 1280 x 720 once the show has placed it, as a user
// would resize it. Drawing is headless (SDL_VIDEODRIVER=offscreen,
// SDL_AUDIODRIVER=dummy unless set). "ok" is printed only for a figure
// measured against its target. Exit status 2: a target was missed (frame rate
// 0.9 of the bare loop, interval spread 2 ms over it, show clock pace 0.9 ..
// 1.1, 2 % CPU, launch 1.5 times lumshow render, open 1.2 times the launch,
// no clip frame late, the stats panel 1.05 times the frame time without it; with --play 400 MB and an ended show); 3: none was
// missed but one could not be measured (a reference missing or drawing
// nothing); 1: the benchmark itself failed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_timing.h"
#include "container/lum_show_locator.h"
#include "engine/lum_engine.h"
#include "engine/lum_engine_parts.h"
#include "engine/offline_frame_driver.h"
#include "engine/show_viewer.h"
#include "engine/stats_overlay.h"
#include "foundation/process_memory.h"
#include "foundation/log.h"
#include "model/lum_slide.h"
#include "model/lum_video.h"
#include "project/lum_source.h"
#include "render/3d_drawer.h"
#include "render/3d_engine.h"
#include "render/gl/gl_renderer.h"
#include "render/root_item.h"
#include "startup/control_client.h"
#include "startup/main_form.h"
#include "toolkit/window.h"

extern char** environ;

using namespace lum;
namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

using lum::bench::Clock;

constexpr int kW = 1280, kH = 720;
constexpr double kGapMs = 100;  // a pause between frames worth naming
constexpr int kLaunchRounds = 5;
constexpr double kIdleSeconds = 10;

using lum::bench::Median;
using lum::bench::MsSince;

// How the figures went against their targets: a missed target outweighs one
// that could not be measured, which never counts as met.
struct TVerdicts {
  bool missed = false, unmeasured = false;
  void Met(bool met) { missed = missed || !met; }
  void NotMeasured() { unmeasured = true; }
  int ExitStatus() const { return missed ? 2 : unmeasured ? 3 : 0; }
};

void Sleep(double ms) {
  std::this_thread::sleep_for(std::chrono::microseconds(int64_t(ms * 1000)));
}

// ---- running statistics ----

// Count, mean and sum of squared deviations (Welford), as the engine keeps them.
struct TSpread {
  int64_t n = 0;
  double mean = 0, m2 = 0;

  void Add(double d) {
    ++n;
    const double delta = d - mean;
    mean += delta / double(n);
    m2 += delta * (d - mean);
  }
  double StdDev() const { return n > 1 ? std::sqrt(m2 / double(n - 1)) : 0; }

  static TSpread Of(int64_t n, double mean, double stdDev) {
    return {n, mean, n > 1 ? stdDev * stdDev * double(n - 1) : 0};
  }
  // The intervals added to `before` to make `total`. A total smaller than
  // before was restarted (the show was reopened) and stands for itself.
  static TSpread Since(const TSpread& total, const TSpread& before) {
    if (total.n < before.n || before.n == 0) return total;
    if (total.n == before.n) return {};
    TSpread b;
    b.n = total.n - before.n;
    b.mean = (total.mean * double(total.n) - before.mean * double(before.n)) / double(b.n);
    const double delta = b.mean - before.mean;
    b.m2 = std::max(0.0, total.m2 - before.m2 -
                             delta * delta * double(before.n) * double(b.n) / double(total.n));
    return b;
  }
};

// What one side of figure 1 did.
struct TLoopFigures {
  double seconds = 0;
  double startTime = 0;  // show time of the first measured frame
  double showMs = 0;     // show time gone by
  int slowFrames = 0;    // drawing over 50 ms (the engine logs those)
  int64_t frames = 0;
  TSpread intervals;
  int gaps = 0;  // pauses between frames over kGapMs
  double longestGap = 0;
  std::vector<std::string> gapNotes, slowNotes;

  double Fps() const { return seconds > 0 ? double(frames) / seconds : 0; }
  void NoteGap(double ms, double showTime) {
    if (ms <= kGapMs) return;
    ++gaps;
    longestGap = std::max(longestGap, ms);
    if (gapNotes.size() < 8) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "%.0f ms from show time %.0f", ms, showTime);
      gapNotes.emplace_back(buf);
    }
  }
};

// ---- the log: keeps what tells where playback stalls ----

class TBenchLog : public TExclLog {
 public:
  // Every line also goes to the file when there is one.
  explicit TBenchLog(const std::string& file) {
    if (!file.empty()) all_.open(file, std::ios::binary);
  }

  bool Has(const std::string& text) {
    std::lock_guard g(lock_);
    for (auto& l : lines_)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
  // Lines containing text since the last Clear, and how many there were.
  std::vector<std::string> Lines(const std::string& text, size_t* count = nullptr) {
    std::lock_guard g(lock_);
    std::vector<std::string> out;
    size_t n = 0;
    for (auto& l : lines_)
      if (l.find(text) != std::string::npos) {
        ++n;
        if (out.size() < 6) out.push_back(l);
      }
    if (count) *count = n;
    return out;
  }
  std::vector<std::string> All(const std::string& text) {
    std::lock_guard g(lock_);
    std::vector<std::string> out;
    for (auto& l : lines_)
      if (l.find(text) != std::string::npos) out.push_back(l);
    return out;
  }
  void Clear() {
    std::lock_guard g(lock_);
    lines_.clear();
  }
  // The slides the loader prepared since the last Clear, as (start, end) log
  // times, and the slow frames as (start, end).
  struct TTimeline {
    std::vector<std::pair<double, double>> prepared, slow;
  };
  TTimeline Timeline() {
    std::lock_guard g(lock_);
    TTimeline t;
    double preparing = -1;
    for (auto& l : lines_) {
      const double at = TimeOf(l);
      if (l.find("....... ") != std::string::npos) {
        preparing = at;
      } else if (l.find("slide list synched") != std::string::npos && preparing >= 0) {
        t.prepared.emplace_back(preparing, at);
        preparing = -1;
      } else if (size_t k = l.find("a frame took "); k != std::string::npos) {
        t.slow.emplace_back(at - std::atof(l.c_str() + k + 13), at);
      }
    }
    return t;
  }

 protected:
  void Emit(std::string_view line) override {
    if (all_.is_open()) all_ << line << '\n';
    // Only what the figures need, so that a long run stays small.
    static const char* const keep[] = {
        "a frame took", "OpenInt on diff size", "SetActive", "IsMusicReady: False", "could not",
        "abandoned",    "slide list synched",   "....... "};
    for (const char* k : keep)
      if (line.find(k) != std::string_view::npos) {
        std::lock_guard g(lock_);
        lines_.emplace_back(line);
        return;
      }
  }

 private:
  // The "[ms]" of a log line.
  static double TimeOf(const std::string& line) {
    const size_t k = line.find('[');
    return k == std::string::npos ? 0 : std::atof(line.c_str() + k + 1);
  }

  std::mutex lock_;
  std::vector<std::string> lines_;
  std::ofstream all_;
};

TBenchLog* gLog = nullptr;

// How the slow frames of the player line up with the loader's work.
std::string LoaderNote() {
  const TBenchLog::TTimeline t = gLog->Timeline();
  double longest = 0, total = 0;
  for (auto [a, b] : t.prepared) {
    longest = std::max(longest, b - a);
    total += b - a;
  }
  int during = 0;
  for (auto [a, b] : t.slow)
    for (auto [pa, pb] : t.prepared)
      if (a < pb && pa < b) {
        ++during;
        break;
      }
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "slides prepared by the loader: %zu (%.0f ms in all, longest %.0f ms); slow "
                "frames while it prepared one: %d of %zu",
                t.prepared.size(), total, longest, during, t.slow.size());
  return buf;
}

// ---- the player in this process ----

// Pumps the window thread until done() holds; false on timeout.
template <class F>
bool PumpUntil(F done, double timeoutMs) {
  const auto t0 = Clock::now();
  while (MsSince(t0) < timeoutMs) {
    TWindowThread::Pump(5);
    if (done()) return true;
  }
  return false;
}

// A player with its window at w x h, playing the show from its start.
std::unique_ptr<TMainForm> OpenPlayer(const std::string& show, int w, int h) {
  TPlayerOptions o;
  o.show = show;
  auto form = std::make_unique<TMainForm>(o);
  std::string message;
  if (!form->OpenShow(show, {}, {}, message)) throw std::runtime_error(show + ": " + message);
  TMainForm* f = form.get();
  auto engine = [f] { return f->Viewer().Engine(); };
  // The show's own placement comes first (with the first frame at the latest).
  if (!PumpUntil([&] { return engine() && engine()->Status().framesDrawn > 0; }, 30000))
    throw std::runtime_error("the player drew no frame");
  const TScreenRect placed = f->Window().ClientRect();
  if (placed.Width() != w || placed.Height() != h) {
    gLog->Clear();
    f->Window().SetClientSize(w, h);
    const std::string reopened =
        "OpenInt on diff size: " + std::to_string(w) + " " + std::to_string(h);
    if (!PumpUntil([&] { return gLog->Has(reopened); }, 10000))
      throw std::runtime_error("the player did not take the window size " + std::to_string(w) +
                               "x" + std::to_string(h));
  }
  const TScreenRect now = f->Window().ClientRect();
  if (now.Width() != w || now.Height() != h)
    throw std::runtime_error("the window is " + std::to_string(now.Width()) + "x" +
                             std::to_string(now.Height()));
  return form;
}

void ClosePlayer(std::unique_ptr<TMainForm>& form) {
  form.reset();
  for (int i = 0; i < 5; ++i) TWindowThread::Pump(1);
}

TSpread EngineSpread(const TEngineStatus& s) {
  return TSpread::Of(s.intervals, s.intervalMean, s.intervalStdDevAll);
}

TLoopFigures PlayerRun(const std::string& demo, double seconds, std::vector<std::string>& notes) {
  std::unique_ptr<TMainForm> form = OpenPlayer(demo, kW, kH);
  TLumEngine* engine = form->Viewer().Engine();
  // Running again at the new size, then a second to settle.
  if (!PumpUntil([&] { return engine->Status().active; }, 20000))
    throw std::runtime_error("the player did not start playing");
  PumpUntil([] { return false; }, 1000);

  gLog->Clear();
  TLoopFigures f;
  const TEngineStatus s0 = engine->Status();
  const auto t0 = Clock::now();
  int64_t frames = s0.framesDrawn;
  double lastFrameMs = 0, lastPosition = s0.position;
  TEngineStatus s = s0;
  // The window thread runs as in lumviewer; frames are counted from the
  // engine's own figures, polled often enough to see the pauses.
  while (MsSince(t0) < seconds * 1000) {
    TWindowThread::Pump(10);
    s = engine->Status();
    if (s.framesDrawn != frames) {
      const double now = MsSince(t0);
      f.NoteGap(now - lastFrameMs, lastPosition);
      frames = s.framesDrawn;
      lastFrameMs = now;
      lastPosition = s.position;
    }
  }
  f.seconds = MsSince(t0) / 1000;
  f.frames = s.framesDrawn - s0.framesDrawn;
  f.intervals = TSpread::Since(EngineSpread(s), EngineSpread(s0));
  f.showMs = s.position - s0.position;
  size_t slow = 0, music = 0;
  std::vector<std::string> slowLines = gLog->Lines("a frame took", &slow);
  gLog->Lines("IsMusicReady: False", &music);
  notes.push_back("frames over 50 ms logged by the engine: " + std::to_string(slow) +
                  ", loops that found the music not ready: " + std::to_string(music));
  for (auto& l : slowLines) notes.push_back("  " + l);
  notes.push_back(LoaderNote());
  ClosePlayer(form);
  f.startTime = s0.position;
  return f;
}

// ---- the bare loop ----

// The demo's slides drawn by the drawer with nothing of the player around
// it: every slide the run needs is made before it starts, a frame is drawn
// and presented whenever the slides moved at the show time of the moment
// (the player skips still frames the same way), and nothing waits between
// frames but the present itself.
TLoopFigures BareRun(const std::string& demo, double seconds, bool paced, double startTime) {
  std::string message;
  std::unique_ptr<TLumShowLocator> loc = TLumShowLocator::OpenAny(demo, message);
  if (!loc) throw std::runtime_error(demo + ": " + message);
  // Read the way the engine reads it.
  TLumSource source(loc->Accessor(), CopyDocument(loc->Document()));
  TOfflineFrameDriver driver(source, kW, kH);
  SetGLPacing(paced);  // the driver turns it off for everybody

  // The player's slide set at t: the slides of the moment and the ones after,
  // three in all.
  auto firstAt = [&](double t) { return SlidesOfTheMoment(source, t).front(); };
  const double endMs = startTime + seconds * 1000 + 2000;
  int64_t lo = firstAt(startTime), hi = lo;
  for (double t = startTime; t <= endMs; t += 10) hi = std::max(hi, firstAt(t));
  std::map<int64_t, TRef<TDrawContainer>> made;
  for (int64_t n = lo; n <= hi + 2; ++n) {
    TRef<TDrawContainer> c = driver.Producer().Produce(n);
    if (!c) c = driver.Producer().ProduceBlank(n);
    if (c->slide) c->slide->SetTimeAndLayout(true, c->record.start);
    made[n] = c;
  }
  auto setAt = [&](double t) {
    TSlideSet set;
    const int64_t first = firstAt(t);
    for (int64_t n = first; n <= first + 2; ++n)
      if (auto it = made.find(n); it != made.end()) set.push_back(it->second);
    return set;
  };

  TRootItem root;
  root.SetBackgroundColor(ArgbOfWindowsColor(source.HiderColor()));
  root.SetUnsharpAmount(source.UnsharpAmount());
  T3DDrawer& d = driver.Drawer();
  // How long the frame took; negative when the slides stood still.
  auto draw = [&](double t) -> double {
    if (!root.TakeSlides(setAt(t), t) || !root.Changed()) return -1;
    d.SetViewportRect(driver.Slide());
    d.SetCapture(false);
    const auto started = Clock::now();
    if (!d.DrawItem(root)) throw std::runtime_error("the bare loop could not draw");
    return MsSince(started);
  };
  draw(startTime);  // uploads the first slide's pictures

  // The player's measured stretch of the show, from the same show time.
  TLoopFigures f;
  f.startTime = startTime;
  const auto t0 = Clock::now();
  double lastFrameMs = 0, lastTime = startTime;
  bool lastDrawn = true;
  while (MsSince(t0) < seconds * 1000) {
    const double t = startTime + MsSince(t0);
    if (const double took = draw(t); took >= 0) {
      if (took > 50 && f.slowFrames++ < 6) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "a frame took %.0f ms at %.0f", took, t);
        f.slowNotes.emplace_back(buf);
      }
      const double now = MsSince(t0);
      // As the engine counts them: only frames drawn back to back.
      if (lastDrawn && f.frames > 0) f.intervals.Add(now - lastFrameMs);
      f.NoteGap(now - lastFrameMs, lastTime);
      ++f.frames;
      lastFrameMs = now;
      lastTime = t;
      lastDrawn = true;
    } else {
      lastDrawn = false;
      Sleep(1);
    }
  }
  f.seconds = MsSince(t0) / 1000;
  return f;
}

void ReportFps(const char* pacing, const TLoopFigures& p, const TLoopFigures& b,
               const std::vector<std::string>& notes, TVerdicts& verdicts) {
  const double ratio = b.frames > 0 ? p.Fps() / b.Fps() : 0;
  const double extra = p.intervals.StdDev() - b.intervals.StdDev();
  const double pace = p.seconds > 0 ? p.showMs / (p.seconds * 1000) : 0;
  const bool fpsOk = ratio >= 0.9, spreadOk = extra <= 2, paceOk = pace >= 0.9 && pace <= 1.1;
  std::printf("1. demo at %dx%d, presents %s:\n", kW, kH, pacing);
  std::printf(
      "   player     %6.1f frames/s (%lld in %.1f s)  interval mean %6.2f ms  sd %6.2f ms "
      "(%lld intervals)\n",
      p.Fps(), (long long)p.frames, p.seconds, p.intervals.mean, p.intervals.StdDev(),
      (long long)p.intervals.n);
  std::printf(
      "   bare loop  %6.1f frames/s (%lld in %.1f s)  interval mean %6.2f ms  sd %6.2f ms "
      "(%lld intervals)\n",
      b.Fps(), (long long)b.frames, b.seconds, b.intervals.mean, b.intervals.StdDev(),
      (long long)b.intervals.n);
  if (b.frames == 0) {
    // Without the reference there is nothing to compare with.
    std::printf("   frame rate and interval spread not measured: the bare loop drew no frame\n");
    verdicts.NotMeasured();
  } else {
    std::printf("   frame rate ratio %.3f %s; interval sd player - bare loop %+.2f ms %s\n", ratio,
                fpsOk ? "(ok, >= 0.9)" : "(missed, under 0.9)", extra,
                spreadOk ? "(ok, <= 2)" : "(missed, over 2)");
    verdicts.Met(fpsOk && spreadOk);
  }
  std::printf(
      "   both from show time %.0f; pauses over %.0f ms between frames: player %d "
      "(longest %.0f ms), bare loop %d (longest %.0f ms; still slides, %d frames over "
      "50 ms)\n",
      p.startTime, kGapMs, p.gaps, p.longestGap, b.gaps, b.longestGap, b.slowFrames);
  std::printf(
      "   the player's show clock ran %.3fx the wall clock (the audio device drives it) %s\n", pace,
      paceOk ? "(ok, 0.9 .. 1.1)" : "(missed, outside 0.9 .. 1.1)");
  verdicts.Met(paceOk);
  for (auto& n : p.gapNotes) std::printf("     player: %s\n", n.c_str());
  for (auto& n : b.gapNotes) std::printf("     bare loop: %s\n", n.c_str());
  for (auto& n : b.slowNotes) std::printf("     bare loop: %s\n", n.c_str());
  for (auto& n : notes) std::printf("   %s\n", n.c_str());
}

// ---- child processes ----

// A program run with its output in a file; killed if still running at the end.
class TChild {
 public:
  TChild() = default;
  ~TChild() { Kill(); }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  void Start(const std::vector<std::string>& args, const std::string& output) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    const int r = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (r != 0) {
      pid_ = -1;
      throw std::runtime_error(args[0] + ": " + std::strerror(r));
    }
  }
  pid_t Pid() const { return pid_; }
  bool Running() {
    if (pid_ < 0) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    pid_ = -1;
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  // The exit status, or -1 when it had to be killed.
  int Wait(double timeoutMs) {
    const auto t0 = Clock::now();
    while (Running())
      if (MsSince(t0) > timeoutMs) {
        Kill();
        return -1;
      } else {
        Sleep(1);
      }
    return exit_;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    exit_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int exit_ = -1;
};

// User plus system CPU seconds from a /proc stat file; negative when unknown.
double CpuSecondsOf(const fs::path& statFile) {
  std::ifstream f(statFile);
  std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  double utime = -1, stime = -1;
  // Fields from the state on: utime and stime are the 12th and 13th.
  for (int i = 1; i <= 13 && in >> field; ++i) {
    if (i == 12) utime = std::atof(field.c_str());
    if (i == 13) stime = std::atof(field.c_str());
  }
  if (utime < 0 || stime < 0) return -1;
  return (utime + stime) / double(sysconf(_SC_CLK_TCK));
}

double ProcessCpuSeconds(pid_t pid) {
  return CpuSecondsOf("/proc/" + std::to_string(pid) + "/stat");
}

// CPU seconds of each thread of a process so far.
std::map<pid_t, double> ThreadCpuSeconds(pid_t pid) {
  std::map<pid_t, double> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec))
    out[pid_t(std::atol(e.path().filename().c_str()))] = CpuSecondsOf(e.path() / "stat");
  return out;
}

// A thread of a player by what it does: SDL's own threads by name, the
// player's by the first line it logged (the log names threads by id).
std::string ThreadLabel(pid_t pid, pid_t tid, const std::string& logFile) {
  if (tid == pid) return "window thread";
  std::ifstream comm("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(comm, name);
  if (!name.empty() && name != "lumviewer") return name;
  char id[16];
  std::snprintf(id, sizeof id, "#%X ", unsigned(tid));
  std::ifstream log(logFile);
  std::string line;
  while (std::getline(log, line))
    if (line.rfind(id, 0) == 0) {
      const size_t k = line.find("] ");
      std::string text = k == std::string::npos ? line : line.substr(k + 2);
      if (text.size() > 40) text.resize(40);
      return "thread logging \"" + text + "\"";
    }
  return "thread " + std::to_string(tid);
}

// One connection to a player's control socket, a JSON request at a time.
class TControl {
 public:
  bool Connect(const std::string& path) { return client_.Connect(path); }
  void Close() { client_.Close(); }
  json Request(const json& request, int timeoutMs = 10000) {
    if (!client_.Send(request.dump() + "\n"))
      throw std::runtime_error("the player closed its socket");
    return json::parse(client_.ReadLine(timeoutMs));
  }

 private:
  TControlClient client_;
};

// lumviewer on a show with its control socket in dir; connected on return.
struct TViewer {
  TChild process;
  TControl control;
  std::string socket, log;

  void Start(const std::string& show, const fs::path& dir, const std::string& name) {
    socket = (dir / (name + ".sock")).string();
    std::error_code ec;
    fs::remove(socket, ec);
    log = (dir / (name + ".log")).string();
    process.Start({LUM_LUMVIEWER_PATH, show, "-control", socket, "-log"}, log);
    const auto t0 = Clock::now();
    while (!control.Connect(socket)) {
      if (!process.Running()) throw std::runtime_error("lumviewer ended before its socket came");
      if (MsSince(t0) > 20000) throw std::runtime_error("lumviewer's socket did not come");
      Sleep(2);
    }
  }
  json Status() { return control.Request({{"command", "status"}}); }
  // Polls the status until done accepts it.
  json WaitFor(const std::function<bool(const json&)>& done, double timeoutMs) {
    const auto t0 = Clock::now();
    for (;;) {
      json s = Status();
      if (done(s)) return s;
      if (MsSince(t0) > timeoutMs) throw std::runtime_error("lumviewer: " + s.dump());
      Sleep(20);
    }
  }
  void Quit() {
    try {
      control.Request({{"command", "quit"}}, 5000);
    } catch (const std::exception&) {
      // It is killed below.
    }
    control.Close();
    process.Wait(10000);
  }
};

// ---- figure 2 ----

struct TCpuFigures {
  double percent = 0;
  int64_t frames = 0;   // drawn meanwhile
  std::string threads;  // where the time went, busiest first
};

// The player's CPU over kIdleSeconds, as a share of one core.
TCpuFigures CpuOverTime(TViewer& v) {
  Sleep(1000);  // whatever the last request started has settled
  const pid_t pid = v.process.Pid();
  const json s0 = v.Status();
  const double c0 = ProcessCpuSeconds(pid);
  const std::map<pid_t, double> t0s = ThreadCpuSeconds(pid);
  const auto t0 = Clock::now();
  Sleep(kIdleSeconds * 1000);
  const double c1 = ProcessCpuSeconds(pid);
  const std::map<pid_t, double> t1s = ThreadCpuSeconds(pid);
  const double wall = MsSince(t0) / 1000;
  const json s1 = v.Status();
  if (c0 < 0 || c1 < 0) throw std::runtime_error("no CPU figures in /proc");
  TCpuFigures r{100 * (c1 - c0) / wall,
                s1.value("framesDrawn", int64_t(0)) - s0.value("framesDrawn", int64_t(0)),
                {}};
  std::vector<std::pair<double, pid_t>> busy;
  for (auto [tid, c] : t1s)
    if (auto it = t0s.find(tid); it != t0s.end() && c > it->second)
      busy.emplace_back(100 * (c - it->second) / wall, tid);
  std::sort(busy.rbegin(), busy.rend());
  for (auto [percent, tid] : busy) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f %% ", percent);
    r.threads += std::string("\n       ") + buf + ThreadLabel(pid, tid, v.log);
  }
  return r;
}

// Two slides of one second, borderless 1280 x 720; the first stops the show
// at its end until the user goes on.
std::string StoppingShow() {
  std::string t =
      "[Main]\nMinorVersion=13\nopt_scr_width=1280\nopt_scr_height=720\nopt_scr_full=0\n"
      "opt_withoutborder=1\nopt_pausewheninactive=0\nopt_repeat=stop\n"
      "[Times]\nopt_slidescount=2\nopt_synchpos1=1000\nopt_synchpos2=2000\n";
  t += "[Slide1]\nbstyle=1\nbcolor=2105536\nPers_EndAction=pause\nobject Container:Root\nend\n";
  t += "[Slide2]\nbstyle=1\nbcolor=12632256\nobject Container:Root\nend\n";
  return t;
}

void CpuFigure(const std::string& demo, const fs::path& dir, TVerdicts& verdicts) {
  TViewer play;
  play.Start(demo, dir, "paused");
  play.WaitFor([](const json& s) { return s.value("framesDrawn", 0) >= 30; }, 30000);
  // For scale: the same process while it plays.
  const TCpuFigures playing = CpuOverTime(play);
  const json r = play.control.Request({{"command", "pause"}});
  if (!r.value("ok", false)) throw std::runtime_error("pause: " + r.dump());
  const TCpuFigures paused = CpuOverTime(play);
  const json ps = play.Status();
  play.Quit();

  const fs::path showDir = dir / "stop";
  fs::create_directories(showDir);
  std::ofstream(showDir / "Project.lum", std::ios::binary) << StoppingShow();
  TViewer stop;
  stop.Start((showDir / "Project.lum").string(), dir, "stop");
  stop.WaitFor([](const json& s) { return s.value("waiting", false); }, 30000);
  const TCpuFigures waiting = CpuOverTime(stop);
  const json ws = stop.Status();
  stop.Quit();

  verdicts.Met(paused.percent <= 2 && waiting.percent <= 2);
  std::printf("2. lumviewer CPU over %.0f s, %% of one core (target <= 2):\n", kIdleSeconds);
  std::printf(
      "   paused on the demo       %5.2f %%  %s  (%lld frames drawn meanwhile; "
      "paused=%d)\n",
      paused.percent, paused.percent <= 2 ? "(ok)" : "(missed)", (long long)paused.frames,
      int(ps.value("paused", false)));
  std::printf(
      "   waiting at a stop        %5.2f %%  %s  (%lld frames drawn meanwhile; "
      "waiting=%d, window %s)\n",
      waiting.percent, waiting.percent <= 2 ? "(ok)" : "(missed)", (long long)waiting.frames,
      int(ws.value("waiting", false)), ws.contains("window") ? ws["window"].dump().c_str() : "?");
  std::printf("   for scale, playing the demo %5.1f %%  (window %s)\n", playing.percent,
              ps.contains("window") ? ps["window"].dump().c_str() : "?");
  std::printf("   paused, by thread (CPU clock ticks of %ld Hz):%s\n", sysconf(_SC_CLK_TCK),
              paused.threads.c_str());
  std::printf("   waiting, by thread:%s\n", waiting.threads.c_str());
}

// ---- figure 3 ----

// Milliseconds from an open-show action to the first frame of the show it
// opens: the player paused on one show (so no frame of it comes meanwhile)
// runs runpresentation on the demo.
double OpenFromAction(TControl& c, const std::string& demo) {
  c.Request({{"command", "pause"}});
  Sleep(200);
  const int64_t before = c.Request({{"command", "status"}}).value("framesDrawn", int64_t(0));
  const auto t0 = Clock::now();
  c.Request({{"command", "action"}, {"text", "runpresentation(\"" + demo + "\")"}});
  for (;;) {
    if (MsSince(t0) > 30000) throw std::runtime_error("the opened show drew nothing");
    if (c.Request({{"command", "status"}}).value("framesDrawn", int64_t(0)) > before) break;
    Sleep(2);
  }
  return MsSince(t0);
}

void LaunchFigure(const std::string& demo, const fs::path& dir, TVerdicts& verdicts) {
  std::vector<double> player, render, opened;
  std::string size;
  for (int round = 0; round < kLaunchRounds; ++round) {
    TChild p;
    TControl c;
    const std::string socket = (dir / "launch.sock").string();
    std::error_code ec;
    fs::remove(socket, ec);
    const auto t0 = Clock::now();
    p.Start({LUM_LUMVIEWER_PATH, demo, "-control", socket}, (dir / "launch.log").string());
    bool connected = false;
    json s;
    for (;;) {
      if (MsSince(t0) > 30000 || !p.Running()) throw std::runtime_error("lumviewer drew nothing");
      if (!connected) connected = c.Connect(socket);
      if (connected) {
        s = c.Request({{"command", "status"}});
        if (s.value("framesDrawn", 0) >= 1) break;
      }
      Sleep(2);
    }
    player.push_back(MsSince(t0));
    const std::string now =
        std::to_string(s["window"][0].get<int>()) + "x" + std::to_string(s["window"][1].get<int>());
    if (!size.empty() && size != now) throw std::runtime_error("the window size changed");
    size = now;
    opened.push_back(OpenFromAction(c, demo));
    c.Request({{"command", "quit"}});
    c.Close();
    p.Wait(10000);

    TChild r;
    const auto t1 = Clock::now();
    r.Start({LUM_LUMSHOW_PATH, "render", demo, "--time", "0", "--size", size, "-o",
             (dir / "first.png").string()},
            (dir / "render.log").string());
    if (r.Wait(60000) != 0) throw std::runtime_error("lumshow render failed");
    render.push_back(MsSince(t1));
  }
  const double ratio = Median(player) / Median(render);
  std::printf(
      "3. launch to first frame of the demo at %s, ms (median of %d, process start "
      "included):\n",
      size.c_str(), kLaunchRounds);
  std::printf("   lumviewer (first frame counted by its status) %7.1f   [", Median(player));
  for (double v : player) std::printf(" %.0f", v);
  std::printf(" ]\n   lumshow render --time 0                       %7.1f   [", Median(render));
  for (double v : render) std::printf(" %.0f", v);
  std::printf(
      " ]\n   (lumshow render also reads the frame back and writes a PNG; the player "
      "only draws and presents it)\n");
  std::printf("   ratio %.2f %s\n", ratio, ratio <= 1.5 ? "(ok, <= 1.5)" : "(missed, over 1.5)");
  const double openRatio = Median(opened) / Median(player);
  std::printf("   open-show action to the first frame of the show it opens %7.1f   [",
              Median(opened));
  for (double v : opened) std::printf(" %.0f", v);
  std::printf(" ]\n   ratio to the launch above %.2f %s\n", openRatio,
              openRatio <= 1.2 ? "(ok, <= 1.2)" : "(missed, over 1.2)");
  verdicts.Met(ratio <= 1.5 && openRatio <= 1.2);
}

// ---- figure 4: a 1080p30 clip ----

constexpr int kClipRate = 30;
constexpr double kClipSeconds = 20;

// A program on the search path, or empty.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string d; std::getline(dirs, d, ':');)
    if (!d.empty() && access((fs::path(d) / name).c_str(), X_OK) == 0) return fs::path(d) / name;
  return "";
}

// A one-slide show whose clip covers the slide for the clip's length.
std::string WriteVideoShow(const fs::path& dir) {
  const int ms = int(kClipSeconds * 1000);
  std::ofstream f(dir / "Project.lum");
  f << "[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\nopt_scr_full=0\n"
    << "[Times]\nopt_slidescount=1\nopt_synchpos1=" << ms + 2000 << "\n"
    << "[Slide1]\nbstyle=1\nbcolor=0\nobject Container:Root\n"
    << "object Clip:Video\nGUID={1}\nFileName=clip.mp4\nMute=1\nDuration=" << ms << "\n"
    << "object K:KeyPoint\nTime=0\nend\nend\nend\n";
  return (dir / "Project.lum").string();
}

void VideoFigure(const fs::path& dir, double seconds, TVerdicts& verdicts) {
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty()) {
    std::printf("video: not measured, no ffmpeg program to make the clip\n");
    verdicts.NotMeasured();
    return;
  }
  TChild make;
  make.Start({ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i",
              "testsrc2=s=1920x1080:r=" + std::to_string(kClipRate) +
                  ":d=" + std::to_string(int(kClipSeconds)),
              "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "60",
              (dir / "clip.mp4").string()},
             (dir / "ffmpeg.txt").string());
  if (make.Wait(300000) != 0) throw std::runtime_error("ffmpeg could not make the clip");
  std::unique_ptr<TMainForm> form = OpenPlayer(WriteVideoShow(dir), kW, kH);
  TLumEngine* engine = form->Viewer().Engine();
  if (!PumpUntil([&] { return engine->Status().active; }, 20000))
    throw std::runtime_error("the player did not start playing");
  PumpUntil([] { return false; }, 500);
  gLog->Clear();
  const double span = std::min(seconds, kClipSeconds - 3);
  const TEngineStatus s0 = engine->Status();
  const TVideoShowCounts c0 = TLumVideo::ShowCounts();
  const auto t0 = Clock::now();
  PumpUntil([] { return false; }, span * 1000);
  const double wall = MsSince(t0) / 1000;
  const TEngineStatus s1 = engine->Status();
  const TVideoShowCounts c1 = TLumVideo::ShowCounts();
  size_t slow = 0;
  gLog->Lines("a frame took", &slow);
  ClosePlayer(form);

  const double showSeconds = (s1.position - s0.position) / 1000;
  const int64_t shown = c1.shown - c0.shown, late = c1.late - c0.late;
  const int64_t skipped = c1.skipped - c0.skipped;
  const double fps = wall > 0 ? double(shown) / wall : 0;
  const double due = double(shown + skipped);
  const double lateShare = due > 0 ? double(late + skipped) / due : 0;
  const TSpread iv = TSpread::Since(EngineSpread(s1), EngineSpread(s0));
  std::printf("video: a %dx%d %d fps H.264 clip over a %dx%d window for %.1f s (%.1f s of show)\n",
              1920, 1080, kClipRate, kW, kH, wall, showSeconds);
  std::printf("   clip frames shown %.1f/s, reference the clip's %d/s: ratio %.3f\n", fps,
              kClipRate, fps / kClipRate);
  if (due == 0) {
    std::printf("   lateness not measured: no clip frame was due\n");
    verdicts.NotMeasured();
  } else {
    std::printf(
        "   late by over one frame interval: %lld of %.0f due (%.1f %%): %lld shown late, "
        "%lld never shown %s\n",
        (long long)(late + skipped), due, 100 * lateShare, (long long)late, (long long)skipped,
        late + skipped == 0 ? "(ok, none)" : "(missed, target none)");
    verdicts.Met(late + skipped == 0);
  }
  std::printf(
      "   player frames drawn %.1f/s, interval mean %.1f ms, deviation %.1f ms, "
      "frames over 50 ms %zu\n",
      wall > 0 ? double(s1.framesDrawn - s0.framesDrawn) / wall : 0, iv.mean, iv.StdDev(), slow);
}

// ---- the stats panel ----

void OverlayFigure(const std::string& demo, double seconds, TVerdicts& verdicts) {
  std::string message;
  std::unique_ptr<TLumShowLocator> loc = TLumShowLocator::OpenAny(demo, message);
  if (!loc) throw std::runtime_error(demo + ": " + message);
  TLumSource source(loc->Accessor(), CopyDocument(loc->Document()));
  TOfflineFrameDriver driver(source, kW, kH);
  SetGLPacing(false);
  // Within the first slide, clear of its transition.
  const TLumSlideRecord r = source.Slide(0);
  const double t = r.start + r.transitionIn + 500;
  TSlideSet set;
  for (int64_t n : SlidesOfTheMoment(source, t)) {
    TRef<TDrawContainer> c = driver.Producer().Produce(n);
    if (!c) c = driver.Producer().ProduceBlank(n);
    set.push_back(c);
  }
  TRootItem root;
  root.SetBackgroundColor(ArgbOfWindowsColor(source.HiderColor()));
  root.SetUnsharpAmount(source.UnsharpAmount());
  TEngineFigures figures;
  TStatsOverlay stats(figures);
  T3DDrawer& d = driver.Drawer();
  auto frame = [&](bool shown) {
    const double now = NowMs();
    root.TakeSlides(set, t, shown ? &stats : nullptr);
    if (shown && stats.Due(now)) {
      TStatsFigures f;
      f.slidesHeld = int(set.size());
      f.textureBytes = TextureBytes();
      f.rssBytes = ResidentBytes();
      stats.Update(f, now);
    }
    d.SetViewportRect(driver.Slide());
    if (!d.DrawItem(root)) throw std::runtime_error("the still slide could not be drawn");
    figures.NoteFrame(true);
  };
  for (int i = 0; i < 20; ++i) frame(i % 2 == 0);  // pictures and text made, queues full

  // Taken in turn, so that other work on the machine weighs on both alike;
  // the median of the pairs' ratios, as a stretch now and then is hit hard.
  constexpr double kStretchMs = 100;
  double ms[2] = {0, 0};
  int64_t frames[2] = {0, 0};
  std::vector<double> ratios;
  double without = 0;
  for (int stretch = 0; stretch < std::max(2, int(seconds * 1000 / kStretchMs)); ++stretch) {
    const bool shown = stretch % 2 == 1;
    const auto t0 = Clock::now();
    int64_t n = 0;
    while (MsSince(t0) < kStretchMs) {
      frame(shown);
      ++n;
    }
    const double took = MsSince(t0);
    ms[shown] += took;
    frames[shown] += n;
    if (shown)
      ratios.push_back(took / double(n) / without);
    else
      without = took / double(n);
  }
  SetGLPacing(true);
  const double ratio = Median(ratios);
  std::printf("5. stats panel over a still slide of the demo at %dx%d, frames forced, unpaced:\n",
              kW, kH);
  std::printf(
      "   without %.3f ms a frame (%lld frames), with %.3f ms (%lld frames); median ratio of %zu "
      "pairs of %.0f ms stretches %.3f %s\n",
      ms[0] / double(frames[0]), (long long)frames[0], ms[1] / double(frames[1]),
      (long long)frames[1], ratios.size(), kStretchMs, ratio,
      ratio <= 1.05 ? "(ok, target 1.05)" : "(missed, target 1.05)");
  verdicts.Met(ratio <= 1.05);
}

// ---- --play ----

long StatusKb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  return -1;
}

int PlayShow(const std::string& show, int w, int h) {
  // The slide times, to tell how late each slide's first frame came.
  std::string message;
  std::unique_ptr<TLumShowLocator> loc = TLumShowLocator::OpenAny(show, message);
  if (!loc) throw std::runtime_error(show + ": " + message);
  const TLumSource times(loc->Accessor(), CopyDocument(loc->Document()));

  const auto t0 = Clock::now();
  std::unique_ptr<TMainForm> form = OpenPlayer(show, w, h);
  TLumEngine* engine = form->Viewer().Engine();
  const double duration = engine->Status().duration;
  const double timeoutMs = duration * 4 + 120000;
  double firstActiveMs = -1, firstPosition = 0;
  int64_t frames = engine->Status().framesDrawn, nextMark = 0;
  long peakRss = 0;
  // Resident memory as the show goes on: a steady rise means slides are kept.
  std::string rssBySlide;
  TEngineStatus s;
  while (MsSince(t0) < timeoutMs) {
    TWindowThread::Pump(10);
    s = engine->Status();
    if (firstActiveMs < 0 && s.active) {
      firstActiveMs = MsSince(t0);
      firstPosition = s.position;
    }
    frames = s.framesDrawn;
    const long rss = StatusKb("VmRSS:");
    peakRss = std::max(peakRss, rss);
    if (s.slide >= nextMark) {
      char buf[48];
      std::snprintf(buf, sizeof buf, " %lld:%.0f", (long long)s.slide, rss / 1024.0);
      rssBySlide += buf;
      nextMark = s.slide + 10;
    }
    if (s.ended) break;
  }
  const double endMs = MsSince(t0);
  const long hwm = StatusKb("VmHWM:");
  // A slide's picture shows once its first frame is drawn: the show time that
  // frame began at plus how long it took, against the slide's start. The
  // engine logs the frames over 50 ms.
  const std::vector<std::string> slowLines = gLog->All("a frame took");
  std::vector<double> late;
  int64_t lateSlide = -1;
  for (const std::string& l : slowLines) {
    double took = 0, at = 0;
    const size_t k = l.find("a frame took ");
    if (std::sscanf(l.c_str() + k, "a frame took %lf ms at %lf", &took, &at) != 2) continue;
    const int64_t slide = times.SlideAt(at);
    if (slide == lateSlide || at < firstPosition + 1000) continue;
    lateSlide = slide;
    late.push_back(at + took - times.Slide(slide).start);
  }
  const std::string loader = LoaderNote();
  ClosePlayer(form);

  const bool memoryOk = hwm >= 0 && hwm / 1024.0 <= 400;
  std::printf("play %s in a %dx%d window (in this process)\n", show.c_str(), w, h);
  std::printf("   peak memory VmHWM %.1f MB %s (largest VmRSS seen %.1f MB)\n", hwm / 1024.0,
              hwm < 0    ? "(not measured)"
              : memoryOk ? "(ok, <= 400)"
                         : "(missed, over 400)",
              peakRss / 1024.0);
  std::printf("   VmRSS in MB at slide (0-based):%s\n", rssBySlide.c_str());
  if (!s.ended) std::printf("   the show did not end within %.0f s (missed)\n", timeoutMs / 1000);
  const double played = endMs - firstActiveMs, shown = duration - firstPosition;
  std::printf(
      "   played the show from %.0f ms to its end (%.1f s of show time) in %.1f s: %.2fx; "
      "%.1f s from the start of this program\n",
      firstPosition, shown / 1000, played / 1000, played / shown, endMs / 1000);
  std::sort(late.begin(), late.end());
  if (!late.empty())
    std::printf(
        "   slides whose first frame took over 50 ms: %zu; their picture showed after "
        "the slide began by (ms) median %.0f, 90th percentile %.0f, most %.0f\n",
        late.size(), Median(late), late[late.size() * 9 / 10], late.back());
  std::printf("   frames drawn %lld; frames over 50 ms logged by the engine %zu, e.g.\n",
              (long long)frames, slowLines.size());
  for (size_t i = 0; i < slowLines.size() && i < 3; ++i)
    std::printf("     %s\n", slowLines[i].c_str());
  std::printf("   %s\n", loader.c_str());
  if (!s.ended || (hwm >= 0 && !memoryOk)) return 2;
  return hwm < 0 ? 3 : 0;
}

struct TArgs {
  double seconds = 60;
  std::string only = "fps,cpu,launch,video,overlay";
  std::string pacing = "both";
  std::string play;
  std::string log;  // every log line of the players in this process
  int w = 1920, h = 1080;
};

TArgs Parse(int argc, char** argv) {
  TArgs a;
  for (int i = 1; i < argc; ++i) {
    const std::string k = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(k + " wants a value");
      return argv[++i];
    };
    if (k == "--seconds") {
      a.seconds = std::atof(value().c_str());
      if (!(a.seconds > 0)) throw std::runtime_error("--seconds wants a positive number");
    } else if (k == "--only") {
      a.only = value();
    } else if (k == "--pacing") {
      a.pacing = value();
      if (a.pacing != "on" && a.pacing != "off" && a.pacing != "both")
        throw std::runtime_error("--pacing is on, off or both");
    } else if (k == "--log") {
      a.log = value();
    } else if (k == "--play") {
      a.play = value();
    } else if (k == "--size") {
      if (std::sscanf(value().c_str(), "%dx%d", &a.w, &a.h) != 2 || a.w < 16 || a.h < 16)
        throw std::runtime_error("--size is WxH");
    } else {
      throw std::runtime_error("unknown argument " + k);
    }
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  TArgs args;
  try {
    args = Parse(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr,
                 "bench_player: %s\nusage: bench_player [--seconds N] "
                 "[--only fps,cpu,launch,video,overlay] "
                 "[--pacing on|off|both] [--log FILE]\n"
                 "       bench_player --play PROJECT [--size WxH] [--log FILE]\n",
                 e.what());
    return 1;
  }
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
#ifdef LUM_VIDEO_PLUGIN_PATH
  // The player in this process finds the plugin of this build.
  setenv("LUM_VIDEO_PLUGIN", LUM_VIDEO_PLUGIN_PATH, 0);
#endif
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  auto log = std::make_unique<TBenchLog>(args.log);
  gLog = log.get();
  SetLog(std::move(log));

  TVerdicts verdicts;
  try {
    std::string error;
    if (!TWindowThread::Init(&error)) throw std::runtime_error("no display: " + error);
    if (!args.play.empty()) {
      const int code = PlayShow(args.play, args.w, args.h);
      TWindowThread::Shutdown();
      return code;
    }
    const std::string demo = LUM_DEMO_SHOW;
    if (!fs::is_regular_file(demo)) throw std::runtime_error("no demo show at " + demo);
    std::printf(
        "machine: %u CPU cores shared with other work; software GL; "
        "SDL_VIDEODRIVER=%s SDL_AUDIODRIVER=%s\n",
        std::thread::hardware_concurrency(), std::getenv("SDL_VIDEODRIVER"),
        std::getenv("SDL_AUDIODRIVER"));
    auto wants = [&](const char* figure) { return args.only.find(figure) != std::string::npos; };

    if (wants("fps")) {
      std::vector<bool> modes;
      if (args.pacing != "off") modes.push_back(true);
      if (args.pacing != "on") modes.push_back(false);
      for (bool paced : modes) {
        SetGLPacing(paced);
        std::vector<std::string> notes;
        const TLoopFigures p = PlayerRun(demo, args.seconds, notes);
        const TLoopFigures b = BareRun(demo, args.seconds, paced, p.startTime);
        ReportFps(paced ? "paced to the display refresh (as the player runs)" : "unpaced", p, b,
                  notes, verdicts);
      }
      SetGLPacing(true);
    }

    char tmpl[] = "/tmp/bench_player.XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("no temporary folder");
    const fs::path dir = tmpl;
    struct TCleanup {
      fs::path p;
      ~TCleanup() {
        std::error_code ec;
        fs::remove_all(p, ec);
      }
    } cleanup{dir};
    if (wants("cpu")) CpuFigure(demo, dir, verdicts);
    if (wants("launch")) LaunchFigure(demo, dir, verdicts);
    if (wants("video")) VideoFigure(dir, args.seconds, verdicts);
    if (wants("overlay")) OverlayFigure(demo, args.seconds, verdicts);
  } catch (const std::exception& e) {
    std::printf("bench_player: %s\n", e.what());
    return 1;
  }
  TWindowThread::Shutdown();
  const int status = verdicts.ExitStatus();
  std::printf("bench_player: %s\n", status == 0   ? "every target met"
                                    : status == 2 ? "a target was missed"
                                                  : "a figure could not be measured");
  return status;
}
