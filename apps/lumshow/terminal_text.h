#pragma once
// Show-supplied text on its way to a terminal. A show is a stranger's file:
// its names must not clear the screen or retitle the window.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace lum::lumshow {

// Show text for a listing or a message: control characters escaped ("\x1b",
// "\u009b"), as the log writes them.
std::string Printable(std::string_view text);

// A path for standard output: escaped on a terminal, unchanged for a pipe,
// where a script wants the real name.
std::string PrintablePath(std::string_view path);

// A message for stderr: the player's CR line breaks become LF, every other
// control character is escaped.
std::string ForTerminal(std::string_view message);

// JSON text for standard output. JSON itself escapes C0 controls; DEL and C1
// controls are escaped as well ("\u007f", "\u009b"), and bytes that are not
// UTF-8 become U+FFFD instead of failing the command.
std::string JsonText(const nlohmann::ordered_json& value);
// The same escapes in JSON text written elsewhere (a player's reply line).
std::string JsonForTerminal(std::string_view json);

}  // namespace lum::lumshow
