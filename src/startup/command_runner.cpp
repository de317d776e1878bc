#include "startup/command_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "container/disk_path.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "startup/commands_storage.h"

extern char** environ;

namespace lum {

namespace {

// Words a show may not run, as a program or anywhere in its arguments: the
// system's own list, then what on POSIX runs other programs or commands
// (shells, wrappers, launchers, terminals, interpreters, debuggers, editors
// and build tools with a command escape), destroys or moves files, or
// changes the system. A deny-list cannot be complete: the user's consent is
// the guard, this only keeps the plainly harmful from being offered.
constexpr std::string_view kProhibitedWords[] = {
    // The system's own list.
    ">", "at", "attrib", "call", "cmd", "command", "copy", "del", "deltree", "erase", "for",
    "format", "fdisk", "runonce", "move", "net", "runas", "net1", "ren", "rename", "replace",
    "rmdir", "rd", "recover", "regedit", "rundll", "qstart", "start", "sys", "type", "xcopy",
    "regsrv", "regedt32", "regsvr32", "rcp", "ftp", "tftp",
    // Shells.
    "sh", "bash", "rbash", "dash", "ash", "zsh", "ksh", "mksh", "pdksh", "csh", "tcsh", "fish",
    "yash", "posh", "elvish", "nu", "xonsh", "pwsh", "powershell", "busybox", "toybox", "exec",
    // Wrappers that start another program.
    "env", "nohup", "setsid", "timeout", "nice", "renice", "ionice", "stdbuf", "unbuffer", "watch",
    "xargs", "find", "script", "expect", "chronic", "ifne", "pee", "parallel", "entr", "flock",
    "lckdo", "setarch", "linux32", "linux64", "numactl", "taskset", "chrt", "prlimit", "cpulimit",
    "trickle", "proxychains", "torsocks", "torify", "firejail", "bwrap", "schroot", "chroot",
    "unshare", "nsenter", "ip", "setpriv", "capsh", "sg", "newgrp", "runuser", "start-stop-daemon",
    "daemonize", "run-parts", "run-one", "xvfb-run", "catchsegv", "fakeroot", "fakechroot", "proot",
    "openvt", "ld", "ld64", "wine", "wine64", "wineconsole",
    // Privilege and session launchers, desktop openers.
    "sudo", "su", "doas", "pkexec", "gksu", "gksudo", "kdesu", "kdesudo", "lxsudo", "beesu",
    "xdg-su", "machinectl", "systemd-run", "systemd-nspawn", "dbus-launch", "dbus-run-session",
    "dbus-send", "gdbus", "busctl", "qdbus", "xdg-open", "xdg-email", "xdg-terminal-exec",
    "xdg-mime", "xdg-settings", "gio", "gvfs-open", "kde-open", "kioclient", "exo-open", "mimeopen",
    "run-mailcap", "gtk-launch", "gtk4-launch", "dex", "kstart",
    // Terminal emulators and multiplexers (they run what follows -e).
    "x-terminal-emulator", "xterm", "uxterm", "lxterm", "koi8rxterm", "gnome-terminal", "konsole",
    "xfce4-terminal", "lxterminal", "mate-terminal", "qterminal", "terminator", "tilix", "kitty",
    "alacritty", "foot", "footclient", "wezterm", "urxvt", "urxvtc", "rxvt", "rxvt-unicode", "st",
    "stterm", "eterm", "aterm", "xvt", "sakura", "guake", "tilda", "yakuake", "terminology",
    "cool-retro-term", "kgx", "gnome-console", "ptyxis", "deepin-terminal", "screen", "tmux",
    "byobu", "dtach", "abduco", "zellij",
    // Interpreters, debuggers, editors and tools with a command escape.
    "python", "pythonw", "pypy", "perl", "ruby", "irb", "jruby", "node", "nodejs", "deno", "bun",
    "npm", "npx", "yarn", "pnpm", "php", "php-cgi", "lua", "luajit", "texlua", "tclsh", "wish",
    "awk", "gawk", "mawk", "nawk", "original-awk", "sed", "gsed", "java", "jshell", "jrunscript",
    "groovy", "scala", "kotlin", "clojure", "rscript", "julia", "octave", "guile", "racket", "sbcl",
    "clisp", "ecl", "swipl", "erl", "escript", "elixir", "iex", "ghci", "runghc", "runhaskell",
    "ocaml", "m4", "dc", "sqlite", "mysql", "psql", "gdb", "lldb", "strace", "ltrace", "valgrind",
    "perf", "bpftrace", "vi", "vim", "nvim", "view", "ex", "ed", "emacs", "emacsclient", "nano",
    "less", "more", "most", "man", "pager", "editor", "sensible-editor", "sensible-pager",
    "sensible-terminal", "make", "cmake", "ninja", "tcc", "pip", "gem", "dpkg", "apt", "apt-get",
    "snap", "flatpak",
    // Network, mail and version-control tools.
    "curl", "wget", "nc", "ncat", "netcat", "socat", "telnet", "ssh", "scp", "sftp", "rsh",
    "rlogin", "aria2c", "lftp", "rsync", "rclone", "git", "hg", "svn", "bzr", "fossil", "mail",
    "mailx", "sendmail", "mutt", "neomutt", "thunderbird", "evolution", "kmail", "claws-mail",
    // File tools that delete, move, overwrite or unpack.
    "rm", "mv", "cp", "dd", "ddrescue", "ln", "unlink", "shred", "wipe", "srm", "truncate",
    "fallocate", "tee", "sponge", "patch", "tar", "cpio", "pax", "ar", "zip", "unzip", "7z", "7za",
    "7zr", "rar", "unrar", "gzip", "gunzip", "bzip2", "bunzip2", "xz", "unxz", "lzma", "zstd",
    "unzstd", "lz4", "chmod", "chown", "chgrp", "chattr", "setfacl", "setfattr", "mkfs", "mke2fs",
    "mkswap", "swapon", "sfdisk", "cfdisk", "parted", "gdisk", "sgdisk", "wipefs", "blkdiscard",
    "hdparm", "mount", "umount", "losetup", "cryptsetup",
    // Processes, services and system settings.
    "kill", "killall", "pkill", "skill", "xkill", "shutdown", "reboot", "poweroff", "halt", "init",
    "telinit", "systemctl", "service", "loginctl", "update-rc", "insmod", "rmmod", "modprobe",
    "sysctl", "iptables", "ip6tables", "nft", "ufw", "useradd", "userdel", "usermod", "passwd",
    "chpasswd", "chsh", "visudo", "vipw", "setcap", "crontab", "batch", "dconf", "gsettings",
    "update-alternatives", "xdotool", "ydotool", "xte", "wtype"};

// Names that stay prohibited with anything after them (loaders name their
// machine, interpreters their flavour).
constexpr std::string_view kProhibitedPrefixes[] = {"ld-linux", "python", "pypy"};

// Where a word of a command ends besides blanks: what shells, option
// parsers and URLs use to glue words together.
constexpr std::string_view kWordSeparators = "\"'`,;:=|&<>()[]{}!$*?#^%+~@";

// Extensions of files that a desktop opener may run instead of show.
constexpr std::string_view kLauncherExtensions[] = {
    "desktop", "directory",  "sh",          "bash",    "zsh", "ksh", "csh", "fish", "command",
    "tool",    "py",         "pyc",         "pyo",     "pyw", "pyz", "pl",  "pm",   "rb",
    "php",     "js",         "mjs",         "cjs",     "lua", "tcl", "awk", "jar",  "war",
    "jnlp",    "appimage",   "run",         "bin",     "elf", "so",  "ko",  "exe",  "com",
    "bat",     "cmd",        "msi",         "ps1",     "vbs", "vbe", "wsf", "wsh",  "hta",
    "scr",     "pif",        "cpl",         "lnk",     "reg", "deb", "rpm", "apk",  "snap",
    "flatpak", "flatpakref", "flatpakrepo", "service", "app", "xpi"};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// Lower-case A-Z, without folders and without anything from the first ".";
// trailing separators go first, so "/bin/sh/" is still "sh".
std::string NormaliseWord(std::string_view word) {
  while (!word.empty() && (word.back() == '/' || word.back() == '\\' || word.back() == '.'))
    word.remove_suffix(1);
  size_t sep = word.find_last_of("\\/");
  if (sep != std::string_view::npos) word.remove_prefix(sep + 1);
  return Lower(word.substr(0, word.find('.')));
}

bool IsListed(std::string_view word) {
  if (word.empty()) return false;
  for (std::string_view w : kProhibitedWords)
    if (w == word) return true;
  return false;
}

bool HasControlCharacter(std::string_view s) {
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 32 && c != '\t') || u == 127) return true;
  }
  return false;
}

