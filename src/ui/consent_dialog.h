#pragma once
// The player's own question before a show starts a program: what would run
// (the resolved program and its arguments), "Run" or "Don't run" (the
// default; Escape and closing the window say the same), and "Always for this
// show". Show-supplied text is shown with control and direction-changing
// characters made visible, so it cannot fake or hide a line.
#include <string>
#include <string_view>
#include <vector>

#include "ui/system_dialog.h"

namespace lum {

// One program to start.
struct TConsentItem {
  std::string program;                 // resolved path
  std::vector<std::string> arguments;  // argv after the program
};

struct TConsentAnswer {
  bool run = false;
  bool always = false;  // "Always for this show" was ticked (only with run)
};

// The most programs listed, and lines of arguments per program; the rest is
// counted, not shown.
inline constexpr size_t kConsentShownItems = 4;
inline constexpr size_t kConsentArgumentLines = 4;
// Characters per line of a program or its arguments.
inline constexpr size_t kConsentLineChars = 80;

// The text made safe to show on one line: controls escaped as in the log,
// invisible and bidirectional marks as \u{NNNN}.
std::string VisibleText(std::string_view text);
// Arguments as a user would type them: quoted when empty or holding blanks
// or quotes.
std::string ArgumentsText(const std::vector<std::string>& arguments);

class TLumConsentDialog {
 public:
  static constexpr int kRunId = kIdOk, kDontRunId = kIdCancel, kAlwaysId = 300;

  static TDialogTemplate Template(const std::vector<TConsentItem>& items);

  // Window thread; owner may be null. Throws ELumError when no window can be made.
  TLumConsentDialog(TWindow* owner, const std::vector<TConsentItem>& items,
                    TSystemDialogOptions options = {});

  // Runs modally; "Don't run" has the focus.
  TConsentAnswer Run();
  TSystemDialog& Dialog() { return dialog_; }

 private:
  TSystemDialog dialog_;
};

// TLumConsentDialog(owner, items).Run().
TConsentAnswer AskConsent(TWindow* owner, const std::vector<TConsentItem>& items);

}  // namespace lum
