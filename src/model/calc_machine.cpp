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

}  // namespace

// The top value and the count live in locals while the program runs; the
// stack object is brought up to date around calls that take it.
bool Run(const TCalcCmdList& program, TCalcStack& stack, std::string* error) {
  stack.count_ = 0;
  if (!program.WellFormed()) {
    if (error) *error = "Invalid program";
    return false;
  }
  double top = 0;
  int32_t count = 0;
  double* below = stack.below_.get();
  auto push = [&](double v) {
    if (count > 0) {
      if (count > stack.capacity_) {
        stack.count_ = count;
        stack.Grow();
        below = stack.below_.get();
      }
      below[count - 1] = top;
    }
    top = v;
    ++count;
  };
  auto pop = [&] {
    double v = top;
    if (--count > 0) top = below[count - 1];
    return v;
  };
  bool ok = true;
  try {
    for (const TCalcCmd *c = program.begin(), *end = program.end(); c != end; ++c) {
      switch (c->code) {
        case kCmdLoad:
          push(c->operand);
          break;
        case kCmdNeg:
          top = -top;
          break;
        case kCmdAdd: {
          double x = pop();
          top += x;
          break;
        }
        case kCmdSub: {
          double x = pop();
          top -= x;
          break;
        }
        case kCmdMul: {
          double x = pop();
          top *= x;
          break;
        }
        case kCmdDiv: {
          double x = pop();
          if (x == 0) Fault("Division by zero");
          top /= x;
          break;
        }
        case kCmdAddC:
          top += c->operand;
          break;
        case kCmdMulC:
          top *= c->operand;
          break;
        case kCmdCSub:
          top = c->operand - top;
          break;
        case kCmdCDiv:
          if (top == 0) Fault("Division by zero");
          top = c->operand / top;
          break;
        case kCmdCall:
          push(c->func->Value0());
          break;
        case kCmdCall + 1:
          top = c->func->Value1(top);
          break;
        default:
          stack.top_ = top;
          stack.count_ = count;
          c->func->Eval(stack);
          top = stack.top_;
          count = stack.count_;
          below = stack.below_.get();
          break;
      }
      // An infinite or undefined value is the floating-point fault the
      // machine reports instead of carrying it on.
      if (!std::isfinite(top)) [[unlikely]]
        Fault("Invalid floating point operation");
    }
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    ok = false;
  }
  stack.top_ = top;
  stack.count_ = count;
  return ok;
}

}  // namespace lum
