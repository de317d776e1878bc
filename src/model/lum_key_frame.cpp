#include "model/lum_key_frame.h"

#include <cmath>
#include <limits>

#include "foundation/case_fold.h"
#include "document/ini_file.h"
#include "document/ini_values.h"
#include "foundation/log.h"

namespace lum {

namespace {

constexpr const char* kOriginNames[4] = {"SlideBegin", "PrevEffectEnd", "NextEffectBegin",
                                         "SlideEnd"};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && uint8_t(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && uint8_t(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

// Where a modifier acts: group g's time fraction (0-7) or field i's value
// (8 + i); -1 when its target names neither.
int ModPlace(std::string_view dst) {
  dst = Trim(dst);
  size_t dot = dst.rfind('.');
  std::string_view groupName = dot == std::string_view::npos ? dst : dst.substr(0, dot);
  int group = TAnimatedFieldDesk::GroupByName(groupName);
  if (group < 0) return -1;
  if (dot != std::string_view::npos && dst.size() == dot + 2 &&
      (dst[dot + 1] == 't' || dst[dot + 1] == 'T'))
    return group;
  const TAnimatedFieldDesk& desk = TAnimatedFieldDesk::Instance();
  int field = desk.FieldByName(dst);
  if (field < 0 || desk.Row(field).group != group) return -1;
  return kAnimatedGroupCount + field;
}

bool IsClass(const TIniObject* object, std::string_view name) {
  return FoldedEquals(object->ClassName(), name);
}

}  // namespace

TKeyFrameOrigin KeyFrameOriginFromName(std::string_view name) {
  name = Trim(name);
  for (int i = 0; i < 4; ++i)
    if (FoldedEquals(name, kOriginNames[i])) return TKeyFrameOrigin(i);
  return TKeyFrameOrigin::SlideBegin;
}

const char* KeyFrameOriginName(TKeyFrameOrigin origin) {
  return kOriginNames[int(origin) & 3];
}

double AnchorTime(const TLumSlideTiming& timing, TKeyFrameOrigin origin) {
  switch (origin) {
    case TKeyFrameOrigin::PrevEffectEnd:
      return timing.inDuration;
    case TKeyFrameOrigin::NextEffectBegin:
      return double(timing.duration) - timing.outDuration;
    case TKeyFrameOrigin::SlideEnd:
      return timing.duration;
    default:
      return 0;
  }
}

int KeyFrameTimeValue(std::string_view text) {
  size_t dot = text.find('.');
  if (dot != std::string_view::npos) text = text.substr(0, dot);
  return ValueToInt(Trim(text), 0);
}

void TLumKeyFrame::Load(const TIniList* section, uint8_t groupMask, const TLumSlideTiming& timing) {
  section_ = section;
  groupMask_ = groupMask == 0 ? 0 : uint8_t(ReadInteger(section, "grps", 255) & groupMask);
  origin_ = KeyFrameOriginFromName(ReadString(section, "Origin", ""));
  offset_ = KeyFrameTimeValue(ReadString(section, "Time", ""));
  time_ = AnchorTime(timing, origin_) + offset_;
  const TAnimatedFieldDesk& desk = TAnimatedFieldDesk::Instance();
  for (int k = 0; k < 2; ++k) {
    pairs_[k].clear();
    for (const std::string& part : SplitValue(ReadString(section, desk.PairKeys()[k], ""), ','))
      pairs_[k].push_back(ValueToFloat(Trim(part), std::numeric_limits<double>::quiet_NaN()));
  }
  ReadValues();
  LoadMods();
  LoadFilters();
}

void TLumKeyFrame::ReadValues() {
  const TAnimatedFieldDesk& desk = TAnimatedFieldDesk::Instance();
  for (const TAnimatedFieldRow& row : desk.Rows()) {
    double v = row.defaultValue;
    if (SetsGroup(row.group)) {
      if (row.component < 0) {
        v = ReadFloat(section_, row.key, row.defaultValue);
      } else {
        const std::vector<double>& list = pairs_[FoldedEquals(row.key, desk.PairKeys()[0]) ? 0 : 1];
        if (size_t(row.component) < list.size()) v = list[row.component];
      }
    }
    // Nothing out of float range or NaN gets into the animation.
    float f = float(v);
    values_[row.index] = std::isfinite(f) ? f : float(row.defaultValue);
  }
}

void TLumKeyFrame::LoadMods() {
  std::vector<std::unique_ptr<TLumObjectMod>> old = std::move(mods_);
  std::vector<int> oldPlaces;
  for (const auto& mod : old) {
    int place = mod->DstIsTime()
                    ? mod->DstGroup()
                    : (mod->DstField() >= 0 ? kAnimatedGroupCount + mod->DstField() : -1);
    oldPlaces.push_back(place);
  }
  mods_.clear();
  for (auto& chain : timeChains_) chain.clear();
  for (auto& chain : valueChains_) chain.clear();
  if (!section_) return;
  for (const TIniObject* child : section_->Objects()) {
    if (!IsClass(child, "Mod")) continue;
    int place = ModPlace(ReadString(child, "dst", ""));
    if (place < 0) continue;  // names no group or field
    std::string id = ReadString(child, "id", "");
    std::unique_ptr<TLumObjectMod> mod;
    if (!id.empty()) {
      for (size_t i = 0; i < old.size(); ++i) {
        if (old[i] && oldPlaces[i] == place && old[i]->Id() == id) {
          mod = std::move(old[i]);
          break;
        }
      }
    }
    if (!mod) mod = std::make_unique<TLumObjectMod>();
    // Same "id" and "$rev": the compiled program is kept.
    mod->Load(child);
    if (place < kAnimatedGroupCount)
      timeChains_[place].push_back(mod.get());
    else
      valueChains_[place - kAnimatedGroupCount].push_back(mod.get());
    mods_.push_back(std::move(mod));
  }
}

void TLumKeyFrame::LoadFilters() {
  std::vector<TKeyFrameFilter> old = std::move(filters_);
  filters_.clear();
  chain_ = {};
  chainError_.clear();
  if (!section_) return;
  for (const TIniObject* child : section_->Objects()) {
    if (!IsClass(child, "Filter")) continue;
    TKeyFrameFilter filter;
    filter.id = ReadString(child, "id", "");
    filter.hasRevision = FindItem(child, "$rev") != nullptr;
    filter.revision = ReadInt64(child, "$rev", 0);
    for (TKeyFrameFilter& was : old) {
      if (was.section && !filter.id.empty() && was.id == filter.id &&
          was.hasRevision == filter.hasRevision && was.revision == filter.revision) {
        filter = std::move(was);
        was.section = nullptr;
        break;
      }
    }
    filter.section = child;
    if (!filter.filter) filter.filter = CreateFilter(child->Name());
    // Same "id" and "$rev": the parameters already read are kept.
    if (filter.filter) filter.filter->Load(child);
    filters_.push_back(std::move(filter));
  }
  BuildChain();
}

void TLumKeyFrame::BuildChain() {
  chain_ = {};
  for (const TKeyFrameFilter& f : filters_)
    if (f.filter) chain_.Add(f.filter);
  chainError_ = chain_.Check();
  if (chainError_.empty()) return;
  Log().Line(chainError_);
  chain_ = {};
}

}  // namespace lum
