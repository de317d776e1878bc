#pragma once
// The documented options of a show's [Main] section with their defaults.
#include <string>
#include <string_view>
#include <vector>

#include "document/ini_file.h"

namespace lum {

enum class TOptionType { Text, Integer, Boolean, Float, Choice };

struct TShowOption {
  const char* key;
  TOptionType type;
  const char* def;  // default as document text
};

// Every option the player reads, in documentation order.
const std::vector<TShowOption>& ShowOptions();
const TShowOption* FindShowOption(std::string_view key);

// The option's effective value as document text: the stored value when it
// reads as its type, else the default. Choices give the matched choice.
std::string EffectiveOption(const TIniList* main, const TShowOption& option);

// The password stands in for itself in listings.
inline constexpr const char* kPasswordOption = "opt_pass";

}  // namespace lum
