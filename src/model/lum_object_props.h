#pragma once
// The property tree of a slide: one node per object section, holding the
// object's key frames and child nodes and computing its 15 animated values
// for any slide time.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "document/ini_file.h"
#include "foundation/ref_object.h"
#include "model/animated_field_desk.h"
#include "model/lum_key_frame.h"
#include "model/lum_object_kind.h"
#include "model/lum_object_mod.h"

namespace lum {

class TIniList;
class TLumObject;  // the object tree's side of a node
class TLumObjectProps;

using TLumObjectPropsList = std::vector<TRef<TLumObjectProps>>;

// Which key frames bound the current segment of one group.
struct TSegmentTracker {
  int first = 0;  // first key frame that sets the group
  int last = -1;  // last one; -1: no key frame sets it
  int from = 0;   // current segment
  int to = 0;
  double inverse = 0;  // 1 / segment length, 0 for an empty segment
  double fraction = 0;
};

// How a slide's key frames were authored against its real timing.
struct TLumTimeScale {
  bool apply = false;  // load against `authored`, then ScaleTimes(real, k)
  double k = 1;
  TLumSlideTiming authored;  // the record the key frames were written for
};

// From a slide section's "ScaleMode" and "ScaleTimes" (a, b, c): mode 1 gives
// k = D / (a + c), mode 2 gives k = (D - Tout) / a, authored against
// {a + c, b, c}; a zero denominator or any other mode means no scaling.
TLumTimeScale SlideTimeScale(const TIniList* slideSection, const TLumSlideTiming& real);

// Runs the start-up self-checks of the model tables (field table, kind
// table); raises EAssertion with the table's message when one is broken.
void LumModelSelfCheck();

class TLumObjectProps : public TRefObject, private IModifierContext {
 public:
  // Levels of nodes a tree may have (the loaded node is the first), as deep
  // as a document may nest objects. Deeper trees are refused with
  // ELumError(kObjectsTooDeepMessage) rather than recursed into.
  static constexpr int kMaxDepth = kMaxObjectNesting;

  TLumObjectProps();
  ~TLumObjectProps() override;

  // (Re)builds the node, its key frames and child nodes from an object
  // section (or a slide's "Root"). Child nodes are matched by "GUID" and key
  // frames by position, so a reload keeps nodes, bound objects and compiled
  // modifiers. Leaves the node evaluated at time 0 (children are not
  // evaluated). Raises EAssertion "LumObject GUID not Assigned" when a child
  // object section has no "GUID", ELumError when nesting is too deep; the
  // node is then left without key frames or children.
  void Load(const TIniList* section, const TLumSlideTiming& timing);

  // A slide root: Load against the authored timing and scale to the real one
  // when the slide section asks for it.
  void LoadSlideRoot(const TIniList* rootSection, const TIniList* slideSection,
                     const TLumSlideTiming& real);

  // Sets the current values for slide-local time t (ms); children too when
  // recursive. Trackers move only as far as time moved.
  void Evaluate(double t, bool recursive);

  // Stores the new timing and multiplies DeltaTime1/2 and every key-frame
  // time by k, rounded to whole ms (k < 0.0001 counts as 1); recursive.
  void ScaleTimes(const TLumSlideTiming& timing, double k);

  // Writes field i of key frame k (stored units; a non-finite value is
  // ignored) and has the next evaluation take it up.
  void SetKeyFrameValue(int k, int field, float value);

  // Frame aspect from "EnableAspect" and "Aspect" for a picture of w x h.
  void SetAspect(double w, double h);
  float AspectX() const { return fx_; }
  float AspectY() const { return fy_; }

  // Current value of field i (stored units: percent, degrees, ...).
  float Value(int field) const { return values_[field]; }
  const std::array<float, kAnimatedFieldCount>& Values() const { return values_; }
  // Current segment fraction of group g.
  double GroupFraction(int group) const { return trackers_[group].fraction; }
  const TSegmentTracker& Tracker(int group) const { return trackers_[group]; }
  // -1 before the first evaluation.
  double CurrentTime() const { return currentTime_; }

  // Forgets where the trackers are, so the next evaluation searches from the
  // first key frame (as after a load); children too when recursive.
  void ResetTrackers(bool recursive);

  // Playback applies modifiers; an editor may switch them off. Recursive.
  void SetModifiersEnabled(bool enabled);
  bool ModifiersEnabled() const { return modsEnabled_; }

