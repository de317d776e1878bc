#pragma once
// Running the command lines, web pages and mail addresses that a show asks
// for. A show is a stranger's file: a text may hold several commands
// separated by commas outside double quotes; every command passes the safety
// check, and every program is found, before any of them runs; then the user
// is asked (the consent function) and only a yes starts them. Programs are
// started with an argument vector, never through a shell, and are not waited
// for. Documents and addresses go to xdg-open as one argument.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lum {

inline constexpr const char* kProhibitedCommandMessage =
    "Command line contains prohibited command and will not be performed.";

// The most commands one text may start; more are refused as a whole.
inline constexpr size_t kMaxCommands = 16;

// What to start: file is looked up through PATH when it holds no "/".
struct TSpawnRequest {
  std::string file;
  std::vector<std::string> argv;  // argv[0] included
  std::string workingFolder;      // empty: the player's own
};

// Starts a program; returns 0, or the errno value of the failure.
using TSpawnFunction = std::function<int(const TSpawnRequest&)>;

// Starts the program detached (own session, signals at their defaults, no
// inherited descriptors beyond 0-2) and reaps it on a small thread when it
// ends, so no zombie is left.
int SpawnDetached(const TSpawnRequest& request);

// A command split into file and parameters as the shell would get them.
struct TCommandParts {
  std::string file;        // in double quotes when the command began with one
  std::string parameters;  // in one pair of double quotes when it had any
};

// Splits at commas outside double quotes and trims each command; empty
// commands are dropped.
std::vector<std::string> SplitCommands(std::string_view text);
// The word the system's own check looks at: ">" when the command has one
// anywhere, else the lower-case first word without "@", "|" and quotes, its
// folders and its extension.
std::string CommandWord(std::string_view command);
// Every word of the command as the check sees it: CommandWord, then each
// piece of the command (raw, and without "@", "|" and quotes), of its file
// and of each argument, split at blanks and shell punctuation, lower-case,
// without folders and extension.
std::vector<std::string> CommandWords(std::string_view command);
// True for a word of the prohibited list (shells, wrappers, launchers,
// interpreters, file and system tools), also with version digits after it
// ("python3", "gawk-5") and for the dynamic loader ("ld-linux-x86-64").
bool IsProhibitedWord(std::string_view word);
// The program exec would start for a file name, with links resolved
// (realpath): a name with a "/" as given (relative to the working folder), a
// bare name through $PATH, where a folder equal to skipFolder is passed over.
// "" when there is no executable regular file.
std::string ResolveProgram(std::string_view file, std::string_view skipFolder = {});
// True for a file that xdg-open could run rather than show: launcher and
// script extensions (.desktop, .sh, .py, .jar, .AppImage, ...), executable
// contents (ELF, "#!", "MZ") or an execute bit.
bool IsLauncherDocument(const std::string& path);
// True when the command must not run: a control character in it, a
// prohibited word anywhere in it, or a program or document that resolves to
// one (or to a launcher) as TCommandRunner would find it from showFolder.
bool IsProhibitedCommand(std::string_view command, std::string_view showFolder = {});
TCommandParts SplitFileAndParameters(std::string_view command);
// Parameters as an argument vector: split at blanks outside quotes, unquoted.
std::vector<std::string> ParameterVector(std::string_view parameters);

// "http://" in front unless the text starts with "http://" or "https://".
std::string WebAddress(std::string_view text);
// "mailto:" in front unless the text starts with it; of the query only to,
// cc, bcc, subject and body stay ("attach" and other headers would let a
// show send the user's files).
std::string MailAddress(std::string_view text);

struct TRunResult {
  enum class TStatus { Ran, Refused, Declined, Failed };
  TStatus status = TStatus::Ran;
  // The prohibited-command message, or why a start failed.
  std::string message;
  int started = 0;  // programs started
};

// One program a text would start; a document or folder goes to xdg-open.
struct TLaunch {
  TSpawnRequest request;  // file: the resolved program's absolute path
  bool document = false;
};

// What a text would start, worked out before anything starts.
struct TRunPlan {
  // Refused: nothing may start. Failed: the first command that cannot start
  // (the others may).
  TRunResult verdict;
  std::vector<TLaunch> launches;
};

// Asked once for all the launches of a text; true lets them start.
using TConsentFunction = std::function<bool(const std::vector<TLaunch>& launches)>;

class TCommandRunner {
 public:
  // showFolder: the folder of the show's file; names with a folder part are
  // found there as the show was laid out, bare names never (only documents
  // by bare name are). Without consent nothing ever starts.
  explicit TCommandRunner(std::string showFolder, TSpawnFunction spawn = SpawnDetached,
                          TConsentFunction consent = {});

  // Checks every command and finds what each would start; starts nothing.
  TRunPlan Plan(std::string_view text) const;
  // Starts the launches of a plan that was not refused; the plan's failure
  // (or the first failed start) is the result's.
  TRunResult Launch(const TRunPlan& plan) const;
  // Plan, consent, launch (run-program actions, run-on-exit, slide programs).
  TRunResult RunCommandLines(std::string_view text) const;
  // Opens WebAddress(text) / MailAddress(text) with xdg-open, without
  // asking: an address is no program. It is one argument, not split at
  // commas.
  TRunResult OpenWebPage(std::string_view text) const;
  TRunResult SendMail(std::string_view text) const;

 private:
  TRunResult OpenAddress(const std::string& address) const;

  std::string showFolder_;
  TSpawnFunction spawn_;
  TConsentFunction consent_;
};

}  // namespace lum
