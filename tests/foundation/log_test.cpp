// The process log: line format, file log, banners, log location, and log times.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "foundation/clock.h"
#include "foundation/file_stream.h"
#include "foundation/log.h"
#include "foundation/memory_stream.h"
#include "foundation/paths.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::ReadFile;
using test::TTempDir;

const char kBom[] = "\xEF\xBB\xBF";

// Matches text against a shape: "%d" is one or more decimal digits, "%x" four or
// more upper-case hex digits, "%t" a log time "DD.MM.YYYY HH:MM:SS.mmm", "%*" the
// rest; anything else stands for itself. The "%" parts are appended to parts.
bool Shaped(std::string_view s, std::string_view shape, std::vector<std::string>* parts = nullptr) {
  auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0;
  for (size_t k = 0; k < shape.size(); ++k) {
    if (shape[k] != '%' || k + 1 == shape.size()) {
      if (i == s.size() || s[i++] != shape[k]) return false;
      continue;
    }
    size_t from = i;
    switch (shape[++k]) {
      case 'd':
        while (i < s.size() && isDigit(s[i])) ++i;
        if (i == from) return false;
        break;
      case 'x':
        while (i < s.size() && isHex(s[i])) ++i;
        if (i - from < 4) return false;
        break;
      case 't':
        for (char c : std::string_view("99.99.9999 99:99:99.999")) {
          if (i == s.size() || (c == '9' ? !isDigit(s[i]) : s[i] != c)) return false;
          ++i;
        }
        break;
      default:
        i = s.size();
        break;
    }
    if (parts) parts->emplace_back(s.substr(from, i - from));
  }
  return i == s.size();
}

// The lines of a log file after its byte-order mark; fails on a line end other than CR LF.
std::vector<std::string> LinesOf(const std::string& path) {
  std::string text = ReadFile(path);
  EXPECT_EQ(text.substr(0, 3), kBom);
  text.erase(0, 3);
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated last line: " << text.substr(at);
      break;
    }
    lines.push_back(text.substr(at, end - at));
    EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
    at = end + 2;
  }
  return lines;
}

// Captures what a log would write.
class TRecordingLog : public TExclLog {
 public:
  std::vector<std::string> lines;

 protected:
  void Emit(std::string_view line) override { lines.emplace_back(line); }
};

std::string HexThreadId() {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04lX", long(gettid()));
  return buf;
}

TEST(Log, LineFormat) {
  TLog log;
  std::vector<std::string> parts;
  std::string line = log.Format("hello");
  int64_t before = MsSinceStart();
  ASSERT_TRUE(Shaped(line, "#%x [%d] hello", &parts)) << line;
  EXPECT_EQ(parts[0], HexThreadId());
  EXPECT_LE(std::stoll(parts[1]), before);

  log.SetPrefix("P> ");
  EXPECT_TRUE(Shaped(log.Format("x"), "P> #%x [%d] x")) << log.Format("x");
  log.SetThreadIds(false);
  EXPECT_TRUE(Shaped(log.Format("x"), "P> [%d] x")) << log.Format("x");
  log.SetTimes(false);
  EXPECT_EQ(log.Format("x"), "P> x");
  log.SetThreadIds(true);
  EXPECT_EQ(log.Format(""), "P> #" + HexThreadId() + " ");

  // Each thread shows its own id.
  std::string other;
  std::thread([&] { other = log.Format(""); }).join();
  EXPECT_NE(other, log.Format(""));
  EXPECT_TRUE(Shaped(other, "P> #%x ")) << other;
}

TEST(Log, SilentLogWritesNothing) {
  // A log that could write but is not enabled: the base class decides.
  class TSilentRecorder : public TLog {
   public:
    int emitted = 0;

   protected:
    void Emit(std::string_view) override { ++emitted; }
  } log;
  EXPECT_FALSE(log.Enabled());
  log.Line("dropped");
  log.StartBanner();
  log.EndBanner();
  EXPECT_EQ(log.emitted, 0);

  TRecordingLog enabled;
  EXPECT_TRUE(enabled.Enabled());
  enabled.Line("kept");
  ASSERT_EQ(enabled.lines.size(), 1u);
}

