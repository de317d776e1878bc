#pragma once
// The show's own dialogs (help screens, information panels, menus): small
// slides built from "dialog_" sections that open over the running show,
// toggle by the action that opened them, fade in and out over 200 ms and
// may pause the show while open.
#include <optional>
#include <string>
#include <vector>

#include "model/slide_producer.h"
#include "project/lum_action_info.h"
#include "render/3d_drawer.h"

namespace lum {

class TIniFile;
class TIniList;
class TLumSource;

inline constexpr double kDialogFadeMs = 200;

// The section of a named dialog: "dialog_<i>_" when "custom_dialog<i>" names
// it (the first such i of "opt_customdialogscount"), else "dialog_<name>";
// "help" is the first "dialog_<k>_" whose "help" is true (the search stops
// at the first missing section). Null when there is none.
const TIniList* FindDialogSection(const TIniFile& document, const std::string& name);

class TDialogStack {
 public:
  // Dialogs are laid out for a window of this size, like the slides.
  TDialogStack(TLumSource& source, int windowW, int windowH);

  // Opens the named dialog on top, or closes it when it is open; false when
  // the show does not define it.
  bool Toggle(const std::string& name, double now);
  // Starts closing the top open dialog; false when none is open.
  bool CloseTop(double now);
  // Closes the dialogs that pause the show (the show is being moved on).
  void ClosePausing(double now);
  // An open dialog pauses the show ("DialogPause", default on).
  bool Pauses() const;
  size_t OpenCount() const;
  // Advances the dialogs to now and drops those faded out; true when the
  // picture changed (a fade, a moving object, a dialog gone).
  bool SetTime(double now);
  void Draw(T3DDrawer& drawer, double now);
  // The pointer goes to the top open dialog, which takes it (true) when it
  // falls on one of its objects; action gets what a button there gives.
  bool Pointer(int x, int y, int type, std::optional<TLumActionInfo>* action);

 private:
  struct TOpen {
    std::string name;
    TRef<TLumSlide> slide;
    bool pause = true;
    double openedAt = 0, closingAt = -1;
    bool background = false;  // the section gives one ("bstyle")
    bool Closing() const { return closingAt >= 0; }
  };
  TRef<TLumSlide> Build(const TIniList& section);
  TOpen* TopOpen();

  TLumSource& source_;
  TRef<TSlideProducer> producer_;
  std::vector<TOpen> dialogs_;
};

}  // namespace lum
