#include "model/animated_field_desk.h"

#include <cstring>
#include <string>

#include "foundation/case_fold.h"
#include "foundation/errors.h"

namespace lum {

namespace {

constexpr TAnimatedFieldRow kRows[kAnimatedFieldCount] = {
    {0, "Opacity", kGroupOpacity, "Opacity", -1, 100, 0.01},
    {1, "Pos.X", kGroupPos, "Position", 0, 0, 0.01},
    {2, "Pos.Y", kGroupPos, "Position", 1, 0, 0.01},
    {3, "Pos.Z", kGroupPos, "ZPos", -1, 0, 0.01},
    {4, "Scale.X", kGroupScale, "ScaleX", -1, 100, 0.01},
    {5, "Scale.Y", kGroupScale, "ScaleY", -1, 100, 0.01},
    {6, "Angle", kGroupAngle, "Angle", -1, 0, 1.0 / 360},
    {7, "Angle.X", kGroupAngle, "AngleX", -1, 0, 1.0 / 360},
    {8, "Angle.Y", kGroupAngle, "AngleY", -1, 0, 1.0 / 360},
    {9, "Center.X", kGroupCenter, "CenterPos", 0, 0, 0.01},
    {10, "Center.Y", kGroupCenter, "CenterPos", 1, 0, 0.01},
    {11, "Blur", kGroupBlur, "Blur", -1, 0, 0.01},
    {12, "Frame.S", kGroupFrame, "Zoom", -1, 100, 0.01},
    {13, "Frame.X", kGroupFrame, "OffsX", -1, 0, 0.01},
    {14, "Frame.Y", kGroupFrame, "OffsY", -1, 0, 0.01},
};

constexpr const char* kGroupNames[kAnimatedGroupCount] = {"Opacity", "Pos",  "Scale", "Angle",
                                                          "Center",  "Blur", "Color", "Frame"};

constexpr const char* kModule = "animated_field_desk";

// Distinct keys of the rows that take one component of a pair.
int CollectPairKeys(std::span<const TAnimatedFieldRow> rows, const char** out, int room) {
  int found = 0;
  for (const TAnimatedFieldRow& row : rows) {
    if (row.component < 0) continue;
    bool seen = false;
    for (const TAnimatedFieldRow& other : rows) {
      if (&other == &row) break;
      if (other.component >= 0 && std::strcmp(other.key, row.key) == 0) seen = true;
    }
    if (seen) continue;
    if (found < room) out[found] = row.key;
    ++found;
  }
  return found;
}

}  // namespace

void TAnimatedFieldDesk::Check(std::span<const TAnimatedFieldRow> rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].index != int(i)) AssertFailed(kModule, "Invalid lum keyframe param index");
    if (rows[i].unitScale == 0) AssertFailed(kModule, "Invalid keyframe Value multiplier");
    if (rows[i].group < 0 || rows[i].group >= kAnimatedGroupCount)
      AssertFailed(kModule, "Invalid Group Range");
  }
  const char* keys[2];
  if (CollectPairKeys(rows, keys, 2) != 2) AssertFailed(kModule, "Invalid pair key count");
}

TAnimatedFieldDesk::TAnimatedFieldDesk(std::span<const TAnimatedFieldRow> rows) : rows_(rows) {
  Check(rows_);
  CollectPairKeys(rows_, pairKeys_, 2);
}

const TAnimatedFieldDesk& TAnimatedFieldDesk::Instance() {
  static const TAnimatedFieldDesk desk(kRows);
  return desk;
}

int TAnimatedFieldDesk::FieldByName(std::string_view name) const {
  for (const TAnimatedFieldRow& row : rows_)
    if (FoldedEquals(row.name, name)) return row.index;
  return -1;
}

int TAnimatedFieldDesk::GroupByName(std::string_view name) {
  for (int g = 0; g < kAnimatedGroupCount; ++g)
    if (FoldedEquals(kGroupNames[g], name)) return g;
  return -1;
}

const char* TAnimatedFieldDesk::GroupName(int group) {
  return group >= 0 && group < kAnimatedGroupCount ? kGroupNames[group] : "";
}

}  // namespace lum
