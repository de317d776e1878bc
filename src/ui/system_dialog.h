#pragma once
// Modal system dialogs built from a dialog template: a separate window over
// the owner, drawn in software with our text renderer, run by pumping the
// window thread so that posted requests (the control socket) keep running.
//
// The main window consults ModalCount() to ignore its own input and actions
// while a dialog runs, and reaches the open dialog through
// CurrentSystemDialog() to type into it as a user would.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/bitmap.h"
#include "toolkit/window.h"
#include "ui/dialog_canvas.h"
#include "ui/dialog_template.h"

namespace lum {

struct TSystemDialogOptions {
  int dpi = 0;  // 0: the dpi of the owner's display (of the first display without owner)
};

class TSystemDialog {
 public:
  // What a command does (buttons, Enter, Escape and closing as kIdCancel).
  using TCommandHandler = std::function<void(TSystemDialog& dialog, int command)>;

  // Window thread. Builds the (hidden) window centred over the owner's
  // client area, or the owner's display without owner; owner may be null.
  // Throws ELumError when the window cannot be made.
  TSystemDialog(TDialogTemplate dialogTemplate, TWindow* owner, TSystemDialogOptions options = {});
  ~TSystemDialog();
  TSystemDialog(const TSystemDialog&) = delete;
  TSystemDialog& operator=(const TSystemDialog&) = delete;

  // Window thread: shows the dialog and pumps the window thread until
  // EndDialog; returns its result. A quit of the window thread ends it with
  // kIdCancel. Exceptions of the dialog's own input and command handling
  // leave through here, with the modal state undone (posted requests keep
  // theirs: the window thread drops them). A second run while running is an
  // assertion failure.
  int RunModal();
  // Ends the modal run with that result (after the current event).
  void EndDialog(int result);
  bool Running() const { return running_; }

  // The default handler ends the dialog with the command.
  void SetCommandHandler(TCommandHandler handler) { handler_ = std::move(handler); }
  // Runs a command as a button press would.
  void Command(int command);

  // Input as a user gives it; the window's own events arrive here too.
  // Key: virtual-key code, kMod* bits; only presses (and repeats) act.
  void Key(uint16_t key, uint32_t mods, bool down);
  // Typed text goes to the focused edit: control characters are dropped, a
  // line break ends it, the edit keeps at most kEditMaxChars characters.
  void Text(std::string_view utf8);
  // The left button at client pixels: a press focuses what it hits, a
  // release over the pressed button or check box activates it.
  void MouseButton(int x, int y, bool down);
  void MouseMove(int x, int y);

  const TDialogTemplate& Template() const { return template_; }
  int Dpi() const { return dpi_; }
  // Client pixels; empty when there is no such item.
  TScreenRect ItemRect(int id) const;
  std::string ItemText(int id) const;
  void SetItemText(int id, std::string_view text);
  bool Checked(int id) const;
  void SetChecked(int id, bool checked);
  // The focused item's id; 0 when nothing has focus.
  int Focused() const;
  // Focuses an item that takes focus; false otherwise.
  bool SetFocus(int id);

  TWindow& Window() { return *window_; }
  void Raise();
  // A copy of the dialog's client pixels (Bgra32), drawn now when out of date.
  TRef<TBitmap> Snapshot();

 private:
  struct TItemState {
    std::string text;
    bool checked = false;
  };

  bool Show();  // true when it started text input
  void Hide(bool stopTextInput);
  int ReturnCommand() const;
  int IndexOf(int id) const;
  int HitTest(int x, int y) const;
  void MoveFocus(int direction);
  void Activate(int index);
  void Paste();
  void Invalidate() { dirty_ = stale_ = true; }
  void Present();
  void Paint();
  void PaintStatic(int index, const TScreenRect& r);
  void PaintEdit(int index, const TScreenRect& r);
  void PaintButton(int index, const TScreenRect& r);
  void PaintCheckBox(int index, const TScreenRect& r);
  std::string EditShown(int index) const;
  bool IsDefault(int index) const;

  TDialogTemplate template_;
  int dpi_;
  std::vector<TItemState> state_;
  std::unique_ptr<TWindow> window_;
  TWindow* owner_;
  std::unique_ptr<TDialogCanvas> canvas_;
  TDialogFont font_;
  TCommandHandler handler_;
  int focus_ = -1;    // item index
  int pressed_ = -1;  // item index under a held button
  bool pressedInside_ = false;
  bool dirty_ = true;  // the canvas is out of date
  bool stale_ = true;  // the window is out of date
  bool running_ = false;
  bool ended_ = false;
  int result_ = kIdCancel;
};

// Modal states running now: system dialogs and TModalScope objects. Any thread.
int ModalCount();
// The innermost running system dialog; null when none. Window thread.
TSystemDialog* CurrentSystemDialog();

// Counts as a modal state while it lives (message boxes and other modal
// loops of the main window).
class TModalScope {
 public:
  TModalScope();
  ~TModalScope();
  TModalScope(const TModalScope&) = delete;
  TModalScope& operator=(const TModalScope&) = delete;
};

}  // namespace lum
