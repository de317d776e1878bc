// Command lines a show asks to run: splitting, the check of every word and of
// the program exec would resolve, the plan of what would start, and the mail
// fields kept. Nothing starts: the spawn function traps, and the consent
// function says no (starting anything without consent is the fault sought).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "startup/command_runner.h"
#include "startup/commands_storage.h"

namespace {

// Normalised: lower-case, no folders, extension or quotes; a piece of a
// command also holds no separator.
bool Clean(std::string_view word, bool piece) {
  if (word.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ@|\"./\\ \t") != std::string_view::npos)
    return false;
  return !piece || (!word.empty() && word.find_first_of("=;:,$`'") == std::string_view::npos);
}

// Every field after "?" is one the mail program may see.
bool OnlyMailFields(const std::string& address) {
  size_t q = address.find('?');
  while (q != std::string::npos) {
    const std::string_view field = std::string_view(address).substr(q + 1);
    const std::string_view name = field.substr(0, field.find_first_of("=&"));
    if (name != "to" && name != "cc" && name != "bcc" && name != "subject" && name != "body")
      return false;
    q = address.find('&', q + 1);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const std::string& command : lum::SplitCommands(text)) {
    const std::string word = lum::CommandWord(command);
    if (word != ">" && !Clean(word, false)) __builtin_trap();
    const std::vector<std::string> words = lum::CommandWords(command);
    if (words.empty() || words[0] != word) __builtin_trap();
    for (size_t i = 1; i < words.size(); ++i)
      if (!Clean(words[i], true)) __builtin_trap();
    // The stronger check never lets through what the system's own refused.
    const bool prohibited = lum::IsProhibitedCommand(command, "/tmp");
    if (lum::IsProhibitedWord(word) && !prohibited) __builtin_trap();
    lum::TCommandParts parts = lum::SplitFileAndParameters(command);
    if (parts.file.size() > command.size() + 2 || parts.parameters.size() > command.size() + 2)
      __builtin_trap();
    lum::ParameterVector(parts.parameters);
    lum::ResolveProgram(lum::UnquoteToken(parts.file), "/tmp");
  }
  const lum::TCommandRunner runner(
      "/tmp", [](const lum::TSpawnRequest&) -> int { __builtin_trap(); },
      [](const std::vector<lum::TLaunch>&) { return false; });
  const lum::TRunPlan plan = runner.Plan(text);
  if (plan.verdict.status == lum::TRunResult::TStatus::Refused && !plan.launches.empty())
    __builtin_trap();
  for (const lum::TLaunch& l : plan.launches)
    if (l.request.file.empty() || l.request.file[0] != '/' || l.request.argv.empty())
      __builtin_trap();
  runner.RunCommandLines(text);
  lum::WebAddress(text);
  if (!OnlyMailFields(lum::MailAddress(text))) __builtin_trap();
  return 0;
}
