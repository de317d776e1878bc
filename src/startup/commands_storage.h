#pragma once
// The player's command line: tokens, and switches with their values.
// Tokens are split at characters with code <= 32 outside double quotes and
// then lose their double quotes. A token starting with "-" opens the switch of
// that name (without the "-", case as written); other non-empty tokens are
// values of the switch opened last. Values before the first switch belong to
// the switch with the empty name, so its value 0 is the program path (or, for
// the command line of an open-show action, the show's path).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lum {

// One value of a switch.
struct TCommandItem {
  std::string text;
};

// A switch and its values in command-line order.
struct TCommand {
  std::string name;
  std::vector<TCommandItem> items;
};

class TCommandsStorage {
 public:
  TCommandsStorage() = default;
  // Parses a raw command line; its first token is the program path.
  explicit TCommandsStorage(std::string_view commandLine);
  // Takes arguments that are already split (argv): each one is a token as
  // given, blanks and quotes included, as a quoted token of a raw line would be.
  explicit TCommandsStorage(const std::vector<std::string>& arguments);
  TCommandsStorage(int argc, const char* const* argv);

  // True when the switch (name without "-", case-sensitive) was given. The
  // empty-named switch always exists.
  bool HasSwitch(std::string_view name) const;
  // The switch, or nullptr.
  const TCommand* Find(std::string_view name) const;
  // Value i of the switch; nullopt when the switch or the value is missing.
  std::optional<std::string> Value(std::string_view name, size_t i = 0) const;
  // Value i as a decimal integer (optional sign, digits only, in range);
  // otherwise def.
  int64_t IntValue(std::string_view name, size_t i, int64_t def) const;
  // True when a token equals text exactly (case-sensitive): "-startup", "/s".
  bool HasRawToken(std::string_view text) const;

  // Every token in order, unquoted; the program path first.
  const std::vector<std::string>& Tokens() const { return tokens_; }
  // The switches in the order they first appeared.
  const std::vector<TCommand>& Switches() const { return switches_; }

 private:
  void Group();
  // Index of the switch, created when new.
  size_t Obtain(const std::string& name);

  std::vector<std::string> tokens_;
  std::vector<TCommand> switches_;
  std::unordered_map<std::string, size_t> index_;
};

// Splits a raw command line into unquoted tokens.
std::vector<std::string> TokenizeCommandLine(std::string_view commandLine);
// A token without its double quotes.
std::string UnquoteToken(std::string_view token);
// Strict decimal integer (optional sign, digits, in int64 range), else nullopt.
std::optional<int64_t> ParseDecimal(std::string_view text);

}  // namespace lum
