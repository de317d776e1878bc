#pragma once
// The printer selection of our toolkit: one button per printer of the print
// server (the current one marked, the default one named so), Cancel; a
// server that cannot be reached or has no printer is said in the dialog.
#include <optional>
#include <string>

#include "ui/printing.h"
#include "ui/system_dialog.h"

namespace lum {

class TPrinterDialog {
 public:
  static constexpr int kFirstPrinterId = 1100, kNoteId = 100, kMoreId = 101;
  // Printers beyond this many are left out, with a line saying how many.
  static constexpr int kMaxPrinters = 8;

  // The template for a printer list (nothing: error says why there is none)
  // with current (empty: the default) marked.
  static TDialogTemplate Template(const std::optional<TPrinterList>& printers,
                                  const std::string& error, const std::string& current);

  // Window thread; asks the server for its printers first (owner may be null).
  TPrinterDialog(TWindow* owner, TSystemDialogOptions options = {});

  // Runs modally: the chosen printer's name, nothing after Cancel or Escape.
  std::optional<std::string> Run();
  TSystemDialog& Dialog() { return *dialog_; }

 private:
  std::optional<TPrinterList> printers_;
  std::unique_ptr<TSystemDialog> dialog_;
};

// Runs the selection and keeps the choice as ChosenPrinter().
void ChangePrinter(TWindow* owner, TSystemDialogOptions options = {});

}  // namespace lum
