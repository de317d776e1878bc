#pragma once
// Draws a video object: its current frame uploaded into the object's YUV
// planes and drawn through the video look-up shaders with the object's
// colour grade, framed like a picture (border band, crop and aspect), with
// the chosen field and chroma key.
#include <functional>

#include "model/lum_video.h"
#include "render/3d_drawer.h"

namespace lum {

// False when nothing was drawn (no frame yet, or the device refused).
// beneath(opacity) draws what lies under the frame (its shadow) once the
// frame is known to be drawn.
bool DrawVideoObject(T3DDrawer& drawer, TLumVideo& video,
                     const std::function<void(double opacity)>& beneath = {});

}  // namespace lum
