#include "model/lum_object_mod.h"

#include <cstdio>
#include <random>

#include "foundation/case_fold.h"
#include "model/animated_field_desk.h"
#include "model/expression_parser.h"
#include "document/ini_values.h"

namespace lum {

IModifierContext& TParamGetter::Context() const {
  IModifierContext* context = owner_->Context();
  if (!context) throw ECalcError("Modifier evaluated without an animation");
  return *context;
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && uint8_t(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && uint8_t(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

size_t CharacterCount(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += (uint8_t(c) & 0xC0) != 0x80;
  return n;
}

// "Group.t" (or "t" alone, group -1): the group of a time-fraction name.
bool SplitTimeName(std::string_view name, int& group) {
  if (name.size() == 1 && (name[0] == 't' || name[0] == 'T')) {
    group = -1;
    return true;
  }
  if (name.size() < 3 || name[name.size() - 2] != '.') return false;
  char last = name.back();
  if (last != 't' && last != 'T') return false;
  group = TAnimatedFieldDesk::GroupByName(name.substr(0, name.size() - 2));
  return group >= 0;
}

}  // namespace

TModParamInfo ParseModParamInfo(std::string_view text) {
  TModParamInfo info;
  std::string range;
  while (!text.empty()) {
    size_t semi = text.find(';');
    std::string_view field = text.substr(0, semi);
    text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
    size_t colon = field.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = Trim(field.substr(0, colon)), value = field.substr(colon + 1);
    if (FoldedEquals(key, "name")) {
      info.name = value;
    } else if (FoldedEquals(key, "id")) {
      info.id = Trim(value);
    } else if (FoldedEquals(key, "type")) {
      int type = ValueToChoice(Trim(value), {"String", "Int", "Float", "Color", "Combo"}, false, 0);
      info.type = TModParamType(type);
    } else if (FoldedEquals(key, "range")) {
      range = value;
    }
  }
  if (info.type == TModParamType::Int || info.type == TModParamType::Float) {
    std::vector<std::string> parts = SplitValue(range, ',');
    double* slots[3] = {&info.min, &info.max, &info.def};
    for (size_t i = 0; i < parts.size() && i < 3; ++i)
      *slots[i] = ValueToFloat(Trim(parts[i]), *slots[i]);
  }
  return info;
}

std::string NewGuidText() {
  static thread_local std::mt19937_64 engine{std::random_device{}() ^
                                             (uint64_t(std::random_device{}()) << 32)};
  uint64_t a = engine(), b = engine();
  // Version 4, variant 1.
  a = (a & ~uint64_t(0xF000)) | 0x4000;
  b = (b & ~(uint64_t(0xC) << 60)) | (uint64_t(0x8) << 60);
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(a >> 32),
                unsigned((a >> 16) & 0xFFFF), unsigned(a & 0xFFFF), unsigned(b >> 48),
                (unsigned long long)(b & 0xFFFFFFFFFFFFull));
  return buf;
}

bool TLumObjectMod::Load(const TIniList* section) {
  std::string id = ReadString(section, "id", "");
  bool hasRevision = FindItem(section, "$rev") != nullptr;
  int64_t revision = ReadInt64(section, "$rev", 0);
  disabled_ = ReadBool(section, "Disable", false);
  preset_ = ReadString(section, "Preset", "");
  if (loaded_ && !id.empty() && id == id_ && hasRevision && hasRevision_ && revision == revision_)
    return false;

  loaded_ = true;
  id_ = id.empty() ? NewGuidText() : id;
  revision_ = revision;
  hasRevision_ = hasRevision;
  fn_ = ReadString(section, "fn", "");
  dst_ = std::string(Trim(ReadString(section, "dst", "")));
  params_.clear();
  int count = std::min(ReadInteger(section, "pcount", 0), kMaxParams);
  for (int i = 0; i < count; ++i)
    params_.push_back(ParseModParamInfo(ReadString(section, "pinfo" + std::to_string(i), "")));
  ParseDst();
  section_ = section;
  Compile();
  section_ = nullptr;
  return true;
}

void TLumObjectMod::ParseDst() {
  const TAnimatedFieldDesk& desk = TAnimatedFieldDesk::Instance();
  dstIsTime_ = false;
  dstGroup_ = dstField_ = -1;
  int group;
  if (SplitTimeName(dst_, group)) {
    dstIsTime_ = group >= 0;
    dstGroup_ = group;
    return;
  }
  dstField_ = desk.FieldByName(dst_);
  if (dstField_ >= 0) dstGroup_ = desk.Row(dstField_).group;
}

void TLumObjectMod::Compile() {
  program_.Clear();
  compiled_ = false;
  errorCode_ = 0;
  errorMessage_.clear();
  if (fn_.empty() || dst_.empty()) {
    errorMessage_ = "Nothing to compile";
    return;
  }
  if (CharacterCount(fn_) > kMaxFnLength) {
    errorMessage_ = "Expression longer than 256 characters";
    return;
  }
  TExpressionParser parser;
  compiled_ = parser.Compile(fn_, program_, ResolveCallback, this);
  errorCode_ = parser.ErrorCode();
  if (!compiled_) errorMessage_ = parser.ErrorMessage();
}

TRef<TCalcFunc> TLumObjectMod::ResolveCallback(void* self, std::string_view text, size_t start,
                                               size_t length, bool timeVariable) {
  return static_cast<TLumObjectMod*>(self)->Resolve(text.substr(start, length), timeVariable, true);
}

TRef<TCalcFunc> TLumObjectMod::Resolve(std::string_view name, bool timeVariable, bool allowValue) {
  if (!timeVariable) {
    if (TRef<TCalcFunc> builtIn = CalcLookup(name)) return builtIn;
  }
  int group;
  if (SplitTimeName(name, group)) {
    if (group < 0) group = dstGroup_;
    if (group >= 0) return MakeRef<TTimeGetter>(std::string(name), this, group);
  }
  if (timeVariable) return {};
  // "value" is the target itself, by the same rules (but not "value" again).
  if (allowValue && FoldedEquals(name, "value")) return Resolve(dst_, dstIsTime_, false);
  if (const TIniItem* item = FindItem(section_, name); item && item->IsPlainItem())
    return MakeRef<TMathConst>(std::string(name), ValueToFloat(item->Value(), 0));
  int field = TAnimatedFieldDesk::Instance().FieldByName(name);
  if (field >= 0) return MakeRef<TFieldGetter>(std::string(name), this, field);
  return {};
}

double TLumObjectMod::Evaluate(IModifierContext& context) {
  if (!compiled_) return 0;
  context_ = &context;
  bool ok = Run(program_, stack_);
  context_ = nullptr;
  return ok && stack_.Count() == 1 ? stack_.Top() : 0;
}

}  // namespace lum
