#pragma once
// The process-wide log. TLog discards lines; TExclLog serialises them;
// TStdLog writes to the diagnostic output (stderr); TStreamLog writes to a
// stream and TFileLog to a file (UTF-8 with byte-order mark, CR LF lines).
// Line: prefix, optionally "#" + thread id in hex + " ", optionally
// "[" + ms since start + "] ", then the text with its control characters
// escaped (lines often quote what a show supplied).
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "foundation/stream.h"

namespace lum {

class TLog {
 public:
  virtual ~TLog() = default;

  void Line(std::string_view text);
  void StartBanner();
  void EndBanner();
  // False for the discarding log, so callers can skip building costly texts.
  virtual bool Enabled() const { return false; }

  void SetPrefix(std::string prefix) { prefix_ = std::move(prefix); }
  void SetThreadIds(bool on) { threadIds_ = on; }
  void SetTimes(bool on) { times_ = on; }

  // The formatted line without the line end.
  std::string Format(std::string_view text) const;

 protected:
  // Writes one formatted line; called under the log's lock where it has one.
  virtual void Emit(std::string_view) {}
  virtual void EmitLines(std::initializer_list<std::string_view> lines);

  std::string prefix_;
  bool threadIds_ = true;
  bool times_ = true;
};

class TExclLog : public TLog {
 public:
  bool Enabled() const override { return true; }

 protected:
  void EmitLines(std::initializer_list<std::string_view> lines) override;
  std::mutex mutex_;
};

class TStdLog : public TExclLog {
 protected:
  void Emit(std::string_view line) override;
};

class TStreamLog : public TExclLog {
 public:
  explicit TStreamLog(std::unique_ptr<TStream> stream);

 protected:
  void Emit(std::string_view line) override;
  std::unique_ptr<TStream> stream_;
};

class TFileLog : public TStreamLog {
 public:
  // Creates (truncates) the file; throws EFOpenError when it cannot.
  explicit TFileLog(const std::string& path);
};

// The global log; a discarding one until SetLog installs another.
TLog& Log();
// Installs a new global log. Earlier logs stay alive until exit, since other
// threads may be writing to them.
void SetLog(std::unique_ptr<TLog> log);

// The log file of a program: its path with ".log", or, when that folder is not
// writable, $XDG_STATE_HOME/lumviewer/ (default ~/.local/state/lumviewer/).
std::string DefaultLogPath(const std::string& executablePath);
// Installs a file log at path; on failure keeps a discarding log and returns false.
bool InstallFileLog(const std::string& path);

// Text that cannot drive a terminal, for log lines and printed show text:
// C0 controls (tab and line ends included), DEL and bytes that are not UTF-8
// become "\x1b"; C1 controls written in UTF-8 become "\u009b". Everything
// else, backslashes included, stays as it is.
std::string EscapeControlChars(std::string_view text);

}  // namespace lum
