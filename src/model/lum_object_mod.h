#pragma once
// A modifier of a key frame: an expression that reshapes a group's segment
// time or overrides a field's value. Names in the expression bind to the
// animation (time fractions, field values) and to the modifier's own keys.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/calc_cmd_list.h"
#include "model/calc_func.h"
#include "model/calc_machine.h"
#include "document/ini_file.h"

namespace lum {

// What a modifier reads from the animation while it is evaluated.
class IModifierContext {
 public:
  virtual ~IModifierContext() = default;
  // The segment time fraction of a group (0-7).
  virtual double GroupTime(int group) = 0;
  // The current value of an animated field (0-14).
  virtual double FieldValue(int field) = 0;
};

class TLumObjectMod;

// A variable of the animation: arity 0, never folded.
class TParamGetter : public TCalcFunc {
 public:
  TParamGetter(std::string name, const TLumObjectMod* owner)
      : TCalcFunc(std::move(name), 0, false), owner_(owner) {}

 protected:
  IModifierContext& Context() const;
  const TLumObjectMod* owner_;
};

class TTimeGetter : public TParamGetter {
 public:
  TTimeGetter(std::string name, const TLumObjectMod* owner, int group)
      : TParamGetter(std::move(name), owner), group_(group) {}
  int Group() const { return group_; }
  void Eval(TCalcStack& stack) override { stack.Push(Value0()); }
  double Value0() override { return Context().GroupTime(group_); }

 private:
  int group_;
};

class TFieldGetter : public TParamGetter {
 public:
  TFieldGetter(std::string name, const TLumObjectMod* owner, int field)
      : TParamGetter(std::move(name), owner), field_(field) {}
  int Field() const { return field_; }
  void Eval(TCalcStack& stack) override { stack.Push(Value0()); }
  double Value0() override { return Context().FieldValue(field_); }

 private:
  int field_;
};

enum class TModParamType { String, Int, Float, Color, Combo };

// A parameter description for the authoring tool: "name:..;id:..;type:..;range:min,max,def".
struct TModParamInfo {
  std::string name;
  std::string id;
  TModParamType type = TModParamType::String;
  double min = 0, max = 100, def = 0;  // Int and Float only
};
TModParamInfo ParseModParamInfo(std::string_view text);

class TLumObjectMod {
 public:
  static constexpr size_t kMaxFnLength = 256;  // characters
  static constexpr int kMaxParams = 1024;      // descriptions read at most

  TLumObjectMod() = default;
  TLumObjectMod(const TLumObjectMod&) = delete;
  TLumObjectMod& operator=(const TLumObjectMod&) = delete;

  // Reads the section and compiles the expression. A reload whose "id" and
  // "$rev" match the loaded ones keeps the compiled program; the result says
  // whether it compiled again.
  bool Load(const TIniList* section);

  // Runs the program against the animation; 0 when it is not compiled, the run
  // faults or it does not leave exactly one value.
  double Evaluate(IModifierContext& context);

  const std::string& Fn() const { return fn_; }
  const std::string& Dst() const { return dst_; }
  const std::string& Id() const { return id_; }
  const std::string& Preset() const { return preset_; }
  int64_t Revision() const { return revision_; }
  bool Disabled() const { return disabled_; }
  const std::vector<TModParamInfo>& Params() const { return params_; }

  // The target: a group's time fraction ("Pos.t") or a field ("Pos.X").
  bool DstIsTime() const { return dstIsTime_; }
  int DstGroup() const { return dstGroup_; }  // -1 when dst names no group
  int DstField() const { return dstField_; }  // -1 unless dst is a field

  bool Compiled() const { return compiled_; }
  int ErrorCode() const { return errorCode_; }
  const std::string& ErrorMessage() const { return errorMessage_; }
  const TCalcCmdList& Program() const { return program_; }

  // Set only while Evaluate runs.
  IModifierContext* Context() const { return context_; }

 private:
  static TRef<TCalcFunc> ResolveCallback(void* self, std::string_view text, size_t start,
                                         size_t length, bool timeVariable);
  TRef<TCalcFunc> Resolve(std::string_view name, bool timeVariable, bool allowValue);
  void ParseDst();
  void Compile();

  std::string fn_, dst_, id_, preset_;
  int64_t revision_ = 0;
  bool hasRevision_ = false;
  bool disabled_ = false;
  bool loaded_ = false;
  std::vector<TModParamInfo> params_;
  bool dstIsTime_ = false;
  int dstGroup_ = -1, dstField_ = -1;

  const TIniList* section_ = nullptr;  // while compiling
  bool compiled_ = false;
  int errorCode_ = 0;
  std::string errorMessage_;
  TCalcCmdList program_;
  TCalcStack stack_;
  IModifierContext* context_ = nullptr;
};

// A new identity in the registry form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string NewGuidText();

}  // namespace lum
