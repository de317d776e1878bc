// The player's command line and the command lines of open-show actions: any
// text parses, tokens carry no quotes, and every value is a token.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "startup/commands_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  lum::TCommandsStorage c(text);
  size_t values = 0;
  for (const lum::TCommand& s : c.Switches()) {
    values += s.items.size();
    if (c.Find(s.name) != &s) __builtin_trap();
  }
  if (values > c.Tokens().size() || c.Tokens().size() > size) __builtin_trap();
  for (const std::string& t : c.Tokens()) {
    if (t.find('"') != std::string::npos) __builtin_trap();
  }
  c.IntValue("slide", 0, 0);
  c.HasRawToken("/s");
  return 0;
}
