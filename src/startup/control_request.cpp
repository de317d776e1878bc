#include "startup/control_request.h"

#include <array>
#include <cmath>
#include <limits>

#include "foundation/errors.h"

namespace lum {

namespace {

using TJson = nlohmann::json;

constexpr std::array<std::string_view, 12> kCommandNames = {
    "status", "pause", "play",       "toggle", "seek", "action",
    "key",    "click", "screenshot", "open",   "quit", "type"};

struct TKeyName {
  std::string_view name;
  uint16_t vk;
};

// Letters, digits and F keys are computed in VirtualKeyByName.
constexpr TKeyName kKeyNames[] = {
    {"escape", vk::kEscape},
    {"esc", vk::kEscape},
    {"space", vk::kSpace},
    {"return", vk::kReturn},
    {"enter", vk::kReturn},
    {"tab", vk::kTab},
    {"backspace", vk::kBack},
    {"left", vk::kLeft},
    {"right", vk::kRight},
    {"up", vk::kUp},
    {"down", vk::kDown},
    {"home", vk::kHome},
    {"end", vk::kEnd},
    {"pageup", vk::kPrior},
    {"pagedown", vk::kNext},
    {"insert", vk::kInsert},
    {"delete", vk::kDelete},
    {"pause", vk::kPause},
    {"mediaplaypause", vk::kMediaPlayPause},
    {"mediastop", vk::kMediaStop},
    {"medianext", vk::kMediaNextTrack},
    {"mediaprev", vk::kMediaPrevTrack},
    {"browserback", vk::kBrowserBack},
    {"browserforward", vk::kBrowserForward},
    {"volumeup", vk::kVolumeUp},
    {"volumedown", vk::kVolumeDown},
    {"volumemute", vk::kVolumeMute},
};

struct TModName {
  std::string_view name;
  uint32_t bit;
};

constexpr TModName kModNames[] = {
    {"ctrl", kModCtrl}, {"shift", kModShift}, {"alt", kModAlt}, {"win", kModWin}};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Client text quoted in an error, kept short; the reply writer repairs a cut
// UTF-8 sequence.
std::string Quote(std::string_view s) {
  constexpr size_t kMax = 64;
  return s.size() <= kMax ? std::string(s) : std::string(s.substr(0, kMax)) + "...";
}

// The request's fields; each getter leaves an error text on failure.
class TFields {
 public:
  explicit TFields(const TJson& object) : object_(object) {}

  const std::string& Error() const { return error_; }
  bool Has(const char* name) const { return object_.contains(name); }

  bool Number(const char* name, double& out) {
    const TJson* v = Find(name);
    if (!v) return false;
    if (!v->is_number()) return Fail(std::string(name) + " must be a number");
    out = v->get<double>();
    if (!std::isfinite(out)) return Fail(std::string(name) + " must be a finite number");
    return true;
  }

  bool Integer(const char* name, int64_t min, int64_t max, int64_t& out) {
    const TJson* v = Find(name);
    if (!v) return false;
    bool inRange = false;
    if (v->is_number_unsigned()) {
      uint64_t u = v->get<uint64_t>();
      inRange = u <= uint64_t(max);
      out = int64_t(u);
    } else if (v->is_number_integer()) {
      out = v->get<int64_t>();
      inRange = out >= min && out <= max;
    } else {
      return Fail(std::string(name) + " must be an integer");
    }
    if (!inRange) {
      return Fail(std::string(name) + " must be between " + std::to_string(min) + " and " +
                  std::to_string(max));
    }
    return true;
  }

  // Texts are handed to C APIs and paths: an embedded NUL would cut them short.
  bool Text(const char* name, bool nonEmpty, std::string& out) {
    const TJson* v = Find(name);
    if (!v) return false;
    if (!v->is_string()) return Fail(std::string(name) + " must be a string");
    out = v->get<std::string>();
    if (out.find('\0') != std::string::npos) {
      return Fail(std::string(name) + " must not contain NUL characters");
    }
    if (nonEmpty && out.empty()) return Fail(std::string(name) + " must not be empty");
    return true;
  }

  bool Bool(const char* name, bool& out) {
    const TJson* v = Find(name);
    if (!v) return false;
    if (!v->is_boolean()) return Fail(std::string(name) + " must be true or false");
    out = v->get<bool>();
    return true;
  }

  bool Fail(std::string text) {
    error_ = std::move(text);
    return false;
  }

 private:
  const TJson* Find(const char* name) {
    auto it = object_.find(name);
    if (it == object_.end()) {
      Fail(std::string("missing field: ") + name);
      return nullptr;
    }
    return &*it;
  }

