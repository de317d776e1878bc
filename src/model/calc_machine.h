#pragma once
// The evaluation machine of compiled expressions: a value stack and the
// interpreter loop. Arithmetic is double precision; a value that is not finite
// counts as a floating-point fault and ends the run.
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/errors.h"

namespace lum {

class TCalcCmdList;

// A fault while evaluating (division by zero, invalid argument, overflow).
class ECalcError : public ELumError {
 public:
  using ELumError::ELumError;
};

// The top value is held apart from the array of the values below it, so that
// unary operations and one-argument calls touch no memory but the stack object.
class TCalcStack {
 public:
  TCalcStack() : below_(new double[kInitialCapacity]), capacity_(kInitialCapacity) {}
  TCalcStack(const TCalcStack&) = delete;
  TCalcStack& operator=(const TCalcStack&) = delete;

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  void Clear() { count_ = 0; }

  void Push(double v) {
    if (count_ > 0) {
      if (count_ > capacity_) Grow();
      below_[count_ - 1] = top_;
    }
    top_ = v;
    ++count_;
  }
  // Callers make sure a value is there (the machine checks arities first).
  double Pop() {
    double v = top_;
    if (--count_ > 0) top_ = below_[count_ - 1];
    return v;
  }
  double& Top() { return top_; }
  double Top() const { return top_; }

 private:
  static constexpr int32_t kInitialCapacity = 8;
  void Grow();
  friend bool Run(const TCalcCmdList&, TCalcStack&, std::string*);

  double top_ = 0;
  std::unique_ptr<double[]> below_;
  int32_t capacity_;
  int32_t count_ = 0;
};

// Runs the program on an emptied stack. False when a command faulted (the
// reason goes to *error when given) or the program is malformed. A program with
// no commands succeeds and leaves no value.
bool Run(const TCalcCmdList& program, TCalcStack& stack, std::string* error = nullptr);

}  // namespace lum
