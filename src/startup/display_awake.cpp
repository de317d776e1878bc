#include "startup/display_awake.h"

#include <SDL.h>

#include "foundation/log.h"

namespace lum {

void PrepareDisplayAwake() {
  // SDL would otherwise hold the display awake from its start to its end.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  SDL_SetHint(SDL_HINT_APP_NAME, "Lum show player");
  SDL_SetHint(SDL_HINT_SCREENSAVER_INHIBIT_ACTIVITY_NAME, "Playing a slide show");
}

TDisplayAwake::~TDisplayAwake() {
  Update(false);
}

void TDisplayAwake::Update(bool playing) {
  if (playing == held_ || !SDL_WasInit(SDL_INIT_VIDEO)) return;
  held_ = playing;
  if (playing)
    SDL_DisableScreenSaver();
  else
    SDL_EnableScreenSaver();
  Log().Line(playing ? "TMainForm: display kept awake" : "TMainForm: display may sleep");
}

}  // namespace lum
