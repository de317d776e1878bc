#pragma once
// Compiled expressions: an array of 16-byte stack-machine commands.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ref_object.h"

namespace lum {

class TCalcFunc;

// Command codes; a call of a function of arity n has the code kCmdCall + n.
enum TCalcCmdCode : int32_t {
  kCmdLoad = 0,  // push c
  kCmdNeg = 1,   // x = -x
  kCmdAdd = 2,   // pop x; top = y + x
  kCmdSub = 3,   // pop x; top = y - x
  kCmdMul = 4,   // pop x; top = y * x
  kCmdDiv = 5,   // pop x; top = y / x
  kCmdAddC = 6,  // x = x + c
  kCmdMulC = 7,  // x = x * c
  kCmdCSub = 8,  // x = c - x
  kCmdCDiv = 9,  // x = c / x
  kCmdCall = 10,
};

// Values the command takes from the stack (calls: their arity).
int32_t CalcCmdArity(int32_t code);
// Whether the command carries a constant operand.
bool CalcCmdHasOperand(int32_t code);
// Trace name of a command code ("load", ..., "call").
const char* CalcCmdName(int32_t code);

// A call never carries an operand, so the function and the operand share room.
struct TCalcCmd {
  int32_t code;
  union {
    TCalcFunc* func;
    double operand;
  };
};
static_assert(sizeof(TCalcCmd) == 16, "commands are 16 bytes");

// Owns one reference of the function of every call command. Grows by doubling
// from 16 entries.
class TCalcCmdList {
 public:
  TCalcCmdList() = default;
  TCalcCmdList(const TCalcCmdList& other);
  TCalcCmdList& operator=(const TCalcCmdList& other);
  ~TCalcCmdList();

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  bool Empty() const { return count_ == 0; }
  const TCalcCmd& operator[](int32_t i) const { return cmds_[i]; }
  const TCalcCmd* begin() const { return cmds_.get(); }
  const TCalcCmd* end() const { return cmds_.get() + count_; }

  void AddLoad(double c) { AddOp(kCmdLoad, c); }
  // An operator command (codes 0-9); the operand is kept when the code takes one.
  void AddOp(int32_t code, double operand = 0);
  // A call command of the function's arity.
  void AddCall(const TRef<TCalcFunc>& func);
  // Removes the command at index, moving later ones down.
  void RemoveAt(int32_t index);
  void Clear();

  // Every command finds its operands on the stack and every call names a
  // function of its arity; checked once per change, not per run.
  bool WellFormed() const { return wellFormed_ > 0 || (wellFormed_ < 0 && Check()); }

 private:
  TCalcCmd& Append();
  bool Check() const;

  std::unique_ptr<TCalcCmd[]> cmds_;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
  mutable int8_t wellFormed_ = 1;  // 1 yes, 0 no, -1 not yet checked
};

// Text of a command in trace form: "load 12.5", "neg", "call x", "call(1) Sqr".
std::string CalcCmdText(const TCalcCmd& cmd);
// A number as the trace writes it: the shortest text that reads back exactly.
std::string CalcNumberText(double v);
// The program one command a line; "--nocmd--" for an empty one.
std::vector<std::string> CalcProgramText(const TCalcCmdList& program);

}  // namespace lum