TEST(Log, FileLogWritesUtf8WithCrLf) {
  TTempDir dir;
  std::string path = dir.Write("app.log", "stale content from the last run");
  {
    TFileLog log(path);
    log.SetThreadIds(false);
    log.SetTimes(false);
    log.Line("first");
    log.Line("Größe: 5 €");
    log.Line("");
    // Written through at once: a crash must not lose the lines before it.
    EXPECT_EQ(ReadFile(path), std::string(kBom) + "first\r\nGröße: 5 €\r\n\r\n");
  }
  EXPECT_EQ(LinesOf(path), (std::vector<std::string>{"first", "Größe: 5 €", ""}));
}

TEST(Log, ByteOrderMarkOnlyIntoAnEmptyFile) {
  TTempDir dir;
  std::string path = dir.Write("app.log", "");
  for (const char* text : {"one", "two"}) {
    TStreamLog log(std::make_unique<TFileStream>(path, TFileStream::TMode::OpenReadWrite));
    log.SetThreadIds(false);
    log.SetTimes(false);
    log.Line(text);
  }
  EXPECT_EQ(ReadFile(path), std::string(kBom) + "one\r\ntwo\r\n");

  std::string old = dir.Write("old.log", "old\r\n");
  {
    TStreamLog log(std::make_unique<TFileStream>(old, TFileStream::TMode::OpenReadWrite));
    log.SetThreadIds(false);
    log.SetTimes(false);
    log.Line("new");
  }
  EXPECT_EQ(ReadFile(old), "old\r\nnew\r\n");
}

TEST(Log, ControlCharactersAreEscaped) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"Slide \x1b[2J", "Slide \\x1b[2J"},
      {"a\tb\r\nc", "a\\x09b\\x0d\\x0ac"},
      {std::string("nul\0!", 5), "nul\\x00!"},
      {"del\x7f", "del\\x7f"},
      {"csi\u009b2J", "csi\\u009b2J"},                                 // C1 in UTF-8
      {"Gr\u00f6\u00dfe\u00a0\u20ac", "Gr\u00f6\u00dfe\u00a0\u20ac"},  // printable beyond ASCII
      {std::string("raw\x9b") + "2J \xc3", "raw\\x9b2J \\xc3"},        // bytes outside UTF-8
      {"C:\\Photos\\a.jpg", "C:\\Photos\\a.jpg"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeControlChars(c.in), c.out) << c.in;

  // A log line quoting show text reaches the file escaped, and stays one line.
  TTempDir dir;
  std::string path = dir / "app.log";
  {
    TFileLog log(path);
    log.SetThreadIds(false);
    log.SetTimes(false);
    log.Line("Slide loaded: \x1b[2J\u009b\x7f\r\nforged line");
  }
  EXPECT_EQ(LinesOf(path),
            (std::vector<std::string>{"Slide loaded: \\x1b[2J\\u009b\\x7f\\x0d\\x0aforged line"}));
}

TEST(Log, StartBanner) {
  TTempDir dir;
  std::string path = dir / "app.log";
  {
    TFileLog log(path);  // thread ids and times on: the banner must not show them
    log.StartBanner();
    log.Line("after");
  }
  std::vector<std::string> lines = LinesOf(path);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], std::string(64, '='));
  EXPECT_EQ(lines[2], "Program : " + ExecutablePath());
  EXPECT_TRUE(Shaped(lines[3], "started : %t")) << lines[3];
  EXPECT_EQ(lines[3], "started : " + FormatLogTime(ProgramStartTime()));
  EXPECT_EQ(lines[4], std::string(64, '='));
  EXPECT_TRUE(Shaped(lines[5], "#%x [%d] after")) << lines[5];
}

TEST(Log, EndBanner) {
  TTempDir dir;
  std::string path = dir / "app.log";
  {
    TFileLog log(path);
    log.EndBanner();
  }
  int64_t after = MsSinceStart();
  std::vector<std::string> lines = LinesOf(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], std::string(64, '-'));
  std::vector<std::string> parts;
  ASSERT_TRUE(Shaped(lines[2], "Program stoped : %t (work time : %d ms)", &parts)) << lines[2];
  EXPECT_LE(std::stoll(parts[1]), after);
  EXPECT_EQ(lines[3], std::string(64, '-'));
}

