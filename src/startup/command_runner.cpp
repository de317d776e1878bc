#include "startup/command_runner.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "container/disk_path.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "startup/commands_storage.h"

extern char** environ;

namespace lum {

namespace {

// Words a show may not run: the system's own list, then POSIX shells,
// interpreters and file-destroying tools.
constexpr std::string_view kProhibitedWords[] = {
    ">",     "at",     "attrib",  "call",  "cmd",     "command",  "copy",     "del",    "deltree",
    "erase", "for",    "format",  "fdisk", "runonce", "move",     "net",      "runas",  "net1",
    "ren",   "rename", "replace", "rmdir", "rd",      "recover",  "regedit",  "rundll", "qstart",
    "start", "sys",    "type",    "xcopy", "regsrv",  "regedt32", "regsvr32", "rcp",    "ftp",
    "tftp",  "sh",     "bash",    "dash",  "zsh",     "env",      "sudo",     "su",     "rm",
    "mv",    "cp",     "dd",      "mkfs",  "chmod",   "chown",    "curl",     "wget",   "nc",
    "ssh",   "scp",    "python",  "perl"};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

// Lower-case A-Z, without folders and without anything from the first ".".
std::string NormaliseWord(std::string_view word) {
  size_t sep = word.find_last_of("\\/");
  if (sep != std::string_view::npos) word.remove_prefix(sep + 1);
  word = word.substr(0, word.find('.'));
  std::string out(word);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return out;
}

bool IsListed(std::string_view word) {
  if (word.empty()) return false;
  for (std::string_view w : kProhibitedWords) {
    if (w == word) return true;
  }
  return false;
}

// "python3" and "mkfs2" are the listed programs under a versioned name.
bool IsProhibitedWord(std::string_view word) {
  if (IsListed(word)) return true;
  while (!word.empty() && word.back() >= '0' && word.back() <= '9') word.remove_suffix(1);
  return IsListed(word);
}

bool NotFound(int error) {
  return error == ENOENT || error == ENOTDIR;
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

// One leading and one trailing double quote off.
std::string StripOuterQuotes(std::string_view s) {
  if (!s.empty() && s.front() == '"') s.remove_prefix(1);
  if (!s.empty() && s.back() == '"') s.remove_suffix(1);
  return std::string(s);
}

}  // namespace

std::vector<std::string> SplitCommands(std::string_view text) {
  std::vector<std::string> commands;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == '"') quoted = !quoted;
    if (i < text.size() && (text[i] != ',' || quoted)) continue;
    std::string_view command = Trim(text.substr(start, i - start));
    if (!command.empty()) commands.emplace_back(command);
    start = i + 1;
  }
  return commands;
}

std::string CommandWord(std::string_view command) {
  if (command.find('>') != std::string_view::npos) return ">";
  std::string cleaned;
  bool quoted = false;
  for (char c : command) {
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted && IsBlank(c)) {
      cleaned += '_';
    } else if (c != '@' && c != '|') {
      cleaned += c;
    }
  }
  // Leading blanks left by a deleted "@" or quote must not hide the word.
  size_t begin = 0;
  while (begin < cleaned.size() && IsBlank(cleaned[begin])) ++begin;
  size_t end = begin;
  while (end < cleaned.size() && !IsBlank(cleaned[end])) ++end;
  return NormaliseWord(std::string_view(cleaned).substr(begin, end - begin));
}

bool IsProhibitedCommand(std::string_view command) {
  if (IsProhibitedWord(CommandWord(command))) return true;
  // The file that would really start, which quotes can make differ from the
  // command's first word (s"h -c" ...).
  TCommandParts parts = SplitFileAndParameters(command);
  return IsProhibitedWord(NormaliseWord(UnquoteToken(parts.file)));
}

TCommandParts SplitFileAndParameters(std::string_view command) {
  const bool fileQuoted = !command.empty() && command.front() == '"';
  size_t end = fileQuoted ? command.find('"', 1) : command.find_first_of(" \t");
  if (fileQuoted && end != std::string_view::npos) ++end;
  std::string_view file = command.substr(0, end);
  std::string_view params = end < command.size() ? command.substr(end) : std::string_view();
  TCommandParts parts;
  parts.file = std::string(Trim(UnquoteToken(file)));
  parts.parameters = std::string(Trim(UnquoteToken(params)));
  if (fileQuoted) parts.file = '"' + parts.file + '"';
  if (params.find('"') != std::string_view::npos) parts.parameters = '"' + parts.parameters + '"';
  return parts;
}

std::vector<std::string> ParameterVector(std::string_view parameters) {
  return TokenizeCommandLine(parameters);
}

std::string WebAddress(std::string_view text) {
  text = Trim(text);
  if (text.starts_with("http://") || text.starts_with("https://")) return std::string(text);
  return "http://" + std::string(text);
}

std::string MailAddress(std::string_view text) {
  text = Trim(text);
  if (text.starts_with("mailto:")) return std::string(text);
  return "mailto:" + std::string(text);
}

namespace {

// The program's signals start at their defaults (the player ignores SIGPIPE)
// and unblocked; it gets a session of its own.
void InitSpawnAttributes(posix_spawnattr_t& attr) {
  posix_spawnattr_init(&attr);
  sigset_t mask, defaults;
  sigemptyset(&mask);
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGUSR1, SIGUSR2})
    sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &mask);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
}

