#pragma once
// The table of animated object fields: which group each belongs to, which key
// of a key frame holds it, its default and the scale from stored units.
#include <span>
#include <string_view>

namespace lum {

enum TAnimatedGroup : int {
  kGroupOpacity = 0,
  kGroupPos = 1,
  kGroupScale = 2,
  kGroupAngle = 3,
  kGroupCenter = 4,
  kGroupBlur = 5,
  kGroupColor = 6,  // colour filters; no field of its own
  kGroupFrame = 7,
};
inline constexpr int kAnimatedGroupCount = 8;
inline constexpr int kAnimatedFieldCount = 15;

struct TAnimatedFieldRow {
  int index;
  const char* name;  // "Pos.X"
  int group;
  const char* key;      // key in a key frame
  int component;        // -1, or 0/1 in a pair key "x,y"
  double defaultValue;  // in stored units
  double unitScale;     // stored units to working units
};

class TAnimatedFieldDesk {
 public:
  // The table, checked on first use.
  static const TAnimatedFieldDesk& Instance();

  int Count() const { return int(rows_.size()); }
  const TAnimatedFieldRow& Row(int index) const { return rows_[index]; }
  std::span<const TAnimatedFieldRow> Rows() const { return rows_; }

  // Case-insensitive; -1 when unknown.
  int FieldByName(std::string_view name) const;
  static int GroupByName(std::string_view name);
  static const char* GroupName(int group);
  // The keys that hold two numbers "x,y" ("Position", "CenterPos").
  std::span<const char* const> PairKeys() const { return pairKeys_; }

  // Raises EAssertion unless every row's index is its position, no unit scale
  // is 0, every group is 0-7 and exactly two pair keys exist.
  static void Check(std::span<const TAnimatedFieldRow> rows);

 private:
  explicit TAnimatedFieldDesk(std::span<const TAnimatedFieldRow> rows);
  std::span<const TAnimatedFieldRow> rows_;
  const char* pairKeys_[2] = {};
};

}  // namespace lum
