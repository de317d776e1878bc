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

// Compared with a protected show's password when it stores none.
inline constexpr const char* kFallbackPassword = "q7#Lum-9fX!c2Vw@4tRz8Kp";

// True when the show asks for its password before it plays ("opt_usepass").
// The password is a gate the player keeps, not encryption: members stay readable.
bool ShowPasswordRequired(const TIniFile& document);
// True when typed is the show's password: "opt_pass" byte for byte, or the
// fallback when the show stores no "opt_pass" at all.
bool ShowPasswordMatches(const TIniFile& document, std::string_view typed);

}  // namespace lum