  // Identity and keys.
  int Kind() const { return kind_; }
  std::string_view Name() const { return name_; }
  std::string_view ClassName() const { return className_; }
  const std::string& Guid() const { return guid_; }
  const TIniList* Section() const { return section_; }
  const TLumSlideTiming& Timing() const { return timing_; }
  double DeltaTime1() const { return deltaTime1_; }
  double DeltaTime2() const { return deltaTime2_; }
  int TreeNode() const { return treeNode_; }
  uint8_t GroupMask() const { return GroupMaskForKind(kind_); }

  // Tree.
  TLumObjectProps* Parent() const { return parent_; }
  const TLumObjectPropsList& Children() const { return children_; }
  // The child with that GUID, or none (hash index built on first use).
  TLumObjectProps* FindChild(std::string_view guid) const;

  // Key frames, sorted by time (ties in document order).
  const TLumKeyFrameArray& KeyFrames() const { return keyFrames_; }
  int KeyFrameCount() const { return int(keyFrames_.size()); }
  // Changes whenever the key-frame set or its times change.
  uint64_t Revision() const { return revision_; }

  // The object bound to the node. keep, when given, is the object's own
  // reference-counted base: the node then holds it alive and drops it when
  // the node is freed or another object is bound. The object must not hold a
  // strong reference to its node in that case.
  TLumObject* Object() const { return object_; }
  void BindObject(TLumObject* object, TRef<TRefObject> keep = {});
  // Clears the binding when it is that object. An object's destructor calls
  // this: a reference already dropped to 0 is not released again; otherwise
  // the node's hold is released.
  void UnbindObject(const TLumObject* object);

  // Ranges of groups and fields that have modifiers in some key frame
  // (first > last when none).
  int ModGroupFirst() const { return modGroupFirst_; }
  int ModGroupLast() const { return modGroupLast_; }
  int ModFieldFirst() const { return modFieldFirst_; }
  int ModFieldLast() const { return modFieldLast_; }

 private:
  // IModifierContext: what modifiers read while they run.
  double GroupTime(int group) override;
  double FieldValue(int field) override;

  void LoadNode(const TIniList* section, const TLumSlideTiming& timing, int depth);
  void LoadTree(const TIniList* section, const TLumSlideTiming& timing, int depth);
  void LoadOwn(const TIniList* section, const TLumSlideTiming& timing);
  void SortKeyFrames();
  void SyncSlots();
  void RebuildTrackers();
  void ComputeModRanges();
  void SetInitialValues();
  void SearchSegment(int group, double t);
  void EvaluateMany(double t);
  void EvaluateSingle(double t);
  void ApplyTimeMods(int group, const TLumKeyFrame& frame);
  void ApplyValueMods(int field, const TLumKeyFrame& frame);
  double Interpolate(int field) const;
  void ScaleOwn(const TLumSlideTiming& timing, double k);

  TLumObject* object_ = nullptr;
  TRefObject* objectKeep_ = nullptr;  // one reference held, or none
  TLumObjectProps* parent_ = nullptr;
  int kind_ = kKindNone;
  std::string name_, className_, guid_;
  const TIniList* section_ = nullptr;
  TLumSlideTiming timing_;
  double deltaTime1_ = 0, deltaTime2_ = 0;
  int treeNode_ = 1;

  TLumObjectPropsList children_;
  mutable std::unordered_map<std::string, TLumObjectProps*> childIndex_;
  mutable bool childIndexBuilt_ = false;

  TLumKeyFrameArray keyFrames_;
  // Times, masks and values of the key frames side by side, so that playing
  // walks one compact array.
  struct TFrameSlot {
    double time;
    uint32_t mask;
    std::array<float, kAnimatedFieldCount> values;
  };
  std::vector<TFrameSlot> slots_;
  uint64_t revision_ = 0;
  uint64_t evaluatedRevision_ = ~uint64_t(0);

  std::array<TSegmentTracker, kAnimatedGroupCount> trackers_;
  std::array<float, kAnimatedFieldCount> values_{};
  double currentTime_ = -1;
  float fx_ = 0.01f, fy_ = 0.01f;
  bool modsEnabled_ = true;
  int modGroupFirst_ = 0, modGroupLast_ = -1;
  int modFieldFirst_ = 0, modFieldLast_ = -1;
};

}  // namespace lum
