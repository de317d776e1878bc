#pragma once
// Flat colours of a show (box fills, backgrounds, borders, text and shadow
// colours) are sRGB. While colour management is on they are shown through
// the transform to the display profile, as pictures with a profile are, so
// that a box and a picture of the same colour look alike.
#include <cstdint>

namespace lum {

// rgb: r | g << 8 | b << 16 (a byte above is kept). The colour as the
// display shows it; unchanged while colour management is off. Any thread;
// transforms are remembered per display profile.
uint32_t DisplayedColor(uint32_t rgb);

}  // namespace lum