TEST(Log, BannersCarryThePrefix) {
  TRecordingLog log;
  log.SetPrefix("P> ");
  log.StartBanner();
  log.EndBanner();
  ASSERT_EQ(log.lines.size(), 9u);
  for (const std::string& l : log.lines) EXPECT_EQ(l.rfind("P> ", 0), 0u) << l;
  EXPECT_EQ(log.lines[0], "P> ");
  EXPECT_EQ(log.lines[2], "P> Program : " + ExecutablePath());
}

TEST(Log, ThreadsWriteWholeLines) {
  TTempDir dir;
  std::string path = dir / "app.log";
  constexpr int kThreads = 4, kLines = 250;
  {
    TFileLog log(path);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kLines; ++i) {
          log.Line("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                   std::string(200, char('a' + t)));
        }
      });
    }
    for (auto& th : threads) th.join();
  }
  std::vector<std::string> lines = LinesOf(path);
  ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& l : lines) {
    std::vector<std::string> parts;
    ASSERT_TRUE(Shaped(l, "#%x [%d] thread %d line %d %*", &parts)) << l;
    int t = std::stoi(parts[2]);
    ASSERT_TRUE(t >= 0 && t < kThreads) << l;
    ASSERT_EQ(parts[4], std::string(200, char('a' + t))) << l;
    ASSERT_EQ(std::stoi(parts[3]), next[size_t(t)]++) << l;
  }
}

// Sets an environment variable for one test and restores it afterwards.
class TEnvGuard {
 public:
  TEnvGuard(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~TEnvGuard() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(Log, DefaultLogPath) {
  TTempDir dir;
  TEnvGuard state("XDG_STATE_HOME", dir / "state/nested");
  EXPECT_EQ(DefaultLogPath(dir / "lumviewer"), dir / "lumviewer.log");
  EXPECT_EQ(DefaultLogPath(dir / "show.bin"), dir / "show.log");

  // A folder that cannot take the file: the log goes to the user's state folder.
  std::string fallback = dir / "state/nested/lumviewer/";
  EXPECT_EQ(DefaultLogPath(dir / "missing/show.bin"), fallback + "show.log");
  struct stat st;
  ASSERT_EQ(stat(fallback.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  std::string locked = dir / "locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
  if (access(locked.c_str(), W_OK) != 0) {  // not when running with root's rights
    EXPECT_EQ(DefaultLogPath(locked + "/show"), fallback + "show.log");
  }

  TFileLog log(DefaultLogPath(dir / "missing/show.bin"));
  log.Line("x");
  EXPECT_EQ(ReadFile(fallback + "show.log").substr(0, 3), kBom);
}

TEST(Log, InstallFileLog) {
  TTempDir dir;
  EXPECT_FALSE(InstallFileLog(dir / "missing/app.log"));
  EXPECT_FALSE(Log().Enabled());  // a failed install leaves a discarding log
  Log().Line("nowhere");

  std::string path = dir / "app.log";
  ASSERT_TRUE(InstallFileLog(path));
  EXPECT_TRUE(Log().Enabled());
  Log().SetThreadIds(false);
  Log().SetTimes(false);
  Log().Line("global");
  SetLog(std::make_unique<TLog>());
  EXPECT_FALSE(Log().Enabled());
  EXPECT_EQ(ReadFile(path), std::string(kBom) + "global\r\n");
}

// A local wall-clock time point.
std::chrono::system_clock::time_point LocalTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST(Clock, FormatLogTime) {
  EXPECT_EQ(FormatLogTime(LocalTime(2021, 3, 5, 7, 8, 9) + std::chrono::milliseconds(7)),
            "05.03.2021 07:08:09.007");
  EXPECT_EQ(FormatLogTime(LocalTime(1999, 12, 31, 23, 59, 59) + std::chrono::microseconds(999999)),
            "31.12.1999 23:59:59.999");
  EXPECT_TRUE(Shaped(FormatLogTime(std::chrono::system_clock::now()), "%t"));
  EXPECT_FALSE(Shaped("5.03.2021 07:08:09.007", "%t"));  // the shape check itself is strict
  EXPECT_LE(ProgramStartTime(), std::chrono::system_clock::now());
}

}  // namespace
}  // namespace lum