// Waits for the child on a thread of its own, so it leaves no zombie and no
// process-wide SIGCHLD handling is needed.
void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to reap it: the child stays a zombie until we exit.
  }
}

}  // namespace

int SpawnDetached(const TSpawnRequest& request) {
  std::vector<char*> argv;
  for (const std::string& a : request.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!request.workingFolder.empty())
    posix_spawn_file_actions_addchdir_np(&actions, request.workingFolder.c_str());
  // Lock files and sockets of the player must not live on in the program.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  InitSpawnAttributes(attr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, request.file.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) ReapInBackground(pid);
  return rc;
}

TCommandRunner::TCommandRunner(std::string exeFolder, TSpawnFunction spawn)
    : exeFolder_(std::move(exeFolder)), spawn_(std::move(spawn)) {
  if (!spawn_) spawn_ = SpawnDetached;
}

TRunResult TCommandRunner::RunCommandLines(std::string_view text) {
  TRunResult result;
  std::vector<std::string> commands = SplitCommands(text);
  for (const std::string& c : commands) {
    if (IsProhibitedCommand(c)) {
      Log().Line("Run refused: " + std::string(text));
      return {TRunResult::TStatus::Refused, kProhibitedCommandMessage, 0};
    }
  }
  for (const std::string& c : commands) {
    TCommandParts parts = SplitFileAndParameters(c);
    int error = RunOne(parts);
    std::string what = parts.file + (parts.parameters.empty() ? "" : " " + parts.parameters);
    if (error == 0) {
      ++result.started;
      Log().Line("Run: " + what);
      continue;
    }
    Log().Line("Run failed: " + what + " (" + ErrorText(error) + ")");
    if (result.status == TRunResult::TStatus::Ran) {
      result.status = TRunResult::TStatus::Failed;
      result.message = ErrorText(error) + ": " + UnquoteToken(parts.file);
    }
  }
  return result;
}

TRunResult TCommandRunner::OpenWebPage(std::string_view text) {
  return OpenAddress(WebAddress(text));
}

TRunResult TCommandRunner::SendMail(std::string_view text) {
  return OpenAddress(MailAddress(text));
}

TRunResult TCommandRunner::OpenAddress(const std::string& address) {
  if (IsProhibitedCommand(address)) {
    Log().Line("Open refused: " + address);
    return {TRunResult::TStatus::Refused, kProhibitedCommandMessage, 0};
  }
  int error = spawn_({"xdg-open", {"xdg-open", address}, {}});
  if (error != 0) {
    Log().Line("Open failed: " + address + " (" + ErrorText(error) + ")");
    return {TRunResult::TStatus::Failed, ErrorText(error) + ": xdg-open", 0};
  }
  Log().Line("Open: " + address);
  return {TRunResult::TStatus::Ran, {}, 1};
}

int TCommandRunner::RunOne(const TCommandParts& parts) {
  const std::string file = UnquoteToken(parts.file);
  int error = Start(MapFile(file), ParameterVector(parts.parameters), {});
  if (!NotFound(error)) return error;
  if (parts.parameters.empty()) return RunWithoutParameters(file);
  if (parts.parameters.size() <= 5) return error;
  std::string stripped = StripOuterQuotes(parts.parameters);
  if (stripped == parts.parameters) return error;
  return Start(MapFile(file), ParameterVector(stripped), {});
}

int TCommandRunner::RunWithoutParameters(const std::string& file) {
  if (exeFolder_.empty()) return ENOENT;
  const std::string folder = IncludeTrailingSlash(exeFolder_);
  const std::string name(ExtractFileName(file));
  if (!name.empty()) {
    std::string found = MatchPathCaseInsensitive(folder + name);
    int error =
        Start("./" + (found.empty() ? name : std::string(ExtractFileName(found))), {}, exeFolder_);
    if (!NotFound(error)) return error;
  }
  std::string asGiven = folder + ToPosixSeparators(file);
  std::string found = MatchPathCaseInsensitive(asGiven);
  return Start(found.empty() ? asGiven : found, {}, {});
}

int TCommandRunner::Start(const std::string& file, const std::vector<std::string>& args,
                          const std::string& workingFolder) {
  if (file.empty()) return ENOENT;
  if (file.find('/') != std::string::npos) {
    const std::string relative = file.starts_with("./") ? file.substr(2) : file;
    std::string path = file[0] == '/'          ? file
                       : workingFolder.empty() ? CurrentFolder() + relative
                                               : IncludeTrailingSlash(workingFolder) + relative;
    struct stat st;
    const bool document =
        stat(path.c_str(), &st) == 0 &&
        (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) != 0));
    // What the shell's "open" does with a file that is no program.
    if (document) return spawn_({"xdg-open", {"xdg-open", path}, workingFolder});
  }
  std::vector<std::string> argv{file};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawn_({file, std::move(argv), workingFolder});
}

std::string TCommandRunner::MapFile(const std::string& file) const {
  const bool drive = file.size() >= 2 && file[1] == ':';
  if (!drive && file.find_first_of("/\\") == std::string::npos) return file;
  std::string found = FindDiskFile(file, exeFolder_);
  return found.empty() ? ToPosixSeparators(file) : found;
}

}  // namespace lum
