#pragma once
// The print dialog: print the current slide (its main picture or the frame
// shown), save it, or choose the printer. Texts come from the show's [Main]
// section; Save is offered only to shows that allow it ("CanRestore").
#include <functional>
#include <string>

#include "document/ini_file.h"
#include "ui/print_source.h"
#include "ui/system_dialog.h"

namespace lum {

class TLumPrintDialog {
 public:
  static constexpr int kChangePrinterId = 1000, kPrintId = 1001, kSaveId = 1002, kMainOnlyId = 1003;
  // Tells the user something went wrong (a message box over the dialog).
  using TMessage = std::function<void(const std::string& text)>;

  static TDialogTemplate Template(const TIniFile& project);

  // Window thread; owner may be null. slideIndex: the 0-based slide shown.
  // Throws ELumError when no window can be made.
  TLumPrintDialog(TWindow* owner, const TIniFile& project, TPrintPictureSource& source,
                  int slideIndex, TMessage message, TSystemDialogOptions options = {});

  // Runs modally until a command or Escape closes it.
  void Run();
  TSystemDialog& Dialog() { return dialog_; }

 private:
  void Command(int command);
  void Print();
  void Save();
  void Tell(const std::string& text);

  TPrintPictureSource& source_;
  int slideIndex_;
  TMessage message_;
  TSystemDialogOptions options_;
  TSystemDialog dialog_;
};

// Writes the bytes to path (replacing a file there only once all are
// written); false with the reason for the user.
bool SaveFileBytes(const std::string& path, const std::string& bytes, std::string& error);

}  // namespace lum
