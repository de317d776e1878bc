#include "model/color_grade.h"

#include <algorithm>
#include <cstring>

#include "imaging/color_lookup.h"
#include "model/lum_object_props.h"

namespace lum {

namespace {

const TFilterChain& EmptyChain() {
  static const TFilterChain empty;
  return empty;
}

TRef<TBitmap> CurveRamp() {
  auto cells = MakeRef<TBitmap>(256, 1, TPixelFormat::Bgra32);
  uint8_t* p = cells->Row(0);
  for (int n = 0; n < 256; ++n) p[4 * n] = p[4 * n + 1] = p[4 * n + 2] = uint8_t(n), p[4 * n + 3] = 255;
  return cells;
}

bool IsLookup(const TBitmap* b) {
  return b && b->Width() == kLookupSize && b->Height() == kLookupRows;
}

}  // namespace

TRef<TBitmap> BakeColorGrade(const TFilterChain& chain, int mode, const TBitmap* lookup) {
  TRef<TBitmap> cells;
  if (mode == kGradeCurves)
    cells = CurveRamp();
  else
    cells = ConvertBitmap(IsLookup(lookup) ? *lookup : *DisplayLookupBase(TLookupBase::Identity),
                          TPixelFormat::Bgra32);
  chain.Apply(cells->Row(0), cells->Width(), cells->Height(), cells->Pitch());
  return cells;
}

bool TColorGradeHolder::Changed(const TFilterChain& chain, int mode, const TBitmap* lookup) const {
  if (!cells_ || mode != mode_ || lookup != lookup_ || chain.RevisionSum() != revisions_ ||
      chain.Filters().size() != filters_.size())
    return true;
  for (size_t i = 0; i < filters_.size(); ++i) {
    const TObjectFilter* f = chain.Filters()[i].Get();
    if (f != filters_[i] || f->Disabled() != disabled_[i]) return true;
  }
  return false;
}

TRef<const TBitmap> TColorGradeHolder::Cells(const TFilterChain& chain, int mode,
                                             const TBitmap* lookup) {
  if (!Changed(chain, mode, lookup)) return cells_;
  filters_.clear();
  disabled_.clear();
  for (const auto& f : chain.Filters()) {
    filters_.push_back(f.Get());
    disabled_.push_back(f->Disabled());
  }
  revisions_ = chain.RevisionSum();
  mode_ = mode;
  lookup_ = lookup;
  cells_ = BakeColorGrade(chain, mode, lookup);
  return cells_;
}

TColorGradeHolder& TColorGrades::Holder(size_t index) {
  if (index >= holders_.size()) holders_.resize(index + 1);
  return holders_[index];
}

TColorGradeDraw TColorGrades::Current(const TLumObjectProps* props, const TBitmap* lookup) {
  TColorGradeDraw draw;
  if (!IsLookup(lookup)) lookup = nullptr;
  const TSegmentTracker* tracker = props ? &props->Tracker(kGroupColor) : nullptr;
  static const TLumKeyFrameArray none;
  const TLumKeyFrameArray& frames = props ? props->KeyFrames() : none;
  const bool tracked = tracker && tracker->last >= 0 && tracker->from >= 0 && tracker->to >= 0 &&
                       size_t(std::max(tracker->from, tracker->to)) < frames.size();
  const TFilterChain& a = tracked ? frames[tracker->from]->FilterChain() : EmptyChain();
  const TFilterChain& b = tracked ? frames[tracker->to]->FilterChain() : EmptyChain();
  draw.mode = lookup ? kGradeVolumes : int(std::max(a.Kind(), b.Kind()));
  if (draw.mode < kGradeCurves) return {};
  if (!tracked) {
    draw.from = draw.to = lookupOnly_.Cells(a, draw.mode, lookup);
    return draw;
  }
  draw.from = Holder(size_t(tracker->from)).Cells(a, draw.mode, lookup);
  draw.to = Holder(size_t(tracker->to)).Cells(b, draw.mode, lookup);
  draw.t = tracker->from < tracker->to ? std::clamp(tracker->fraction, 0.0, 1.0) : 0.0;
  return draw;
}

}  // namespace lum
