#pragma once
// Colour grades of a picture object: the filter chains of its key frames
// (and its picture's colour-management look-up) baked into look-up tables
// that the drawer uploads as textures. Baking happens when a chain changes,
// so drawing costs one look-up per pixel however long the chains are.
#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "model/object_filter.h"

namespace lum {

class TLumObjectProps;

// 2: per-channel curves (256 x 1 BGRA); 3: colour volumes (32 x 1024 BGRA).
inline constexpr int kGradeCurves = 2;
inline constexpr int kGradeVolumes = 3;

// What the drawer needs to grade one frame of a picture.
struct TColorGradeDraw {
  int mode = 0;  // below 2: drawn ungraded
  TRef<const TBitmap> from, to;
  double t = 0;  // 0 draws `from`, 1 draws `to`
};

// The baked table of one chain; made again only when the chain changes.
class TColorGradeHolder {
 public:
  // The chain baked for a mode, over the look-up (mode 3 only) when one is
  // given, else over the identity as the display sees it.
  TRef<const TBitmap> Cells(const TFilterChain& chain, int mode, const TBitmap* lookup);

 private:
  bool Changed(const TFilterChain& chain, int mode, const TBitmap* lookup) const;

  std::vector<const TObjectFilter*> filters_;
  std::vector<bool> disabled_;
  int64_t revisions_ = 0;
  int mode_ = 0;
  const TBitmap* lookup_ = nullptr;
  TRef<const TBitmap> cells_;
};

// Applies a chain's enabled filters to BGRA cells, as the chain's own Apply
// does, with each distinct colour worked on once and runs of per-channel
// filters composed into one table.
void ApplyFilterChain(const TFilterChain& chain, TBitmap& cells);

// Bakes a chain into fresh cells (exposed for tests and benchmarks).
TRef<TBitmap> BakeColorGrade(const TFilterChain& chain, int mode, const TBitmap* lookup);

// The holders of one object, one per key-frame index.
class TColorGrades {
 public:
  // The grade of the current "Color" segment of the property node; mode
  // below 2 when nothing is to be graded.
  TColorGradeDraw Current(const TLumObjectProps* props, const TBitmap* lookup);

 private:
  TColorGradeHolder& Holder(size_t index);
  std::vector<TColorGradeHolder> holders_;
  TColorGradeHolder lookupOnly_;
};

}  // namespace lum
