#include "ui/printer_dialog.h"

#include <algorithm>

namespace lum {

namespace {

constexpr int kWidth = 340, kMargin = 12, kRow = 30, kButtonHeight = 25;
constexpr const char* kCurrentMark = "\xE2\x97\x8F ";  // a bullet

std::string Label(const std::string& name, const TPrinterList& list, const std::string& current) {
  const bool isCurrent = name == (current.empty() ? list.defaultName : current);
  std::string label = isCurrent ? kCurrentMark + name : name;
  if (name == list.defaultName) label += " (default)";
  return label;
}

}  // namespace

TDialogTemplate TPrinterDialog::Template(const std::optional<TPrinterList>& printers,
                                         const std::string& error, const std::string& current) {
  using enum TDialogItemKind;
  TDialogTemplate t;
  t.caption = "Select Printer";
  t.width = kWidth;
  const int inner = kWidth - 2 * kMargin;
  std::string note = "Choose the printer to print on:";
  if (!printers)
    note = error;
  else if (printers->names.empty())
    note = "No printer is set up.";
  t.items.push_back({Static, kNoteId, kMargin, kMargin, inner, 16, note});
  int y = kMargin + 24;
  const int count = printers ? int(printers->names.size()) : 0;
  const int shown = std::min(count, kMaxPrinters);
  for (int i = 0; i < shown; ++i, y += kRow)
    t.items.push_back({Button, kFirstPrinterId + i, kMargin, y, inner, kButtonHeight,
                       Label(printers->names[i], *printers, current)});
  if (count > shown) {
    t.items.push_back({Static, kMoreId, kMargin, y, inner, 16,
                       std::to_string(count - shown) + " more printers are not listed."});
    y += 24;
  }
  t.items.push_back({Button, kIdCancel, kWidth - kMargin - 75, y + 4, 75, kButtonHeight, "Cancel",
                     false, shown == 0});
  t.height = y + 4 + kButtonHeight + kMargin;
  return t;
}

TPrinterDialog::TPrinterDialog(TWindow* owner, TSystemDialogOptions options) {
  std::string error;
  printers_ = ListPrinters(error);
  const std::string& current = ChosenPrinter();
  dialog_ = std::make_unique<TSystemDialog>(Template(printers_, error, current), owner, options);
  // Enter keeps the printer in use.
  if (!printers_) return;
  const auto& names = printers_->names;
  const auto it =
      std::find(names.begin(), names.end(), current.empty() ? printers_->defaultName : current);
  if (it != names.end()) dialog_->SetFocus(kFirstPrinterId + int(it - names.begin()));
}

std::optional<std::string> TPrinterDialog::Run() {
  const int result = dialog_->RunModal() - kFirstPrinterId;
  if (!printers_ || result < 0 || result >= int(printers_->names.size())) return std::nullopt;
  return printers_->names[size_t(result)];
}

void ChangePrinter(TWindow* owner, TSystemDialogOptions options) {
  if (auto chosen = TPrinterDialog(owner, options).Run()) SetChosenPrinter(std::move(*chosen));
}

}  // namespace lum
