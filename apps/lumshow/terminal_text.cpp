#include "terminal_text.h"

#include <unistd.h>

#include <fmt/format.h>

#include "foundation/log.h"

namespace lum::lumshow {

std::string Printable(std::string_view text) {
  return EscapeControlChars(text);
}

std::string PrintablePath(std::string_view path) {
  return isatty(1) ? EscapeControlChars(path) : std::string(path);
}

std::string ForTerminal(std::string_view message) {
  std::string out;
  for (size_t at = 0; at <= message.size();) {
    size_t end = message.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = message.size();
    out += EscapeControlChars(message.substr(at, end - at));
    if (end < message.size()) out += '\n';
    at = end + 1;
  }
  return out;
}

std::string JsonText(const nlohmann::ordered_json& value) {
  return JsonForTerminal(value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::string JsonForTerminal(std::string_view text) {
  // These bytes occur only inside strings, where a \u escape reads back the same.
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == 0x7F) {
      out += "\\u007f";
    } else if (c == 0xC2 && next >= 0x80 && next < 0xA0) {
      out += fmt::format("\\u{:04x}", unsigned(next));
      ++i;
    } else {
      out += char(c);
    }
  }
  return out;
}

}  // namespace lum::lumshow
