#include "foundation/log.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fmt/format.h>

#include "foundation/clock.h"
#include "foundation/file_stream.h"
#include "foundation/paths.h"
#include "foundation/utf.h"

namespace lum {

namespace {

const std::string kBannerEquals(64, '=');
const std::string kBannerDashes(64, '-');

long ThreadId() {
  return syscall(SYS_gettid);
}

}  // namespace

std::string TLog::Format(std::string_view text) const {
  std::string line = prefix_;
  if (threadIds_) line += fmt::format("#{:04X} ", ThreadId());
  if (times_) line += fmt::format("[{}] ", MsSinceStart());
  line += EscapeControlChars(text);
  return line;
}

void TLog::Line(std::string_view text) {
  if (!Enabled()) return;
  std::string line = Format(text);
  EmitLines({line});
}

void TLog::EmitLines(std::initializer_list<std::string_view> lines) {
  for (std::string_view l : lines) Emit(l);
}

void TLog::StartBanner() {
  if (!Enabled()) return;
  // Banners are written without thread-id and time prefixes.
  std::string program = prefix_ + "Program : " + ExecutablePath();
  std::string started = prefix_ + "started : " + FormatLogTime(ProgramStartTime());
  std::string eq = prefix_ + kBannerEquals;
  EmitLines({prefix_, eq, program, started, eq});
}

void TLog::EndBanner() {
  if (!Enabled()) return;
  std::string stopped = prefix_ +
                        "Program stoped : " + FormatLogTime(std::chrono::system_clock::now()) +
                        " (work time : " + std::to_string(MsSinceStart()) + " ms)";
  std::string dash = prefix_ + kBannerDashes;
  EmitLines({prefix_, dash, stopped, dash});
}

void TExclLog::EmitLines(std::initializer_list<std::string_view> lines) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::string_view l : lines) Emit(l);
}

void TStdLog::Emit(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
}

TStreamLog::TStreamLog(std::unique_ptr<TStream> stream) : stream_(std::move(stream)) {
  if (stream_->Size() == 0) stream_->WriteBuffer("\xEF\xBB\xBF", 3);
}

void TStreamLog::Emit(std::string_view line) {
  try {
    std::string l(line);
    l += "\r\n";
    stream_->Seek(0, TSeekOrigin::End);
    stream_->WriteBuffer(l.data(), l.size());
    if (auto* f = dynamic_cast<TFileStream*>(stream_.get())) f->Flush();
  } catch (...) {
    // A full disk must not take the program down with it.
  }
}

TFileLog::TFileLog(const std::string& path)
    : TStreamLog(std::make_unique<TFileStream>(path, TFileStream::TMode::Create)) {}

namespace {
std::mutex gLogMutex;
std::atomic<TLog*> gLog{nullptr};
std::vector<std::unique_ptr<TLog>>& Logs() {
  static auto* logs = new std::vector<std::unique_ptr<TLog>>();  // outlives static destructors
  return *logs;
}
}  // namespace

TLog& Log() {
  TLog* l = gLog.load(std::memory_order_acquire);
  if (l) return *l;
  std::lock_guard<std::mutex> lock(gLogMutex);
  if (!gLog.load()) {
    Logs().push_back(std::make_unique<TLog>());
    gLog.store(Logs().back().get(), std::memory_order_release);
  }
  return *gLog.load();
}

void SetLog(std::unique_ptr<TLog> log) {
  std::lock_guard<std::mutex> lock(gLogMutex);
  Logs().push_back(std::move(log));
  gLog.store(Logs().back().get(), std::memory_order_release);
}

std::string DefaultLogPath(const std::string& executablePath) {
  std::string folder(ExtractFilePath(executablePath));
  if (!folder.empty() && access(folder.c_str(), W_OK) == 0)
    return ChangeFileExt(executablePath, ".log");
  std::string state;
  if (const char* s = std::getenv("XDG_STATE_HOME"); s && *s) {
    state = s;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    state = std::string(h) + "/.local/state";
  } else {
    state = "/tmp";
  }
  std::string dir = IncludeTrailingSlash(state) + "lumviewer/";
  // Create the folder chain; failures show up when the file is opened.
  for (size_t i = 1; i < dir.size(); ++i) {
    if (dir[i] == '/') mkdir(dir.substr(0, i).c_str(), 0700);
  }
  return dir + std::string(ExtractFileName(ChangeFileExt(executablePath, ".log")));
}

bool InstallFileLog(const std::string& path) {
  try {
    SetLog(std::make_unique<TFileLog>(path));
    return true;
  } catch (const std::exception&) {
    SetLog(std::make_unique<TLog>());
    return false;
  }
}

std::string EscapeControlChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += char(c);
      ++i;
      continue;
    }
    const size_t from = i;
    const char32_t cp = c < 0x80 ? c : DecodeUtf8(text, i);
    if (c < 0x80 || i == from + 1) {
      out += fmt::format("\\x{:02x}", c);  // C0, DEL, or a byte outside any sequence
      i = from + 1;
    } else if (cp < 0xA0) {
      out += fmt::format("\\u{:04x}", uint32_t(cp));
    } else {
      out.append(text.substr(from, i - from));
    }
  }
  return out;
}

}  // namespace lum
