// Hostile project documents through slide production and layout: every slide
// (and a repetition and the blank slide) produced, timed, laid out, drawn,
// hit-tested and clicked.
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/errors.h"
#include "model/slide_producer.h"
#include "project/lum_source.h"

namespace {

class TNullDrawer : public lum::TObjectDrawer {
 public:
  void DrawBackground(lum::TLumSlide&, const lum::TSlideBackground&) override {}
  void DrawBox(lum::TLumBox&) override {}
  void DrawContent(lum::TLumObject&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lum::TIniFile doc;
  doc.LoadText(std::string(reinterpret_cast<const char*>(data), size));
  try {
    lum::TLumSource src(nullptr, doc, {"x", uint32_t(size)});
    src.Rotation().SetDeterministic(true);
    auto producer = lum::MakeRef<lum::TSlideProducer>(src);
    producer->SetFrame(640 + int(size % 7) * 100, 480, int(size % 2));
    TNullDrawer drawer;
    const int32_t n = src.SlideCount();
    for (int64_t i = -1; i < n + 1 && i < 16; ++i) {
      lum::TRef<lum::TDrawContainer> c = producer->Produce(i);
      if (!c) continue;
      lum::TLumSlide& s = *c->slide;
      for (double t : {-100.0, 0.0, 250.0, 1000.5, 5000.0, 1e7}) {
        s.SetTimeAndLayout(true, s.BeginTime() + t);
        s.Draw(drawer);
        s.FindObjectAt(320, 240, lum::ClickFilter);
        std::optional<lum::TLumActionInfo> action;
        s.PointerInput(100, 100, lum::kLeftButton, lum::kPointerPress, &action);
        s.PointerInput(100, 100, 0, lum::kPointerRelease, &action);
      }
      s.MainImage();
      s.IsChanged();
    }
  } catch (const lum::ELumError&) {
  }
  return 0;
}
