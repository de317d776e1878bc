#pragma once
// The Save As dialog of our toolkit: a path field, the file type shown, Save
// and Cancel, and a confirmation before an existing file is replaced.
#include <optional>
#include <string>

#include "ui/system_dialog.h"

namespace lum {

struct TSaveFileRequest {
  std::string name;        // proposed file name
  std::string defaultExt;  // without the dot; appended when the typed name has none
  std::string filter;      // shown as the file type, "*.jpg"
};

class TSaveDialog {
 public:
  static constexpr int kPathId = 100, kTypeId = 101, kLabelId = 102;

  // The dialog's template with the path field prefilled as folder + name.
  static TDialogTemplate Template(const TSaveFileRequest& request, const std::string& folder);

  // Window thread; owner may be null. The path field starts in
  // DefaultPicturesFolder(). Throws ELumError when no window can be made.
  TSaveDialog(TWindow* owner, TSaveFileRequest request, TSystemDialogOptions options = {});

  // Runs modally: the confirmed path, nothing after Cancel, Escape or closing.
  std::optional<std::string> Run();
  TSystemDialog& Dialog() { return dialog_; }

 private:
  void Command(int command);

  TSaveFileRequest request_;
  std::string folder_;
  TSystemDialogOptions options_;
  TSystemDialog dialog_;
  std::string chosen_;
};

// The user's pictures folder: XDG_PICTURES_DIR of configHome/user-dirs.dirs
// when it names an existing folder, else home/Pictures when it exists, else
// home. With trailing "/".
std::string PicturesFolder(const std::string& home, const std::string& configHome);
// The same for this process ($HOME, $XDG_CONFIG_HOME or ~/.config).
std::string DefaultPicturesFolder();

// The file a typed path names: blanks trimmed, "~/" as home, a relative path
// within folder, defaultExt appended when the file part has no extension.
// Empty when nothing was typed.
std::string SavePath(std::string typed, const std::string& defaultExt, const std::string& folder,
                     const std::string& home);

// Asks whether an existing file may be replaced (Yes/No, No the default).
bool ConfirmReplace(TWindow* owner, const std::string& path, TSystemDialogOptions options = {});

}  // namespace lum
