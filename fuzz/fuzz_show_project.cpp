// Show projects from hostile documents: the timeline, transitions and end
// actions of every slide, with the chooser in both modes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/errors.h"
#include "project/lum_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lum::TIniFile doc;
  doc.LoadText(std::string(reinterpret_cast<const char*>(data), size));
  try {
    lum::TLumSource src(nullptr, doc, {size % 2 ? "x.scr" : "x", uint32_t(size)});
    src.Rotation().SetDeterministic(size % 3 == 0);
    for (int32_t i = 0; i < src.SlideCount() && i < 64; ++i) {
      src.Slide(i + src.SlideCount());
      src.Transition(i);
      src.EndAction(i);
      src.Program(i);
      src.SlideAt(src.Slide(i).end + 0.5);
    }
  } catch (const lum::ELumError&) {
  }
  return 0;
}
