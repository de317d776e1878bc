#include "model/calc_cmd_list.h"

#include <charconv>
#include <cstring>

#include "model/calc_func.h"

namespace lum {

namespace {
constexpr int32_t kInitialCapacity = 16;
constexpr int32_t kArity[10] = {0, 1, 2, 2, 2, 2, 1, 1, 1, 1};
constexpr const char* kNames[10] = {"load", "neg",  "add",  "sub",  "mul",
                                    "div",  "addc", "mulc", "csub", "cdiv"};
}  // namespace

int32_t CalcCmdArity(int32_t code) {
  if (code >= kCmdCall) return code - kCmdCall;
  return code >= 0 ? kArity[code] : 0;
}

bool CalcCmdHasOperand(int32_t code) {
  return code == kCmdLoad || (code >= kCmdAddC && code < kCmdCall);
}

const char* CalcCmdName(int32_t code) {
  if (code >= kCmdCall) return "call";
  return code >= 0 ? kNames[code] : "?";
}

TCalcCmdList::TCalcCmdList(const TCalcCmdList& other) {
  *this = other;
}

TCalcCmdList& TCalcCmdList::operator=(const TCalcCmdList& other) {
  if (this == &other) return *this;
  Clear();
  for (const TCalcCmd& c : other) {
    Append() = c;
    if (c.code >= kCmdCall) c.func->AddRef();
  }
  return *this;
}

TCalcCmdList::~TCalcCmdList() {
  Clear();
}

bool TCalcCmdList::Check() const {
  int64_t depth = 0;
  wellFormed_ = 1;
  for (const TCalcCmd& c : *this) {
    bool call = c.code >= kCmdCall;
    int32_t arity = CalcCmdArity(c.code);
    if (c.code < 0 || (call && (!c.func || c.func->Arity() != arity)) || depth < arity) {
      wellFormed_ = 0;
      break;
    }
    depth += 1 - arity;
  }
  return wellFormed_ == 1;
}

TCalcCmd& TCalcCmdList::Append() {
  wellFormed_ = -1;
  if (count_ == capacity_) {
    int32_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_ * 2;
    std::unique_ptr<TCalcCmd[]> grown(new TCalcCmd[capacity]);
    if (count_ > 0) std::memcpy(grown.get(), cmds_.get(), sizeof(TCalcCmd) * count_);
    cmds_ = std::move(grown);
    capacity_ = capacity;
  }
  return cmds_[count_++];
}

void TCalcCmdList::AddOp(int32_t code, double operand) {
  TCalcCmd& c = Append();
  c.code = code;
  c.operand = CalcCmdHasOperand(code) ? operand : 0;
}

void TCalcCmdList::AddCall(const TRef<TCalcFunc>& func) {
  TCalcCmd& c = Append();
  c.code = kCmdCall + func->Arity();
  c.func = func.Get();
  func->AddRef();
}

void TCalcCmdList::RemoveAt(int32_t index) {
  if (index < 0 || index >= count_) return;
  wellFormed_ = -1;
  if (cmds_[index].code >= kCmdCall) cmds_[index].func->Release();
  std::memmove(&cmds_[index], &cmds_[index + 1], sizeof(TCalcCmd) * (count_ - index - 1));
  --count_;
}

void TCalcCmdList::Clear() {
  for (int32_t i = 0; i < count_; ++i)
    if (cmds_[i].code >= kCmdCall) cmds_[i].func->Release();
  count_ = 0;
  wellFormed_ = 1;
}

std::string CalcNumberText(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v + 0.0);  // no "-0"
  return std::string(buf, r.ptr);
}

std::string CalcCmdText(const TCalcCmd& cmd) {
  if (cmd.code >= kCmdCall) {
    int32_t arity = cmd.code - kCmdCall;
    std::string text = arity == 0 ? "call" : "call(" + std::to_string(arity) + ")";
    const std::string& name = cmd.func ? cmd.func->Name() : std::string();
    return text + " " + (name.empty() ? "???" : name);
  }
  std::string text = CalcCmdName(cmd.code);
  if (CalcCmdHasOperand(cmd.code)) text += " " + CalcNumberText(cmd.operand);
  return text;
}

std::vector<std::string> CalcProgramText(const TCalcCmdList& program) {
  std::vector<std::string> lines;
  for (const TCalcCmd& c : program) lines.push_back(CalcCmdText(c));
  if (lines.empty()) lines.push_back("--nocmd--");
  return lines;
}

}  // namespace lum
