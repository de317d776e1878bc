#pragma once
// Running the command lines, web pages and mail addresses that a show asks
// for. A text may hold several commands separated by commas outside double
// quotes; every command passes the safety check before any of them runs.
// Programs are started with an argument vector, never through a shell, and
// are not waited for. Documents and addresses go to xdg-open as one argument.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lum {

inline constexpr const char* kProhibitedCommandMessage =
    "Command line contains prohibited command and will not be performed.";

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
// The word the safety check looks at: ">" when the command has one anywhere,
// else the lower-case first word without "@", "|" and quotes, its folders and
// its extension.
std::string CommandWord(std::string_view command);
// True when the command's word is prohibited (including the POSIX words and
// those words with a version number after them, such as "python3").
bool IsProhibitedCommand(std::string_view command);
TCommandParts SplitFileAndParameters(std::string_view command);
// Parameters as an argument vector: split at blanks outside quotes, unquoted.
std::vector<std::string> ParameterVector(std::string_view parameters);

// "http://" in front unless the text starts with "http://" or "https://".
std::string WebAddress(std::string_view text);
// "mailto:" in front unless the text starts with it.
std::string MailAddress(std::string_view text);

struct TRunResult {
  enum class TStatus { Ran, Refused, Failed };
  TStatus status = TStatus::Ran;
  // The prohibited-command message, or why a start failed.
  std::string message;
  int started = 0;  // programs started
};

class TCommandRunner {
 public:
  // exeFolder: the folder of the show's executable; not-found files are
  // looked for there and Windows paths are resolved against it.
  explicit TCommandRunner(std::string exeFolder, TSpawnFunction spawn = SpawnDetached);

  // Runs the commands of a text (run-program actions, run-on-exit). Nothing
  // runs when one of them is prohibited. A command whose start fails does not
  // stop the others; the result reports the first failure.
  TRunResult RunCommandLines(std::string_view text);
  // Opens WebAddress(text) / MailAddress(text) with xdg-open. The address is
  // one argument; it is not split at commas.
  TRunResult OpenWebPage(std::string_view text);
  TRunResult SendMail(std::string_view text);

 private:
  TRunResult OpenAddress(const std::string& address);
  int RunOne(const TCommandParts& parts);
  int RunWithoutParameters(const std::string& file);
  int Start(const std::string& file, const std::vector<std::string>& args,
            const std::string& workingFolder);
  std::string MapFile(const std::string& file) const;

  std::string exeFolder_;
  TSpawnFunction spawn_;
};

}  // namespace lum
