#include "startup/commands_storage.h"

#include <charconv>

namespace lum {

std::vector<std::string> TokenizeCommandLine(std::string_view commandLine) {
  std::vector<std::string> tokens;
  bool quoted = false;
  size_t start = std::string_view::npos;
  for (size_t i = 0; i <= commandLine.size(); ++i) {
    const bool end = i == commandLine.size();
    const unsigned char c = end ? 0 : static_cast<unsigned char>(commandLine[i]);
    if (!end && c == '"') quoted = !quoted;
    const bool separator = end || (c <= 32 && !quoted);
    if (!separator) {
      if (start == std::string_view::npos) start = i;
    } else if (start != std::string_view::npos) {
      tokens.push_back(UnquoteToken(commandLine.substr(start, i - start)));
      start = std::string_view::npos;
    }
  }
  return tokens;
}

std::string UnquoteToken(std::string_view token) {
  // Dropping the leading and trailing quote and every other one inside leaves
  // no quote at all.
  std::string out;
  out.reserve(token.size());
  for (char c : token) {
    if (c != '"') out += c;
  }
  return out;
}

std::optional<int64_t> ParseDecimal(std::string_view text) {
  // from_chars takes a "-" but no "+".
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  }
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

TCommandsStorage::TCommandsStorage(std::string_view commandLine)
    : tokens_(TokenizeCommandLine(commandLine)) {
  Group();
}

TCommandsStorage::TCommandsStorage(const std::vector<std::string>& arguments) : tokens_(arguments) {
  Group();
}

TCommandsStorage::TCommandsStorage(int argc, const char* const* argv) {
  tokens_.reserve(argc > 0 ? size_t(argc) : 0);
  for (int i = 0; i < argc; ++i) tokens_.emplace_back(argv[i] ? argv[i] : "");
  Group();
}

size_t TCommandsStorage::Obtain(const std::string& name) {
  auto [it, added] = index_.try_emplace(name, switches_.size());
  if (added) switches_.push_back(TCommand{name, {}});
  return it->second;
}

void TCommandsStorage::Group() {
  size_t current = Obtain(std::string());
  for (const std::string& token : tokens_) {
    if (!token.empty() && token[0] == '-') {
      current = Obtain(token.substr(1));
    } else if (!token.empty()) {
      switches_[current].items.push_back(TCommandItem{token});
    }
  }
}

const TCommand* TCommandsStorage::Find(std::string_view name) const {
  auto it = index_.find(std::string(name));
  return it == index_.end() ? nullptr : &switches_[it->second];
}

bool TCommandsStorage::HasSwitch(std::string_view name) const {
  return Find(name) != nullptr;
}

std::optional<std::string> TCommandsStorage::Value(std::string_view name, size_t i) const {
  const TCommand* c = Find(name);
  if (!c || i >= c->items.size()) return std::nullopt;
  return c->items[i].text;
}

int64_t TCommandsStorage::IntValue(std::string_view name, size_t i, int64_t def) const {
  std::optional<std::string> v = Value(name, i);
  if (!v) return def;
  return ParseDecimal(*v).value_or(def);
}

bool TCommandsStorage::HasRawToken(std::string_view text) const {
  for (const std::string& t : tokens_) {
    if (t == text) return true;
  }
  return false;
}

}  // namespace lum
