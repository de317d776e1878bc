#pragma once
// The player's media controls: its state offered on the session bus to media
// keys, desktop media widgets and playerctl, and their requests carried out
// on the window thread as the player's own keys would.
#include <memory>

namespace lum {

class TMainForm;
class TMprisService;

class TPlayerMediaControls {
 public:
  // Window thread, once the form exists; the form must outlive the
  // controls. Without a session bus the controls stay idle.
  explicit TPlayerMediaControls(TMainForm& form);
  // Window thread: leaves the bus and removes the slide pictures.
  ~TPlayerMediaControls();
  TPlayerMediaControls(const TPlayerMediaControls&) = delete;
  TPlayerMediaControls& operator=(const TPlayerMediaControls&) = delete;

 private:
  struct TCore;
  std::shared_ptr<TCore> core_;  // reached by window-thread jobs while it lives
  std::unique_ptr<TMprisService> service_;
};

}  // namespace lum
