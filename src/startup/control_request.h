#pragma once
// Requests of the control socket: one JSON object per line, parsed into a typed
// request, and the one-line JSON replies. Nothing here touches a socket, so the
// player can test its dispatcher and the parser can be fuzzed on its own.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "toolkit/key_codes.h"

namespace lum {

enum class TControlCommand : uint8_t {
  Status,
  Pause,
  Play,
  Toggle,
  Seek,
  Action,
  Key,
  Click,
  Screenshot,
  Open,
  Quit,
  Type  // text typed into the open dialog
};

// One parsed request; only the fields of its command are set.
struct TControlRequest {
  TControlCommand command = TControlCommand::Status;
  double position = 0;                       // Seek: show time in ms, finite
  std::string text;                          // Action: the action text; Type: the text
  uint16_t virtualKey = 0;                   // Key: Windows virtual-key value, 0..255
  uint32_t modifiers = 0;                    // Key: kModCtrl / kModShift / kModAlt / kModWin bits
  int32_t x = 0, y = 0;                      // Click: window pixel
  TMouseButton button = TMouseButton::Left;  // Click: Left, Right or Middle
  bool doubleClick = false;                  // Click
  std::string path;                          // Screenshot: PNG to write; Open: the show to open
};

// Either a request or the error text to send back.
struct TControlParse {
  std::optional<TControlRequest> request;
  std::string error;
};

// Longest request line accepted, without its line feed.
inline constexpr size_t kMaxControlLine = 64 * 1024;

// Parses one request line (without its line feed). Never throws for any input:
// bad input gives an error such as "malformed JSON", "unknown command: X",
// "missing field: position" or "position must be a number". Fields a command
// does not use are ignored. Text fields may not hold NUL characters.
TControlParse ParseControlRequest(std::string_view line);

// Virtual-key value of a key name ("Escape", "Right", "F5", "A", "7",
// "MediaPlayPause", ...), compared case-insensitively; nullopt when unknown.
std::optional<uint16_t> VirtualKeyByName(std::string_view name);

// Lower-case name of a command as requests write it ("status", "seek", ...).
std::string_view ControlCommandName(TControlCommand command);

// `{"ok":true,...}` plus a line feed, "ok" first and then the members of fields
// (an object or null; any "ok" member in it is left out). Invalid UTF-8 in
// texts becomes U+FFFD. Throws EAssertion when fields is neither.
std::string ReplyOk(const nlohmann::json& fields = nlohmann::json::object());
// `{"ok":false,"error":TEXT}` plus a line feed; invalid UTF-8 becomes U+FFFD.
std::string ReplyError(std::string_view text);

}  // namespace lum
