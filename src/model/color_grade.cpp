#include "model/color_grade.h"

#include <algorithm>
#include <array>
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

uint32_t Bgr(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

// The distinct colours of a set, as BGRA pixels the filters work on in
// place, and per member which one it is. Filters map colours one by one, so
// each distinct colour is worked on once, and colours a filter merges are
// worked on once from then on.
struct TColorSet {
  std::vector<uint8_t> px;   // 4 bytes per distinct colour
  std::vector<uint32_t> of;  // index into px / 4 per member
  size_t Count() const { return px.size() / 4; }

  // Merges equal colours; returns how many went.
  size_t Merge() {
    const size_t n = Count();
    size_t slots = 16;
    while (slots < n * 2) slots *= 2;
    std::vector<uint32_t> table(slots, ~0u), remap(n);
    std::vector<uint8_t> kept;
    kept.reserve(px.size());
    for (size_t i = 0; i < n; ++i) {
      const uint32_t c = Bgr(&px[4 * i]);
      size_t h = (c * 2654435761u) & (slots - 1);
      while (table[h] != ~0u && Bgr(&kept[4 * size_t(table[h])]) != c) h = (h + 1) & (slots - 1);
      if (table[h] == ~0u) {
        table[h] = uint32_t(kept.size() / 4);
        kept.insert(kept.end(), &px[4 * i], &px[4 * i] + 4);
      }
      remap[i] = table[h];
    }
    const size_t gone = n - kept.size() / 4;
    if (gone == 0) return 0;
    px = std::move(kept);
    for (uint32_t& o : of) o = remap[o];
    return gone;
  }
};

// The tables of a run of per-channel filters: a ramp through the run.
std::array<std::array<uint8_t, 256>, 3> RunTables(const std::vector<const TObjectFilter*>& run) {
  uint8_t ramp[256 * 4];
  for (int n = 0; n < 256; ++n) ramp[4 * n] = ramp[4 * n + 1] = ramp[4 * n + 2] = uint8_t(n);
  for (const TObjectFilter* f : run) f->Apply(ramp, 256, 1, sizeof ramp);
  std::array<std::array<uint8_t, 256>, 3> t;
  for (int n = 0; n < 256; ++n)
    for (int c = 0; c < 3; ++c) t[size_t(c)][size_t(n)] = ramp[4 * n + c];
  return t;
}

void ApplyTables(const std::array<std::array<uint8_t, 256>, 3>& t, std::vector<uint8_t>& px) {
  for (size_t i = 0; i < px.size(); i += 4)
    px[i] = t[0][px[i]], px[i + 1] = t[1][px[i + 1]], px[i + 2] = t[2][px[i + 2]];
}

}  // namespace

void ApplyFilterChain(const TFilterChain& chain, TBitmap& cells) {
  std::vector<const TObjectFilter*> enabled;
  for (const auto& f : chain.Filters())
    if (!f->Disabled()) enabled.push_back(f.Get());
  if (enabled.empty() || cells.Format() != TPixelFormat::Bgra32) return;
  TColorSet set;
  const size_t w = size_t(cells.Width());
  set.px.reserve(w * size_t(cells.Height()) * 4);
  for (int y = 0; y < cells.Height(); ++y)
    set.px.insert(set.px.end(), cells.Row(y), cells.Row(y) + 4 * w);
  set.of.resize(set.Count());
  for (size_t n = 0; n < set.of.size(); ++n) set.of[n] = uint32_t(n);
  set.Merge();
  // Merging costs about as much as a cheap filter: after merges that gain
  // little, the next ones wait longer.
  int backOff = 0, wait = 0;
  for (size_t i = 0; i < enabled.size();) {
    if (enabled[i]->Kind() == TFilterKind::PerChannel) {
      // Per-channel filters in a row compose into one table per channel.
      std::vector<const TObjectFilter*> run;
      while (i < enabled.size() && enabled[i]->Kind() == TFilterKind::PerChannel)
        run.push_back(enabled[i++]);
      ApplyTables(RunTables(run), set.px);
    } else {
      enabled[i++]->Apply(set.px.data(), int(set.Count()), 1, set.px.size());
    }
    if (wait > 0) {
      --wait;
      continue;
    }
    const size_t before = set.Count();
    if (set.Merge() * 16 < before)
      wait = backOff = std::min(2 * backOff + 1, 64);
    else
      backOff = 0;
  }
  size_t n = 0;
  for (int y = 0; y < cells.Height(); ++y) {
    uint8_t* p = cells.Row(y);
    for (size_t x = 0; x < w; ++x, p += 4) {
      std::memcpy(p, &set.px[4 * size_t(set.of[n++])], 3);
      p[3] = 255;
    }
  }
}

TRef<TBitmap> BakeColorGrade(const TFilterChain& chain, int mode, const TBitmap* lookup) {
  TRef<TBitmap> cells;
  if (mode == kGradeCurves)
    cells = CurveRamp();
  else
    cells = ConvertBitmap(IsLookup(lookup) ? *lookup : *DisplayLookupBase(TLookupBase::Identity),
                          TPixelFormat::Bgra32);
  ApplyFilterChain(chain, *cells);
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