// The pieces of a text between blanks, control characters and separators.
void AddPieces(std::string_view text, std::vector<std::string>& words) {
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool end = i == text.size();
    const auto c = end ? 0 : static_cast<unsigned char>(text[i]);
    if (!end && c > 32 && c != 127 && kWordSeparators.find(char(c)) == std::string_view::npos)
      continue;
    if (i > start) {
      std::string w = NormaliseWord(text.substr(start, i - start));
      if (!w.empty()) words.push_back(std::move(w));
    }
    start = i + 1;
  }
}

std::string Without(std::string_view s, std::string_view drop) {
  std::string out;
  for (char c : s)
    if (drop.find(c) == std::string_view::npos) out += c;
  return out;
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool HasFolderPart(std::string_view file) {
  return file.find_first_of("/\\") != std::string_view::npos ||
         (file.size() >= 2 && file[1] == ':');
}

// The first bytes of a regular file (never blocking on a FIFO).
std::string FileStart(const std::string& path, size_t count) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {};
  std::string out(count, '\0');
  struct stat st;
  ssize_t n = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = read(fd, out.data(), count);
  close(fd);
  out.resize(n > 0 ? size_t(n) : 0);
  return out;
}

// Where the file of a command is: a program (bare names through $PATH only),
// or a document or folder for xdg-open.
struct TLocated {
  std::string path;  // resolved; "" when nothing was found
  bool document = false;
  bool refused = false;  // a launcher, or a program only the show's folder has
  int error = 0;
};

