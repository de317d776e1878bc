// A hostile object section through the property tree: loading, evaluating at
// times in any order, scaling and reloading never crash, and every value that
// comes out is a finite number.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/errors.h"
#include "model/lum_object_props.h"
#include "document/ini_file.h"

namespace {

using namespace lum;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_key_frames: %s\n", what);
  std::abort();
}

void CheckValues(const TLumObjectProps& node) {
  for (float v : node.Values())
    if (!std::isfinite(v)) Fail("non-finite animated value");
  for (int g = 0; g < kAnimatedGroupCount; ++g) {
    const TSegmentTracker& tr = node.Tracker(g);
    if (tr.last >= node.KeyFrameCount()) Fail("tracker past the key frames");
    if (tr.last >= 0 && (tr.from < tr.first || tr.to > tr.last || tr.from > tr.to))
      Fail("tracker outside its group's key frames");
  }
  for (const auto& child : node.Children()) CheckValues(*child);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // The first bytes choose the slide timing; the rest is a slide section whose
  // first object is the root.
  TLumSlideTiming timing{int(data[0]) * 40, int(data[1]) * 8, int(data[2]) * 8};
  std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
  TIniFile doc;
  doc.LoadText("[Slide]\n" + text);
  TIniList* slide = doc.Section("Slide");
  TIniList* root = slide ? slide->FirstObject() : nullptr;
  if (!root) return 0;
  auto node = MakeRef<TLumObjectProps>();
  try {
    node->LoadSlideRoot(root, slide, timing);
  } catch (const ELumError&) {
    return 0;
  }
  for (double t : {0.0, 250.0, -50.0, 1e9, 5000.0, 16.7, 2999.0, 0.0})
    node->Evaluate(t, true), CheckValues(*node);
  node->ScaleTimes(timing, 1.5);
  node->Evaluate(1000, true);
  CheckValues(*node);
  // Reloading the same section re-uses every node and key frame.
  try {
    node->Load(root, timing);
  } catch (const ELumError&) {
    Fail("reload failed where the load did not");
  }
  node->ResetTrackers(true);
  node->Evaluate(777, true);
  CheckValues(*node);
  return 0;
}
