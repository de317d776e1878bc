#include "model/calc_machine.h"

#include <cmath>
#include <cstring>

#include "model/calc_cmd_list.h"
#include "model/calc_func.h"

namespace lum {

void TCalcStack::Grow() {
  int32_t capacity = capacity_ * 2;
  std::unique_ptr<double[]> grown(new double[capacity]);
  std::memcpy(grown.get(), below_.get(), sizeof(double) * capacity_);
  below_ = std::move(grown);
  capacity_ = capacity;
}

namespace {

[[noreturn]] void Fault(const char* what) {
  throw ECalcError(what);
}

inline void Execute(const TCalcCmd& c, TCalcStack& s) {
  // Calls first: they are what a typical modifier runs.
  if (c.code >= kCmdCall) {
    c.func->Eval(s);
    return;
  }
  switch (c.code) {
    case kCmdLoad:
      s.Push(c.operand);
      break;
    case kCmdNeg:
      s.Top() = -s.Top();
      break;
    case kCmdAdd: {
      double x = s.Pop();
      s.Top() += x;
      break;
    }
    case kCmdSub: {
      double x = s.Pop();
      s.Top() -= x;
      break;
    }
    case kCmdMul: {
      double x = s.Pop();
      s.Top() *= x;
      break;
    }
    case kCmdDiv: {
      double x = s.Pop();
      if (x == 0) Fault("Division by zero");
      s.Top() /= x;
      break;
    }
    case kCmdAddC:
      s.Top() += c.operand;
      break;
    case kCmdMulC:
      s.Top() *= c.operand;
      break;
    case kCmdCSub:
      s.Top() = c.operand - s.Top();
      break;
    case kCmdCDiv:
      if (s.Top() == 0) Fault("Division by zero");
      s.Top() = c.operand / s.Top();
      break;
  }
}

}  // namespace

bool Run(const TCalcCmdList& program, TCalcStack& stack, std::string* error) {
  stack.Clear();
  if (!program.WellFormed()) {
    if (error) *error = "Invalid program";
    return false;
  }
  try {
    for (const TCalcCmd& c : program) {
      Execute(c, stack);
      // An infinite or undefined value is the floating-point fault the
      // machine reports instead of carrying it on.
      if (!std::isfinite(stack.Top())) Fault("Invalid floating point operation");
    }
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
  return true;
}

}  // namespace lum
