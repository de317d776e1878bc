// Fuzzes text descriptions: parsing, the key, unescaping, and the round
// trips that must hold for any input (escaping then unescaping a line gives
// it back; a description built from parsed parameters parses to them).
#include <cstdint>
#include <string>

#include "text/text_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lum;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TTextParams p = ParseTextDescription(text);
  VectTextKey(text);
  UnescapeText(text);
  for (const std::string& line : SplitTextLines(text))
    if (UnescapeText(EscapeTextLine(line)) != line) __builtin_trap();
  // Lines carry no line breaks, so the description holds them as they are
  // (no lines at all are written as one empty line).
  if (p.lines.empty()) p.lines.emplace_back();
  TTextParams back = ParseTextDescription(BuildTextDescription(p));
  if (back.lines != p.lines || back.font != p.font || back.style != p.style ||
      back.align != p.align)
    __builtin_trap();
  return 0;
}
