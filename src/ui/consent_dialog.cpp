#include "ui/consent_dialog.h"

#include <fmt/format.h>

#include <algorithm>

#include "foundation/log.h"
#include "foundation/utf.h"

namespace lum {

namespace {

constexpr int kMargin = 12, kLineHeight = 16, kCharWidth = 7;
constexpr int kButtonWidth = 75, kButtonHeight = 25;
constexpr int kFirstTextId = 100;

// Marks that are invisible or turn the direction of what follows (a name
// could read backwards).
bool IsHiddenMark(char32_t cp) {
  return cp == 0x061C || (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2060 && cp <= 0x2069) || cp == 0xFEFF;
}

// Lines of at most kConsentLineChars characters, never cutting a character.
std::vector<std::string> Wrap(const std::string& text) {
  std::vector<std::string> lines(1);
  size_t chars = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t from = i;
    DecodeUtf8(text, i);
    if (chars == kConsentLineChars) {
      lines.emplace_back();
      chars = 0;
    }
    lines.back() += text.substr(from, i - from);
    ++chars;
  }
  return lines;
}

// The lines that describe one program.
void AddItemLines(const TConsentItem& item, std::vector<std::string>& lines) {
  for (const std::string& l : Wrap("Program: " + VisibleText(item.program))) lines.push_back(l);
  std::vector<std::string> args =
      Wrap("Arguments: " + (item.arguments.empty() ? std::string("none")
                                                   : VisibleText(ArgumentsText(item.arguments))));
  if (args.size() > kConsentArgumentLines) {
    size_t hidden = 0;
    for (size_t i = kConsentArgumentLines - 1; i < args.size(); ++i)
      for (char c : args[i]) hidden += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    args.resize(kConsentArgumentLines - 1);
    args.push_back("(" + std::to_string(hidden) + " more characters of arguments not shown)");
  }
  lines.insert(lines.end(), args.begin(), args.end());
}

}  // namespace

std::string VisibleText(std::string_view text) {
  // Controls as the log writes them, and the hidden marks besides.
  std::string out;
  size_t shown = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t from = i;
    const char32_t cp = DecodeUtf8(text, i);
    if (i - from == 1 || !IsHiddenMark(cp)) continue;
    out += EscapeControlChars(text.substr(shown, from - shown));
    out += fmt::format("\\u{{{:04X}}}", uint32_t(cp));
    shown = i;
  }
  return out + EscapeControlChars(text.substr(shown));
}

std::string ArgumentsText(const std::vector<std::string>& arguments) {
  std::string out;
  for (const std::string& a : arguments) {
    if (!out.empty()) out += ' ';
    const bool quote = a.empty() || a.find_first_of(" \t\"") != std::string::npos;
    if (!quote) {
      out += a;
      continue;
    }
    out += '"';
    for (char c : a) out += c == '"' ? std::string("\\\"") : std::string(1, c);
    out += '"';
  }
  return out;
}

TDialogTemplate TLumConsentDialog::Template(const std::vector<TConsentItem>& items) {
  using enum TDialogItemKind;
  std::vector<std::string> lines = {
      items.size() == 1 ? std::string("This show asks to start a program on this computer:")
                        : "This show asks to start " + std::to_string(items.size()) +
                              " programs on this computer:"};
  for (size_t i = 0; i < items.size() && i < kConsentShownItems; ++i) AddItemLines(items[i], lines);
  if (items.size() > kConsentShownItems)
    lines.push_back("... and " + std::to_string(items.size() - kConsentShownItems) + " more");
  lines.push_back("Run it only if you trust where this show came from.");
  size_t longest = 0;
  for (const std::string& l : lines) longest = std::max(longest, l.size());
  TDialogTemplate t;
  t.caption = "Run a program?";
  t.width = std::clamp(int(std::min(longest, kConsentLineChars)) * kCharWidth + 2 * kMargin, 330,
                       int(kConsentLineChars) * kCharWidth + 2 * kMargin);
  const int textWidth = t.width - 2 * kMargin;
  int y = kMargin;
  for (size_t i = 0; i < lines.size(); ++i, y += kLineHeight)
    t.items.push_back(
        {Static, kFirstTextId + int(i), kMargin, y, textWidth, kLineHeight, lines[i]});
  y += kMargin / 2;
  t.items.push_back({CheckBox, kAlwaysId, kMargin, y, 160, kLineHeight, "Always for this show"});
  y += kLineHeight + kMargin;
  const int right = t.width - kMargin;
  t.items.push_back(
      {Button, kRunId, right - 2 * kButtonWidth - 6, y, kButtonWidth, kButtonHeight, "Run"});
  t.items.push_back({Button, kDontRunId, right - kButtonWidth, y, kButtonWidth, kButtonHeight,
                     "Don't run", false, true});
  t.height = y + kButtonHeight + kMargin;
  return t;
}

TLumConsentDialog::TLumConsentDialog(TWindow* owner, const std::vector<TConsentItem>& items,
                                     TSystemDialogOptions options)
    : dialog_(Template(items), owner, options) {
  dialog_.SetFocus(kDontRunId);
}

TConsentAnswer TLumConsentDialog::Run() {
  TConsentAnswer a;
  a.run = dialog_.RunModal() == kRunId;
  a.always = a.run && dialog_.Checked(kAlwaysId);
  return a;
}

TConsentAnswer AskConsent(TWindow* owner, const std::vector<TConsentItem>& items) {
  return TLumConsentDialog(owner, items).Run();
}

}  // namespace lum
