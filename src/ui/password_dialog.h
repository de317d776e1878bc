#pragma once
// The password prompt shown before a protected show opens. Its texts come
// from the show's [Main] section; comparing the answer is the caller's work.
#include <functional>
#include <optional>
#include <string>

#include "document/ini_file.h"
#include "ui/system_dialog.h"

namespace lum {

class TLumPasswordDialog {
 public:
  // Items besides the OK (kIdOk) and Cancel (kIdCancel) buttons.
  static constexpr int kLabelId = 100, kEditId = 101;

  // The prompt's template with the texts of the document's [Main] section.
  static TDialogTemplate Template(const TIniFile& project);

  // Window thread; owner may be null. Throws ELumError when no window can be made.
  TLumPasswordDialog(TWindow* owner, const TIniFile& project, TSystemDialogOptions options = {});

  // Runs modally: the typed text after OK, nothing after Cancel, Escape or
  // closing the window.
  std::optional<std::string> Run();
  TSystemDialog& Dialog() { return dialog_; }

 private:
  TSystemDialog dialog_;
};

// TLumPasswordDialog(owner, project, options).Run(), or the stand-in prompt when one is set.
std::optional<std::string> AskPassword(TWindow* owner, const TIniFile& project,
                                       TSystemDialogOptions options = {});

// A stand-in for the prompt (tests drive failures through it); an empty one
// restores the dialog. Window thread.
using TPasswordPrompt =
    std::function<std::optional<std::string>(TWindow* owner, const TIniFile& project)>;
void SetPasswordPrompt(TPasswordPrompt prompt);

}  // namespace lum
