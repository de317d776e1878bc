#pragma once
// Whether this SDL was built with an audio driver, asked of SDL itself: a
// test may skip for a driver SDL lacks, never for a player that failed to
// open one SDL has.
#include <SDL.h>

#include <cstring>

namespace lum::test {

inline bool SdlHasAudioDriver(const char* name) {
  for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i)
    if (std::strcmp(SDL_GetAudioDriver(i), name) == 0) return true;
  return false;
}

}  // namespace lum::test
