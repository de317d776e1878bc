#include "startup/player_dialogs.h"

#include <algorithm>
#include <vector>

#include "startup/main_form.h"
#include "ui/consent_dialog.h"
#include "ui/password_dialog.h"
#include "ui/system_dialog.h"

namespace lum {

namespace {

constexpr int kMargin = 12, kLineHeight = 16, kCharWidth = 6;
constexpr int kButtonWidth = 75, kButtonHeight = 25;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

// A box as wide as its longest line (in the dialog font's rough average
// width), within what a screen shows.
TDialogTemplate MessageTemplate(const std::string& caption, const std::string& text) {
  const std::vector<std::string> lines = Lines(text);
  size_t longest = 0;
  for (const std::string& l : lines) longest = std::max(longest, l.size());
  TDialogTemplate t;
  t.caption = caption;
  t.width = std::clamp(int(longest) * kCharWidth + 2 * kMargin, 200, 900);
  const int textWidth = t.width - 2 * kMargin;
  int y = kMargin;
  for (size_t i = 0; i < lines.size(); ++i, y += kLineHeight)
    t.items.push_back({TDialogItemKind::Static, 100 + int(i), kMargin, y, textWidth, kLineHeight,
                       lines[i]});
  TDialogItem ok{TDialogItemKind::Button, kIdOk, (t.width - kButtonWidth) / 2, y + kMargin,
                 kButtonWidth, kButtonHeight, "OK"};
  ok.defaultButton = true;
  t.items.push_back(ok);
  t.height = y + 2 * kMargin + kButtonHeight;
  return t;
}

}  // namespace

void ShowMessageBox(TWindow* owner, const std::string& caption, const std::string& text) {
  TSystemDialog box(MessageTemplate(caption, text), owner);
  box.RunModal();
}

void ShowErrorBox(TWindow* owner, const std::string& text) {
  ShowMessageBox(owner, kErrorCaption, text);
}

void InstallPlayerDialogs(TMainForm& form) {
  TMainFormHooks& h = form.Hooks();
  h.askPassword = [&form](const TIniFile& document) {
    return AskPassword(&form.Window(), document);
  };
  h.showMessage = [&form](const std::string& caption, const std::string& text) {
    ShowMessageBox(&form.Window(), caption, text);
  };
  h.askConsent = [&form](const std::vector<TConsentItem>& items) {
    return AskConsent(&form.Window(), items);
  };
}

}  // namespace lum