  const TJson& object_;
  std::string error_;
};

bool ParseMods(const TJson& object, TFields& fields, uint32_t& bits) {
  auto it = object.find("mods");
  if (it == object.end()) return true;
  if (!it->is_array()) return fields.Fail("mods must be an array of strings");
  for (const TJson& m : *it) {
    if (!m.is_string()) return fields.Fail("mods must be an array of strings");
    const std::string& name = m.get_ref<const std::string&>();
    uint32_t bit = 0;
    for (const TModName& known : kModNames) {
      if (EqualsNoCase(name, known.name)) bit = known.bit;
    }
    if (!bit) return fields.Fail("unknown modifier: " + Quote(name));
    bits |= bit;
  }
  return true;
}

bool ParseKey(const TJson& object, TFields& fields, TControlRequest& r) {
  bool byName = fields.Has("key"), byValue = fields.Has("vk");
  if (byName && byValue) return fields.Fail("give either key or vk, not both");
  if (byValue) {
    int64_t value = 0;
    if (!fields.Integer("vk", 0, 255, value)) return false;
    r.virtualKey = uint16_t(value);
  } else {
    std::string name;
    if (!fields.Text("key", true, name)) return false;
    std::optional<uint16_t> value = VirtualKeyByName(name);
    if (!value) return fields.Fail("unknown key: " + Quote(name));
    r.virtualKey = *value;
  }
  return ParseMods(object, fields, r.modifiers);
}

bool ParseClick(TFields& fields, TControlRequest& r) {
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  int64_t x = 0, y = 0;
  if (!fields.Integer("x", kMin, kMax, x) || !fields.Integer("y", kMin, kMax, y)) return false;
  r.x = int32_t(x);
  r.y = int32_t(y);
  if (fields.Has("button")) {
    std::string button;
    if (!fields.Text("button", false, button)) return false;
    if (EqualsNoCase(button, "left")) {
      r.button = TMouseButton::Left;
    } else if (EqualsNoCase(button, "right")) {
      r.button = TMouseButton::Right;
    } else if (EqualsNoCase(button, "middle")) {
      r.button = TMouseButton::Middle;
    } else {
      return fields.Fail("button must be left, right or middle");
    }
  }
  return !fields.Has("double") || fields.Bool("double", r.doubleClick);
}

// Fills the command's own fields.
bool ParseArguments(const TJson& object, TFields& fields, TControlRequest& r) {
  switch (r.command) {
    case TControlCommand::Seek:
      return fields.Number("position", r.position);
    case TControlCommand::Action:
    case TControlCommand::Type:
      return fields.Text("text", false, r.text);
    case TControlCommand::Key:
      return ParseKey(object, fields, r);
    case TControlCommand::Click:
      return ParseClick(fields, r);
    case TControlCommand::Screenshot:
      return fields.Text("path", true, r.path);
    case TControlCommand::Open:
      return fields.Text("show", true, r.path);
    default:
      return true;
  }
}

TControlParse Failure(std::string text) {
  return TControlParse{std::nullopt, std::move(text)};
}

std::string Dump(const TJson& value) {
  return value.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

}  // namespace

std::optional<uint16_t> VirtualKeyByName(std::string_view name) {
  if (name.size() == 1) {
    char c = Lower(name[0]);
    if (c >= 'a' && c <= 'z') return uint16_t('A' + (c - 'a'));
    if (c >= '0' && c <= '9') return uint16_t(c);
  }
  if (name.size() >= 2 && name.size() <= 3 && Lower(name[0]) == 'f') {
    int n = 0;
    for (char c : name.substr(1)) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + (c - '0');
    }
    if (name[1] == '0' || n < 1 || n > 24) return std::nullopt;
    return uint16_t(vk::kF1 + n - 1);
  }
  for (const TKeyName& key : kKeyNames) {
    if (EqualsNoCase(name, key.name)) return key.vk;
  }
  return std::nullopt;
}

std::string_view ControlCommandName(TControlCommand command) {
  return kCommandNames[size_t(command)];
}

TControlParse ParseControlRequest(std::string_view line) {
  // The parser rejects raw NULs too; saying so here keeps the reason obvious.
  if (line.find('\0') != std::string_view::npos) return Failure("malformed JSON");
  TJson object = TJson::parse(line.begin(), line.end(), nullptr, false);
  if (object.is_discarded()) return Failure("malformed JSON");
  if (!object.is_object()) return Failure("request must be a JSON object");
  auto it = object.find("command");
  if (it == object.end()) return Failure("missing field: command");
  if (!it->is_string()) return Failure("command must be a string");
  const std::string& name = it->get_ref<const std::string&>();
  TControlRequest r;
  size_t index = 0;
  while (index < kCommandNames.size() && kCommandNames[index] != name) ++index;
  if (index == kCommandNames.size()) return Failure("unknown command: " + Quote(name));
  r.command = TControlCommand(index);
  TFields fields(object);
  if (!ParseArguments(object, fields, r)) return Failure(fields.Error());
  return TControlParse{std::move(r), {}};
}

std::string ReplyOk(const nlohmann::json& fields) {
  if (!fields.is_null() && !fields.is_object()) {
    AssertFailed("control", "reply fields must be a JSON object");
  }
  std::string line = R"({"ok":true)";
  if (fields.is_object()) {
    for (auto it = fields.begin(); it != fields.end(); ++it) {
      if (it.key() == "ok") continue;
      line += ',';
      line += Dump(TJson(it.key()));
      line += ':';
      line += Dump(it.value());
    }
  }
  line += "}\n";
  return line;
}

std::string ReplyError(std::string_view text) {
  return R"({"ok":false,"error":)" + Dump(TJson(std::string(text))) + "}\n";
}

}  // namespace lum
