#include "ui/print_dialog.h"

#include "foundation/file_stream.h"
#include "foundation/log.h"
#include "ui/printer_dialog.h"
#include "ui/printing.h"
#include "ui/save_dialog.h"

namespace lum {

namespace {

constexpr std::string_view kMain = "Main";

}  // namespace

TDialogTemplate TLumPrintDialog::Template(const TIniFile& project) {
  using enum TDialogItemKind;
  TDialogTemplate t;
  t.caption = project.ReadString(kMain, "opt_lng_print_caption", "Print");
  t.width = 282;
  t.height = 86;
  t.items.push_back({Button, kPrintId, 12, 12, 125, 25,
                     project.ReadString(kMain, "opt_lng_print_button5", "Print"), false, true});
  if (project.ReadBool(kMain, "CanRestore", false))
    t.items.push_back({Button, kSaveId, 145, 12, 125, 25,
                       project.ReadString(kMain, "opt_lng_print_button6", "Save")});
  t.items.push_back({CheckBox, kMainOnlyId, 145, 49, 125, 25,
                     project.ReadString(kMain, "opt_lng_print_button7", "Only Main Image")});
  t.items.push_back({Button, kChangePrinterId, 12, 49, 125, 25,
                     project.ReadString(kMain, "opt_lng_print_label", "Change Printer")});
  return t;
}

TLumPrintDialog::TLumPrintDialog(TWindow* owner, const TIniFile& project,
                                 TPrintPictureSource& source, int slideIndex, TMessage message,
                                 TSystemDialogOptions options)
    : source_(source),
      slideIndex_(slideIndex),
      message_(std::move(message)),
      options_(options),
      dialog_(Template(project), owner, options) {
  dialog_.SetCommandHandler([this](TSystemDialog&, int command) { Command(command); });
}

void TLumPrintDialog::Run() {
  dialog_.RunModal();
}

void TLumPrintDialog::Command(int command) {
  switch (command) {
    case kChangePrinterId:
      ChangePrinter(&dialog_.Window(), options_);
      return;
    case kPrintId:
      Print();
      break;
    case kSaveId:
      Save();
      break;
    default:
      break;
  }
  dialog_.EndDialog(command);
}

void TLumPrintDialog::Print() {
  TRef<TBitmap> picture;
  if (dialog_.Checked(kMainOnlyId)) picture = source_.MainPicture();
  if (!HasPicture(picture)) picture = source_.CapturedFrame();
  if (!HasPicture(picture)) return Tell("There is no picture of the slide to print.");
  std::string error;
  const auto job = PrintBitmap(*picture, ChosenPrinter(), error);
  if (!job) return Tell(error);
  Log().Line("Print: job " + std::to_string(*job) + " sent");
}

void TLumPrintDialog::Save() {
  std::string error;
  const auto content = SaveContent(source_, dialog_.Checked(kMainOnlyId), slideIndex_, error);
  if (!content) return Tell(error);
  TSaveDialog ask(&dialog_.Window(), {content->name, content->defaultExt, content->filter},
                  options_);
  const auto path = ask.Run();
  if (path && !SaveFileBytes(*path, content->bytes, error)) Tell(error);
}

void TLumPrintDialog::Tell(const std::string& text) {
  Log().Line("Print: " + text);
  if (message_) message_(text);
}

bool SaveFileBytes(const std::string& path, const std::string& bytes, std::string& error) {
  try {
    WriteFileBytes(path, bytes);
    return true;
  } catch (const std::exception& e) {
    error = std::string("The file could not be written:\r") + e.what();
    return false;
  }
}

}  // namespace lum
