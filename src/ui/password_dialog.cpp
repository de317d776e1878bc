#include "ui/password_dialog.h"

namespace lum {

namespace {

constexpr std::string_view kMain = "Main";

TPasswordPrompt& StandIn() {
  static TPasswordPrompt prompt;
  return prompt;
}

}  // namespace

TDialogTemplate TLumPasswordDialog::Template(const TIniFile& project) {
  using enum TDialogItemKind;
  TDialogTemplate t;
  t.caption = project.ReadString(kMain, "opt_lng_password_caption", "Password required");
  t.width = 260;
  t.height = 98;
  t.items = {
      {Static, kLabelId, 12, 12, 244, 16,
       project.ReadString(kMain, "opt_lng_password_label", "Enter password:")},
      {Edit, kEditId, 12, 32, 236, 21, "", true},
      {Button, kIdOk, 52, 62, 75, 25, project.ReadString(kMain, "opt_lng_button_ok", "OK"), false,
       true},
      {Button, kIdCancel, 133, 62, 75, 25,
       project.ReadString(kMain, "opt_lng_button_cancel", "Cancel")},
  };
  return t;
}

TLumPasswordDialog::TLumPasswordDialog(TWindow* owner, const TIniFile& project,
                                       TSystemDialogOptions options)
    : dialog_(Template(project), owner, options) {}

std::optional<std::string> TLumPasswordDialog::Run() {
  if (dialog_.RunModal() != kIdOk) return std::nullopt;
  return dialog_.ItemText(kEditId);
}

std::optional<std::string> AskPassword(TWindow* owner, const TIniFile& project,
                                       TSystemDialogOptions options) {
  if (StandIn()) return StandIn()(owner, project);
  return TLumPasswordDialog(owner, project, options).Run();
}

void SetPasswordPrompt(TPasswordPrompt prompt) {
  StandIn() = std::move(prompt);
}

}  // namespace lum
