#include "project/lum_action_info.h"

#include <array>
#include <charconv>

namespace lum {

namespace {

struct TWord {
  const char* text;
  uint8_t type;
};

constexpr std::array<TWord, 10> kWords = {{{"exit", kActionExit},
                                           {"nextslide", kActionNextSlide},
                                           {"prevslide", kActionPrevSlide},
                                           {"help", kActionHelp},
                                           {"pause", kActionPause},
                                           {"print", kActionPrint},
                                           {"stop", kActionStop},
                                           {"closedialog", kActionCloseDialog},
                                           {"saveslide", kActionSaveSlide},
                                           {"changeprinter", kActionChangePrinter}}};

// Prefixes whose argument is quoted; the quotes go whatever they are.
constexpr std::array<TWord, 7> kQuoted = {
    {{"openwebsite(", kActionOpenWebSite},
     {"writeemail(", kActionWriteEmail},
     {"runappandexit(", kActionRunAppAndExit},
     {"runapp(", kActionRunApp},
     {"runpresentationandreturn(", kActionRunPresentationAndReturn},
     {"runpresentation(", kActionRunPresentation},
     {"opendialog(", kActionOpenDialog}}};

constexpr std::array<const char*, 21> kTypeNames = {
    "none",        "exit",          "prevslide",       "nextslide",     "help",
    "pause",       "print",         "gotoslide",       "openwebsite",   "writeemail",
    "runapp",      "runappandexit", "runpresentation", "stop",          "runpresentationandreturn",
    "opendialog",  "closedialog",   "saveslide",       "changeprinter", "seek",
    "panelpointer"};

std::string Lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// A decimal integer filling the whole text (optional sign).
bool WholeInteger(std::string_view s, int32_t& value) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  auto [p, ec] = std::from_chars(b, e, value);
  return ec == std::errc() && p == e && b != e;
}

TLumActionInfo GotoSlide(std::string_view arg) {
  TLumActionInfo a{kActionGotoSlide, 0, std::string(arg)};
  int32_t n;
  a.intArg = WholeInteger(arg, n) ? n : -1;
  return a;
}

}  // namespace

TLumActionInfo ParseActionText(std::string_view text) {
  std::string lower = Lowered(text);
  for (const TWord& w : kWords)
    if (lower == w.text) return {w.type, 0, {}};
  if (lower == "gotofirstslide") return {kActionGotoSlide, 0, {}};
  constexpr std::string_view kGoto = "gotoslide(";
  if (StartsWith(lower, kGoto)) {
    std::string_view rest = text.substr(kGoto.size());
    return GotoSlide(rest.substr(0, rest.empty() ? 0 : rest.size() - 1));
  }
  for (const TWord& w : kQuoted) {
    std::string_view prefix = w.text;
    if (!StartsWith(lower, prefix)) continue;
    // The argument sits between quotes before the closing parenthesis.
    std::string_view rest = text.substr(prefix.size());
    std::string_view arg = rest.size() >= 3 ? rest.substr(1, rest.size() - 3) : std::string_view();
    return {w.type, 0, std::string(arg)};
  }
  return {};
}

const char* ActionTypeName(uint8_t type) {
  return type < kTypeNames.size() ? kTypeNames[type] : "unknown";
}

}  // namespace lum