TLocated Document(const std::string& path) {
  TLocated r;
  r.path = RealPath(path);
  r.document = true;
  r.refused = r.path.empty() || IsLauncherDocument(path) || IsLauncherDocument(r.path);
  return r;
}

// A name with a folder part found as the show was laid out; a Windows path
// that is not there keeps its POSIX form.
std::string MapFile(std::string_view file, std::string_view showFolder) {
  std::string found = FindDiskFile(file, showFolder);
  return found.empty() ? ToPosixSeparators(file) : found;
}

TLocated Locate(std::string_view file, bool withParameters, std::string_view showFolder) {
  TLocated r;
  r.error = ENOENT;
  if (file.empty()) return r;
  if (!HasFolderPart(file)) {
    r.path = ResolveProgram(file, showFolder);
    if (!r.path.empty() || withParameters || showFolder.empty()) return r;
    // The show's folder is a download folder: a bare name finds only
    // documents there, never a program.
    const std::string found =
        MatchPathCaseInsensitive(IncludeTrailingSlash(showFolder) + std::string(file));
    return found.empty() ? r : Document(found);
  }
  std::string path = MapFile(file, showFolder);
  if (path[0] != '/') path = CurrentFolder() + path;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    r.error = errno;
    return r;
  }
  if (S_ISDIR(st.st_mode)) return Document(path);
  if (!S_ISREG(st.st_mode)) {
    r.error = EACCES;
    return r;
  }
  if (access(path.c_str(), X_OK) != 0) return Document(path);
  r.path = RealPath(path);
  return r;
}

std::string Describe(const TSpawnRequest& r) {
  std::string out = r.file;
  for (size_t i = 1; i < r.argv.size(); ++i) out += " " + r.argv[i];
  return out;
}

// Percent-decoded, lower-case: how a mail program reads a header name.
std::string MailFieldName(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto hex = [](char c) {
      return c >= '0' && c <= '9'   ? c - '0'
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                    : -1;
    };
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out += char(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return Lower(out);
}

// A value with the characters that some mail programs split fields at
// escaped.
std::string MailFieldValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '?')
      out += "%3F";
    else if (c == '#')
      out += "%23";
    else if (c == ';')
      out += "%3B";
    else
      out += c;
  }
  return out;
}

