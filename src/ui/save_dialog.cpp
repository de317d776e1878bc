#include "ui/save_dialog.h"

#include <cstdlib>
#include <fstream>

#include "foundation/paths.h"

namespace lum {

namespace {

constexpr int kIdYes = 6, kIdNo = 7;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string Trimmed(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  return std::string(s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1));
}

// The quoted value of a user-dirs.dirs line "KEY="value"", backslash escapes
// taken literally; nothing when the line is not that key.
std::optional<std::string> QuotedValue(std::string_view line, std::string_view key) {
  line = std::string_view(line).substr(std::min(line.size(), line.find_first_not_of(" \t")));
  if (line.substr(0, key.size()) != key) return std::nullopt;
  line.remove_prefix(key.size());
  if (line.size() < 2 || line[0] != '=' || line[1] != '"') return std::nullopt;
  std::string value;
  for (size_t i = 2; i < line.size(); ++i) {
    if (line[i] == '"') return value;
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    value += line[i];
  }
  return std::nullopt;
}

// XDG_PICTURES_DIR as the file states it: "$HOME/..." or an absolute path.
std::string XdgPictures(const std::string& home, const std::string& configHome) {
  std::ifstream in(IncludeTrailingSlash(configHome) + "user-dirs.dirs");
  std::string line, found;
  while (std::getline(in, line))
    if (auto v = QuotedValue(line, "XDG_PICTURES_DIR")) found = *v;
  if (found == "$HOME" || found.starts_with("$HOME/")) return home + found.substr(5);
  return found.starts_with("/") ? found : std::string();
}

TDialogTemplate ReplaceTemplate(const std::string& path) {
  using enum TDialogItemKind;
  TDialogTemplate t;
  t.caption = "Confirm Save As";
  t.width = 360;
  t.height = 95;
  t.items = {
      {Static, 100, 12, 12, 336, 16, std::string(ExtractFileName(path)) + " already exists."},
      {Static, 101, 12, 30, 336, 16, "Do you want to replace it?"},
      {Button, kIdYes, 98, 58, 75, 25, "Yes"},
      {Button, kIdNo, 187, 58, 75, 25, "No", false, true},
  };
  return t;
}

}  // namespace

std::string PicturesFolder(const std::string& home, const std::string& configHome) {
  const std::string xdg = XdgPictures(home, configHome);
  if (!xdg.empty() && DirectoryExists(xdg)) return IncludeTrailingSlash(xdg);
  const std::string pictures = IncludeTrailingSlash(home) + "Pictures";
  if (!home.empty() && DirectoryExists(pictures)) return IncludeTrailingSlash(pictures);
  return home.empty() ? CurrentFolder() : IncludeTrailingSlash(home);
}

std::string DefaultPicturesFolder() {
  const std::string home = Env("HOME");
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') config = home + "/.config";
  return PicturesFolder(home, config);
}

std::string SavePath(std::string typed, const std::string& defaultExt, const std::string& folder,
                     const std::string& home) {
  std::string path = Trimmed(typed);
  if (path.empty() || path.back() == '/') return {};
  if (path == "~") return {};
  if (path.starts_with("~/")) path = IncludeTrailingSlash(home) + path.substr(2);
  if (path[0] != '/') path = IncludeTrailingSlash(folder) + path;
  if (ExtractFileExt(path).empty() && !defaultExt.empty()) path += "." + defaultExt;
  return path;
}

bool ConfirmReplace(TWindow* owner, const std::string& path, TSystemDialogOptions options) {
  TSystemDialog box(ReplaceTemplate(path), owner, options);
  box.SetFocus(kIdNo);
  return box.RunModal() == kIdYes;
}

TDialogTemplate TSaveDialog::Template(const TSaveFileRequest& request, const std::string& folder) {
  using enum TDialogItemKind;
  TDialogTemplate t;
  t.caption = "Save As";
  t.width = 360;
  t.height = 121;
  t.items = {
      {Static, kLabelId, 12, 12, 336, 16, "File name:"},
      {Edit, kPathId, 12, 30, 336, 21, IncludeTrailingSlash(folder) + request.name},
      {Static, kTypeId, 12, 60, 336, 16,
       "Save as type: " + (request.filter.empty() ? std::string("*") : request.filter)},
      {Button, kIdOk, 192, 84, 75, 25, "Save", false, true},
      {Button, kIdCancel, 273, 84, 75, 25, "Cancel"},
  };
  return t;
}

TSaveDialog::TSaveDialog(TWindow* owner, TSaveFileRequest request, TSystemDialogOptions options)
    : request_(std::move(request)),
      folder_(DefaultPicturesFolder()),
      options_(options),
      dialog_(Template(request_, folder_), owner, options) {
  dialog_.SetCommandHandler([this](TSystemDialog&, int command) { Command(command); });
}

std::optional<std::string> TSaveDialog::Run() {
  chosen_.clear();
  if (dialog_.RunModal() != kIdOk || chosen_.empty()) return std::nullopt;
  return chosen_;
}

void TSaveDialog::Command(int command) {
  if (command != kIdOk) return dialog_.EndDialog(command);
  const std::string path =
      SavePath(dialog_.ItemText(kPathId), request_.defaultExt, folder_, Env("HOME"));
  // Nothing to save to yet: the dialog stays, as it does after a No.
  if (path.empty() || DirectoryExists(path)) return;
  if (FileExists(path) && !ConfirmReplace(&dialog_.Window(), path, options_)) return;
  chosen_ = path;
  dialog_.EndDialog(kIdOk);
}

}  // namespace lum
