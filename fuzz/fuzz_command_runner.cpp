// Command lines a show asks to run: splitting, the safety check and the
// argument vectors, without starting anything.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "startup/command_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const std::string& command : lum::SplitCommands(text)) {
    const std::string word = lum::CommandWord(command);
    if (word != ">" &&
        word.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ@|\"./\\ \t>") != std::string::npos)
      __builtin_trap();
    lum::IsProhibitedCommand(command);
    lum::TCommandParts parts = lum::SplitFileAndParameters(command);
    if (parts.file.size() > command.size() + 2 || parts.parameters.size() > command.size() + 2)
      __builtin_trap();
    lum::ParameterVector(parts.parameters);
  }
  lum::WebAddress(text);
  lum::MailAddress(text);
  return 0;
}
