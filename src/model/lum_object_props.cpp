#include "model/lum_object_props.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "foundation/case_fold.h"
#include "foundation/errors.h"
#include "document/ini_file.h"
#include "document/ini_values.h"

namespace lum {

namespace {

constexpr const char* kModule = "lum_object_props";
constexpr double kMinLength = 0.0001;  // shorter segments count as empty

const TAnimatedFieldDesk& Desk() {
  return TAnimatedFieldDesk::Instance();
}

// The group and default of each field, looked up on every frame.
struct TFieldFacts {
  std::array<int, kAnimatedFieldCount> group;
  std::array<float, kAnimatedFieldCount> def;
};
const TFieldFacts kFacts = [] {
  TFieldFacts facts;
  for (const TAnimatedFieldRow& row : Desk().Rows()) {
    facts.group[row.index] = row.group;
    facts.def[row.index] = float(row.defaultValue);
  }
  return facts;
}();

// A modifier result that is not a usable number counts as a failed run.
double Sane(double v) {
  return std::isfinite(v) && std::fabs(v) < 3.0e38 ? v : 0.0;
}

}  // namespace

TLumTimeScale SlideTimeScale(const TIniList* slideSection, const TLumSlideTiming& real) {
  TLumTimeScale scale;
  int mode = ReadInteger(slideSection, "ScaleMode", 0);
  int abc[3] = {0, 0, 0};
  std::vector<std::string> parts = SplitValue(ReadString(slideSection, "ScaleTimes", ""), ',');
  for (size_t i = 0; i < parts.size() && i < 3; ++i) {
    std::string_view part = parts[i];
    while (!part.empty() && uint8_t(part.back()) <= 32) part.remove_suffix(1);
    abc[i] = ValueToInt(part, 0);
  }
  const int64_t a = abc[0], b = abc[1], c = abc[2];
  if (mode == 1 && a + c != 0) {
    scale.k = double(real.duration) / double(a + c);
  } else if (mode == 2 && a != 0) {
    scale.k = (double(real.duration) - real.outDuration) / double(a);
  } else {
    return scale;
  }
  scale.apply = true;
  scale.authored = {int(std::clamp<int64_t>(a + c, INT32_MIN, INT32_MAX)), int(b), int(c)};
  return scale;
}

void LumModelSelfCheck() {
  const TAnimatedFieldDesk& desk = TAnimatedFieldDesk::Instance();
  TAnimatedFieldDesk::Check(desk.Rows());
  CheckLumKindTable();
}

TLumObjectProps::TLumObjectProps() {
  // The tables are checked once, before the first node uses them.
  static const bool checked = (LumModelSelfCheck(), true);
  (void)checked;
  for (const TAnimatedFieldRow& row : Desk().Rows()) values_[row.index] = float(row.defaultValue);
}

TLumObjectProps::~TLumObjectProps() {
  // Children (and their objects) go before this node's own object.
  children_.clear();
  object_ = nullptr;
  if (TRefObject* keep = std::exchange(objectKeep_, nullptr)) keep->Release();
}

void TLumObjectProps::BindObject(TLumObject* object, TRef<TRefObject> keep) {
  TRefObject* old = std::exchange(objectKeep_, nullptr);
  object_ = object;
  if (keep) {
    objectKeep_ = keep.Get();
    objectKeep_->AddRef();
  }
  // The old object's destructor may call UnbindObject: it no longer matches.
  if (old) old->Release();
}

void TLumObjectProps::UnbindObject(const TLumObject* object) {
  if (!object || object_ != object) return;
  object_ = nullptr;
  TRefObject* keep = std::exchange(objectKeep_, nullptr);
  if (keep && keep->RefCount() > 0) keep->Release();
}

TLumObjectProps* TLumObjectProps::FindChild(std::string_view guid) const {
  if (!childIndexBuilt_) {
    childIndex_.clear();
    for (const TRef<TLumObjectProps>& child : children_)
      childIndex_.emplace(child->guid_, child.Get());
    childIndexBuilt_ = true;
  }
  auto it = childIndex_.find(std::string(guid));
  return it == childIndex_.end() ? nullptr : it->second;
}

// ---- loading ---------------------------------------------------------------

void TLumObjectProps::Load(const TIniList* section, const TLumSlideTiming& timing) {
  LoadNode(section, timing, 0);
}

void TLumObjectProps::LoadSlideRoot(const TIniList* rootSection, const TIniList* slideSection,
                                    const TLumSlideTiming& real) {
  TLumTimeScale scale = SlideTimeScale(slideSection, real);
  if (!scale.apply) {
    Load(rootSection, real);
    return;
  }
  Load(rootSection, scale.authored);
  ScaleTimes(real, scale.k);
  Evaluate(0, true);
}

void TLumObjectProps::LoadOwn(const TIniList* section, const TLumSlideTiming& timing) {
  section_ = section;
  timing_ = timing;
  kind_ = LumKindOfSection(section);
  if (section && section->Kind() == TIniKind::Object) {
    name_ = section->Key();
    className_ = section->Value();
  } else {
    name_.clear();
    className_.clear();
  }
  guid_ = ReadString(section, "GUID", "");
  deltaTime1_ = ReadInteger(section, "DeltaTime1", 0);
  deltaTime2_ = ReadInteger(section, "DeltaTime2", 0);
  treeNode_ = ReadInteger(section, "TreeNode", 1);
}

void TLumObjectProps::LoadNode(const TIniList* section, const TLumSlideTiming& timing, int depth) {
  try {
    LoadTree(section, timing, depth);
  } catch (...) {
    // A half-built node would mix old and new key frames: leave it empty.
    children_.clear();
    childIndexBuilt_ = false;
    keyFrames_.clear();
    slots_.clear();
    ++revision_;
    for (TSegmentTracker& tracker : trackers_) tracker = TSegmentTracker();
    ComputeModRanges();
    SetInitialValues();
    throw;
  }
}

void TLumObjectProps::LoadTree(const TIniList* section, const TLumSlideTiming& timing, int depth) {
  if (depth >= kMaxDepth) throw ELumError(kObjectsTooDeepMessage);
  LoadOwn(section, timing);
  const uint8_t mask = GroupMaskForKind(kind_);

  // Old child nodes are matched by GUID: first the one expected next, then
  // the rest (linearly while few remain, else through an index).
  TLumObjectPropsList old = std::move(children_);
  children_.clear();
  childIndexBuilt_ = false;
  childIndex_.clear();
  std::vector<bool> used(old.size(), false);
  size_t next = 0, remaining = old.size();
  std::unordered_map<std::string, std::vector<size_t>> index;
  bool indexed = false;
  auto take = [&](const std::string& guid) -> TRef<TLumObjectProps> {
    size_t found = old.size();
    if (next < old.size() && !used[next] && old[next]->guid_ == guid) {
      found = next;
    } else if (remaining <= 3) {
      for (size_t i = 0; i < old.size(); ++i)
        if (!used[i] && old[i]->guid_ == guid) {
          found = i;
          break;
        }
    } else {
      if (!indexed) {
        for (size_t i = 0; i < old.size(); ++i) index[old[i]->guid_].push_back(i);
        indexed = true;
      }
      auto it = index.find(guid);
      if (it != index.end())
        for (size_t i : it->second)
          if (!used[i]) {
            found = i;
            break;
          }
    }
    if (found == old.size()) return MakeRef<TLumObjectProps>();
    used[found] = true;
    --remaining;
    next = found + 1;
    return old[found];
  };

  size_t frames = 0;
  bool unordered = false;
  if (section) {
    for (const TIniObject* child : section->Objects()) {
      if (FoldedEquals(child->ClassName(), "KeyPoint")) {
        if (frames == keyFrames_.size())
          keyFrames_.push_back(std::make_unique<TLumKeyFrame>(this, int(frames)));
        TLumKeyFrame& frame = *keyFrames_[frames];
        frame.index_ = int(frames);
        frame.Load(child, mask, timing);
        if (frames > 0 && frame.time_ < keyFrames_[frames - 1]->time_) unordered = true;
        ++frames;
        continue;
      }
      std::string guid = ReadString(child, "GUID", "");
      if (guid.empty()) AssertFailed(kModule, "LumObject GUID not Assigned");
      TRef<TLumObjectProps> node = take(guid);
      node->parent_ = this;
      node->LoadNode(child, timing, depth + 1);
      children_.push_back(std::move(node));
    }
  }
  keyFrames_.resize(frames);
  for (size_t i = 0; i < old.size(); ++i)
    if (!used[i]) old[i]->parent_ = nullptr;
  old.clear();

  if (unordered) SortKeyFrames();
  SyncSlots();
  ++revision_;
  for (TSegmentTracker& tracker : trackers_) tracker = TSegmentTracker();
  ComputeModRanges();
  SetInitialValues();
  currentTime_ = -1;
  Evaluate(0, false);
}

void TLumObjectProps::SortKeyFrames() {
  // Ties keep their previous order.
  std::stable_sort(keyFrames_.begin(), keyFrames_.end(),
                   [](const std::unique_ptr<TLumKeyFrame>& a,
                      const std::unique_ptr<TLumKeyFrame>& b) { return a->time_ < b->time_; });
  for (size_t i = 0; i < keyFrames_.size(); ++i) keyFrames_[i]->index_ = int(i);
}

void TLumObjectProps::SyncSlots() {
  slots_.resize(keyFrames_.size());
  for (size_t i = 0; i < keyFrames_.size(); ++i) {
    const TLumKeyFrame& frame = *keyFrames_[i];
    slots_[i] = {frame.time_, frame.groupMask_, frame.values_};
  }
}

void TLumObjectProps::ComputeModRanges() {
  modGroupFirst_ = modFieldFirst_ = 0;
  modGroupLast_ = modFieldLast_ = -1;
  int gLo = kAnimatedGroupCount, gHi = -1, fLo = kAnimatedFieldCount, fHi = -1;
  for (const auto& frame : keyFrames_) {
    if (!frame->HasMods()) continue;
    for (int g = 0; g < kAnimatedGroupCount; ++g)
      if (!frame->timeChains_[g].empty()) gLo = std::min(gLo, g), gHi = std::max(gHi, g);
    for (int i = 0; i < kAnimatedFieldCount; ++i)
      if (!frame->valueChains_[i].empty()) fLo = std::min(fLo, i), fHi = std::max(fHi, i);
  }
  if (gHi >= 0) modGroupFirst_ = gLo, modGroupLast_ = gHi;
  if (fHi >= 0) modFieldFirst_ = fLo, modFieldLast_ = fHi;
}

void TLumObjectProps::SetInitialValues() {
  for (const TAnimatedFieldRow& row : Desk().Rows())
    values_[row.index] =
        keyFrames_.empty() ? float(row.defaultValue) : keyFrames_[0]->Value(row.index);
}

void TLumObjectProps::RebuildTrackers() {
  for (int g = 0; g < kAnimatedGroupCount; ++g) {
    TSegmentTracker tracker;
    for (int i = 0; i < int(slots_.size()); ++i) {
      if (!((slots_[i].mask >> g) & 1)) continue;
      if (tracker.last < 0) tracker.first = i;
      tracker.last = i;
    }
    tracker.from = tracker.to = tracker.first;
    trackers_[g] = tracker;
  }
}

void TLumObjectProps::ResetTrackers(bool recursive) {
  for (TSegmentTracker& tracker : trackers_) tracker = TSegmentTracker();
  evaluatedRevision_ = ~uint64_t(0);
  if (recursive)
    for (const TRef<TLumObjectProps>& child : children_) child->ResetTrackers(true);
}

void TLumObjectProps::SetModifiersEnabled(bool enabled) {
  // Values a modifier changed are taken afresh at the next evaluation.
  if (modsEnabled_ != enabled) evaluatedRevision_ = ~uint64_t(0);
  modsEnabled_ = enabled;
  for (const TRef<TLumObjectProps>& child : children_) child->SetModifiersEnabled(enabled);
}

// ---- evaluation ------------------------------------------------------------

double TLumObjectProps::GroupTime(int group) {
  return group >= 0 && group < kAnimatedGroupCount ? trackers_[group].fraction : 0;
}

double TLumObjectProps::FieldValue(int field) {
  return field >= 0 && field < kAnimatedFieldCount ? values_[field] : 0;
}

void TLumObjectProps::Evaluate(double t, bool recursive) {
  currentTime_ = t;
  if (keyFrames_.size() >= 2)
    EvaluateMany(t);
  else if (keyFrames_.size() == 1)
    EvaluateSingle(t);
  evaluatedRevision_ = revision_;
  if (recursive)
    for (const TRef<TLumObjectProps>& child : children_) child->Evaluate(t, true);
}

void TLumObjectProps::SearchSegment(int group, double t) {
  TSegmentTracker& tr = trackers_[group];
  if (tr.last < 0) return;
  const TFrameSlot* slots = slots_.data();
  auto time = [slots](int i) { return slots[i].time; };
  const double duration = timing_.duration;
  if (tr.first == tr.last) {
    tr.from = tr.to = tr.first;
    const double start = time(tr.first);
    if (t < start) {
      tr.inverse = tr.fraction = 0;
      return;
    }
    tr.inverse = duration - start > kMinLength ? 1 / (duration - start) : 0;
    tr.fraction = (t - start) * tr.inverse;
    return;
  }
  auto prev = [&](int i) {
    do --i;
    while (i > tr.first && !((slots[i].mask >> group) & 1));
    return i;
  };
  auto next = [&](int i) {
    do ++i;
    while (i < tr.last && !((slots[i].mask >> group) & 1));
    return i;
  };
  if (t < time(tr.from)) {
    while (tr.from > tr.first && time(tr.from) > t) {
      tr.to = tr.from;
      tr.from = prev(tr.from);
    }
    if (time(tr.from) > t) tr.to = tr.from;  // still early at the first
  } else if (t >= time(tr.to)) {
    while (tr.to < tr.last && time(tr.to) <= t) {
      tr.from = tr.to;
      tr.to = next(tr.to);
    }
    if (time(tr.to) <= t) tr.from = tr.to;  // past the last
  }
  if (tr.from < tr.to) {
    const double length = time(tr.to) - time(tr.from);
    tr.inverse = length > kMinLength ? 1 / length : 0;
  } else if (tr.from == tr.last) {
    const double rest = duration - time(tr.last);
    tr.inverse = rest > kMinLength ? 1 / rest : 0;
  } else {
    tr.inverse = 0;
  }
  tr.fraction = (t - time(tr.from)) * tr.inverse;
}

void TLumObjectProps::ApplyTimeMods(int group, const TLumKeyFrame& frame) {
  TSegmentTracker& tr = trackers_[group];
  for (TLumObjectMod* mod : frame.timeChains_[group])
    if (!mod->Disabled()) tr.fraction = Sane(mod->Evaluate(*this));
}

void TLumObjectProps::ApplyValueMods(int field, const TLumKeyFrame& frame) {
  for (TLumObjectMod* mod : frame.valueChains_[field])
    if (!mod->Disabled()) values_[field] = float(Sane(mod->Evaluate(*this)));
}

double TLumObjectProps::Interpolate(int field) const {
  const TSegmentTracker& tr = trackers_[kFacts.group[field]];
  if (tr.last < 0) return kFacts.def[field];
  const TFrameSlot& from = slots_[tr.from];
  const double a = from.values[field];
  if (tr.from >= tr.to) return a;
  const TFrameSlot& to = slots_[tr.to];
  const double b = to.values[field];
  const double f = tr.fraction;
  if ((field == 13 || field == 14) && std::fabs(a - b) > kMinLength) {
    // Pan between different zooms: interpolate the absolute displacement.
    const double z1 = from.values[12], z2 = to.values[12];
    if (std::fabs(z1 - z2) > kMinLength) {
      const double c = field == 13 ? fx_ : fy_;
      const double d = double(values_[12]) * c - 1;
      if (d > 0) {
        const double p1 = (z1 * c - 1) * a, p2 = (z2 * c - 1) * b;
        return (p1 + (p2 - p1) * f) / d;
      }
    }
  }
  return a + (b - a) * f;
}

void TLumObjectProps::EvaluateMany(double t) {
  if (evaluatedRevision_ != revision_) {
    ComputeModRanges();
    RebuildTrackers();
  }
  t = std::max(0.0, std::min(t, double(timing_.duration)));
  for (int g = 0; g < kAnimatedGroupCount; ++g) SearchSegment(g, t);
  const bool mods = modsEnabled_;
  if (mods)
    for (int g = modGroupFirst_; g <= modGroupLast_; ++g)
      if (trackers_[g].last >= 0) ApplyTimeMods(g, *keyFrames_[trackers_[g].from]);
  for (int i = 0; i < kAnimatedFieldCount; ++i) {
    const double v = Interpolate(i);
    values_[i] = std::isfinite(float(v)) ? float(v) : kFacts.def[i];
  }
  if (mods)
    for (int i = modFieldFirst_; i <= modFieldLast_; ++i) {
      const TSegmentTracker& tr = trackers_[kFacts.group[i]];
      if (tr.last >= 0) ApplyValueMods(i, *keyFrames_[tr.from]);
    }
}

void TLumObjectProps::EvaluateSingle(double t) {
  const TLumKeyFrame& frame = *keyFrames_[0];
  const bool changed = evaluatedRevision_ != revision_;
  const double rest = timing_.duration - frame.time_;
  const bool animated = modsEnabled_ && frame.HasMods() && rest > kMinLength;
  if (changed) {
    ComputeModRanges();
    RebuildTrackers();
  }
  if (!changed && !animated) return;
  for (int i = 0; i < kAnimatedFieldCount; ++i) values_[i] = frame.Value(i);
  if (!animated) return;
  // Past the end of the slide the fraction stays at 1.
  t = std::min(t, double(timing_.duration));
  const bool running = t > frame.time_;
  for (int g = 0; g < kAnimatedGroupCount; ++g) {
    if (!frame.SetsGroup(g)) continue;
    trackers_[g].inverse = 1 / rest;
    trackers_[g].fraction = running ? (t - frame.time_) / rest : 0;
  }
  if (!running) return;
  for (int g = 0; g < kAnimatedGroupCount; ++g)
    if (frame.SetsGroup(g)) ApplyTimeMods(g, frame);
  for (int i = 0; i < kAnimatedFieldCount; ++i)
    if (frame.SetsGroup(kFacts.group[i])) ApplyValueMods(i, frame);
}

// ---- time scaling and aspect ---------------------------------------------

void TLumObjectProps::ScaleTimes(const TLumSlideTiming& timing, double k) {
  if (!(k >= 0.0001)) k = 1;
  ScaleOwn(timing, k);
  for (const TRef<TLumObjectProps>& child : children_) child->ScaleTimes(timing, k);
}

void TLumObjectProps::ScaleOwn(const TLumSlideTiming& timing, double k) {
  timing_ = timing;
  deltaTime1_ = std::round(deltaTime1_ * k);
  deltaTime2_ = std::round(deltaTime2_ * k);
  bool unordered = false;
  for (size_t i = 0; i < keyFrames_.size(); ++i) {
    TLumKeyFrame& frame = *keyFrames_[i];
    frame.time_ = std::round(frame.time_ * k);
    if (i > 0 && frame.time_ < keyFrames_[i - 1]->time_) unordered = true;
  }
  if (unordered) SortKeyFrames();
  SyncSlots();
  ++revision_;
  for (TSegmentTracker& tracker : trackers_) tracker = TSegmentTracker();
}

void TLumObjectProps::SetKeyFrameValue(int k, int field, float value) {
  if (k < 0 || k >= KeyFrameCount() || field < 0 || field >= kAnimatedFieldCount ||
      !std::isfinite(value))
    return;
  keyFrames_[size_t(k)]->values_[size_t(field)] = value;
  slots_[size_t(k)].values[size_t(field)] = value;
  ++revision_;
}

void TLumObjectProps::SetAspect(double w, double h) {
  fx_ = fy_ = 0.01f;
  if (!ReadBool(section_, "EnableAspect", false)) return;
  const double aspect = ReadFloat(section_, "Aspect", 0);
  if (!(aspect > 0) || !(w > 0) || !(h > 0)) return;
  if (aspect < w / h)
    fx_ = float(w / (aspect * h) * 0.01);
  else
    fy_ = float(h * aspect / w * 0.01);
}

}  // namespace lum
