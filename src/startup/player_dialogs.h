#pragma once
// The player's message boxes and its password prompt, wired into the main
// window's hooks.
#include <string>

#include "toolkit/window.h"

namespace lum {

class TMainForm;

// A modal box with the text (lines broken at CR or LF) and an OK button,
// centred over owner (or the screen without one). Window thread.
void ShowMessageBox(TWindow* owner, const std::string& caption, const std::string& text);
// The same with the caption of the player's error messages.
void ShowErrorBox(TWindow* owner, const std::string& text);

// Message boxes, the password prompt and the question before a show starts
// a program, for the form's hooks.
void InstallPlayerDialogs(TMainForm& form);

}  // namespace lum
