#pragma once
// Draws a video object: its current frame uploaded into the object's YUV
// planes and drawn through the video look-up shaders, framed like a picture
// (border band, crop and aspect), with the chosen field and chroma key.
#include "model/lum_video.h"
#include "render/3d_drawer.h"

namespace lum {

// False when nothing was drawn (no frame yet, or the device refused).
bool DrawVideoObject(T3DDrawer& drawer, TLumVideo& video);

}  // namespace lum