// The address with only the harmless fields of its query.
std::string KeepMailFields(const std::string& address) {
  const size_t q = address.find('?');
  if (q == std::string::npos) return address;
  std::string out = address.substr(0, q);
  char joint = '?';
  const std::string_view query = std::string_view(address).substr(q + 1);
  for (size_t start = 0; start <= query.size();) {
    size_t amp = query.find('&', start);
    if (amp == std::string_view::npos) amp = query.size();
    const std::string_view field = query.substr(start, amp - start);
    start = amp + 1;
    const size_t eq = field.find('=');
    const std::string name = MailFieldName(field.substr(0, eq));
    if (name == "to" || name == "cc" || name == "bcc" || name == "subject" || name == "body") {
      out += joint + name;
      if (eq != std::string_view::npos) out += "=" + MailFieldValue(field.substr(eq + 1));
      joint = '&';
    } else if (!field.empty()) {
      Log().Line("Mail field dropped: " + std::string(field.substr(0, eq)));
    }
  }
  return out;
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

std::vector<std::string> CommandWords(std::string_view command) {
  std::vector<std::string> words{CommandWord(command)};
  AddPieces(command, words);
  // Deleted characters join what they split ("c|md", "s\"h").
  AddPieces(Without(command, "@|\""), words);
  const TCommandParts parts = SplitFileAndParameters(command);
  AddPieces(UnquoteToken(parts.file), words);
  for (const std::string& a : ParameterVector(parts.parameters)) AddPieces(a, words);
  return words;
}

bool IsProhibitedWord(std::string_view word) {
  if (IsListed(word)) return true;
  for (std::string_view p : kProhibitedPrefixes)
    if (word.starts_with(p)) return true;
  // "python3", "gawk-5", "lua5": the listed program under a versioned name.
  while (!word.empty() &&
         ((word.back() >= '0' && word.back() <= '9') || word.back() == '-' || word.back() == '_'))
    word.remove_suffix(1);
  return IsListed(word);
}

std::string ResolveProgram(std::string_view file, std::string_view skipFolder) {
  if (file.empty()) return {};
  const std::string name(file);
  if (name.find('/') != std::string::npos) {
    const std::string path = name[0] == '/' ? name : CurrentFolder() + name;
    return IsExecutableFile(path) ? RealPath(path) : std::string();
  }
  const char* env = std::getenv("PATH");
  const std::string_view search = env ? env : "/usr/local/bin:/usr/bin:/bin";
  const std::string skip = skipFolder.empty() ? std::string() : RealPath(std::string(skipFolder));
  for (size_t start = 0; start <= search.size();) {
    size_t colon = search.find(':', start);
    if (colon == std::string_view::npos) colon = search.size();
    std::string folder(search.substr(start, colon - start));
    start = colon + 1;
    if (folder.empty()) folder = ".";  // an empty entry is the working folder
    const std::string candidate = folder + "/" + name;
    if (!IsExecutableFile(candidate)) continue;
    if (!skip.empty() && RealPath(folder) == skip) continue;
    return RealPath(candidate);
  }
  return {};
}

bool IsLauncherDocument(const std::string& path) {
  const std::string ext = Lower(ExtractFileExt(path));
  for (std::string_view e : kLauncherExtensions)
    if (ext.size() == e.size() + 1 && ext.substr(1) == e) return true;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return false;
  if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return true;
  const std::string head = FileStart(path, 4);
  return head.starts_with(
             "\x7f"
             "ELF") ||
         head.starts_with("#!") || head.starts_with("MZ");
}

bool IsProhibitedCommand(std::string_view command, std::string_view showFolder) {
  if (HasControlCharacter(command)) return true;
  for (const std::string& w : CommandWords(command))
    if (IsProhibitedWord(w)) return true;
  // The program exec would really start: links and alternatives name it
  // ("rbash" is bash, "awk" is mawk, x-terminal-emulator a terminal).
  const TCommandParts parts = SplitFileAndParameters(command);
  const TLocated found = Locate(UnquoteToken(parts.file), !parts.parameters.empty(), showFolder);
  return found.refused || (!found.path.empty() && IsProhibitedWord(NormaliseWord(found.path)));
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
  return KeepMailFields(text.starts_with("mailto:") ? std::string(text)
                                                    : "mailto:" + std::string(text));
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

TCommandRunner::TCommandRunner(std::string showFolder, TSpawnFunction spawn,
                               TConsentFunction consent)
    : showFolder_(std::move(showFolder)), spawn_(std::move(spawn)), consent_(std::move(consent)) {
  if (!spawn_) spawn_ = SpawnDetached;
}

TRunPlan TCommandRunner::Plan(std::string_view text) const {
  TRunPlan plan;
  const std::vector<std::string> commands = SplitCommands(text);
  bool refused = commands.size() > kMaxCommands;
  for (size_t i = 0; i < commands.size() && !refused; ++i)
    refused = IsProhibitedCommand(commands[i], showFolder_);
  for (size_t i = 0; i < commands.size() && !refused; ++i) {
    const TCommandParts parts = SplitFileAndParameters(commands[i]);
    const std::string file = UnquoteToken(parts.file);
    const TLocated found = Locate(file, !parts.parameters.empty(), showFolder_);
    refused = found.refused;
    TLaunch launch;
    launch.document = found.document;
    if (found.document) {
      launch.request = {ResolveProgram("xdg-open", showFolder_), {"xdg-open", found.path}, {}};
    } else {
      launch.request = {found.path, {file}, {}};
      for (std::string& a : ParameterVector(parts.parameters))
        launch.request.argv.push_back(std::move(a));
    }
    const int error = found.path.empty() ? found.error : launch.request.file.empty() ? ENOENT : 0;
    if (error == 0) {
      plan.launches.push_back(std::move(launch));
      continue;
    }
    Log().Line("Run failed: " + commands[i] + " (" + ErrorText(error) + ")");
    if (plan.verdict.status == TRunResult::TStatus::Ran)
      plan.verdict = {TRunResult::TStatus::Failed, ErrorText(error) + ": " + file, 0};
  }
  if (refused) {
    Log().Line("Run refused: " + std::string(text));
    return {{TRunResult::TStatus::Refused, kProhibitedCommandMessage, 0}, {}};
  }
  return plan;
}

TRunResult TCommandRunner::Launch(const TRunPlan& plan) const {
  TRunResult result = plan.verdict;
  if (result.status == TRunResult::TStatus::Refused) return result;
  for (const TLaunch& l : plan.launches) {
    const int error = spawn_(l.request);
    if (error == 0) {
      ++result.started;
      Log().Line("Run: " + Describe(l.request));
      continue;
    }
    Log().Line("Run failed: " + Describe(l.request) + " (" + ErrorText(error) + ")");
    if (result.status == TRunResult::TStatus::Ran) {
      result.status = TRunResult::TStatus::Failed;
      result.message = ErrorText(error) + ": " + l.request.file;
    }
  }
  return result;
}

TRunResult TCommandRunner::RunCommandLines(std::string_view text) const {
  const TRunPlan plan = Plan(text);
  if (plan.verdict.status == TRunResult::TStatus::Refused || plan.launches.empty())
    return plan.verdict;
  if (!consent_ || !consent_(plan.launches)) {
    Log().Line("Run declined: " + std::string(text));
    return {TRunResult::TStatus::Declined, {}, 0};
  }
  return Launch(plan);
}

TRunResult TCommandRunner::OpenWebPage(std::string_view text) const {
  return OpenAddress(WebAddress(text));
}

TRunResult TCommandRunner::SendMail(std::string_view text) const {
  return OpenAddress(MailAddress(text));
}

TRunResult TCommandRunner::OpenAddress(const std::string& address) const {
  if (IsProhibitedWord(CommandWord(address))) {
    Log().Line("Open refused: " + address);
    return {TRunResult::TStatus::Refused, kProhibitedCommandMessage, 0};
  }
  const std::string opener = ResolveProgram("xdg-open", showFolder_);
  const int error = opener.empty() ? ENOENT : spawn_({opener, {"xdg-open", address}, {}});
  if (error != 0) {
    Log().Line("Open failed: " + address + " (" + ErrorText(error) + ")");
    return {TRunResult::TStatus::Failed, ErrorText(error) + ": xdg-open", 0};
  }
  Log().Line("Open: " + address);
  return {TRunResult::TStatus::Ran, {}, 1};
}

}  // namespace lum
