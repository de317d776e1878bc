#pragma once
// Functions of the expression language and the registry of the built-in ones.
// Every name an expression uses (constants, math functions, variables bound to
// the animation) is a reference-counted function object.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ref_object.h"
#include "model/calc_machine.h"

namespace lum {

class TCalcFunc : public TRefObject {
 public:
  static constexpr int kMaxArity = 5;

  TCalcFunc(std::string name, int arity, bool pure);

  const std::string& Name() const { return name_; }
  int Arity() const { return arity_; }
  // The result depends on the arguments alone: calls with constant arguments
  // may be evaluated while compiling.
  bool Pure() const { return pure_; }

  // Pops Arity() arguments (the last one on top) and pushes the result.
  virtual void Eval(TCalcStack& stack) = 0;
  // The machine calls these for arity 0 and 1, so that the top value stays in
  // a register; the defaults go through Eval.
  virtual double Value0();
  virtual double Value1(double x);
  // Given the values of the trailing constCount arguments (in argument order),
  // a cheaper function of fewer arguments to call instead, or none.
  virtual TRef<TCalcFunc> Optimize(int constCount, const double* constants) const;

 private:
  friend class TCalcRegistry;
  std::string name_;
  int arity_;
  bool pure_;
  TCalcFunc* next_ = nullptr;  // registry bucket chain
};

class TMathFunc : public TCalcFunc {
 public:
  TMathFunc(std::string name, int arity, bool pure = true)
      : TCalcFunc(std::move(name), arity, pure) {}
};

// A named constant.
class TMathConst : public TMathFunc {
 public:
  TMathConst(std::string name, double value) : TMathFunc(std::move(name), 0), value_(value) {}
  double Value() const { return value_; }
  void Eval(TCalcStack& stack) override { stack.Push(value_); }
  double Value0() override { return value_; }

 private:
  double value_;
};

class TMathWrapper0 : public TMathFunc {
 public:
  using TRoutine = double (*)();
  TMathWrapper0(std::string name, TRoutine routine, bool pure)
      : TMathFunc(std::move(name), 0, pure), routine_(routine) {}
  void Eval(TCalcStack& stack) override { stack.Push(routine_()); }
  double Value0() override { return routine_(); }

 private:
  TRoutine routine_;
};

class TMathWrapper1 : public TMathFunc {
 public:
  using TRoutine = double (*)(double);
  TMathWrapper1(std::string name, TRoutine routine)
      : TMathFunc(std::move(name), 1), routine_(routine) {}
  void Eval(TCalcStack& stack) override { stack.Top() = routine_(stack.Top()); }
  double Value1(double x) override { return routine_(x); }

 private:
  TRoutine routine_;
};

// A one-argument routine defined on [lo, hi] only; other arguments fault.
class TMathWrapper1Ext : public TMathFunc {
 public:
  using TRoutine = double (*)(double);
  TMathWrapper1Ext(std::string name, TRoutine routine, double lo, double hi)
      : TMathFunc(std::move(name), 1), routine_(routine), lo_(lo), hi_(hi) {}
  void Eval(TCalcStack& stack) override { stack.Top() = Value1(stack.Top()); }
  double Value1(double x) override;

 private:
  TRoutine routine_;
  double lo_, hi_;
};

class TMathWrapper2Ext : public TMathFunc {
 public:
  using TRoutine = double (*)(double, double);
  TMathWrapper2Ext(std::string name, TRoutine routine)
      : TMathFunc(std::move(name), 2), routine_(routine) {}
  void Eval(TCalcStack& stack) override {
    double b = stack.Pop();
    stack.Top() = routine_(stack.Top(), b);
  }

 private:
  TRoutine routine_;
};

class TMathWrapper3 : public TMathFunc {
 public:
  using TRoutine = double (*)(double, double, double);
  TMathWrapper3(std::string name, TRoutine routine)
      : TMathFunc(std::move(name), 3), routine_(routine) {}
  void Eval(TCalcStack& stack) override {
    double c = stack.Pop();
    double b = stack.Pop();
    stack.Top() = routine_(stack.Top(), b, c);
  }

 private:
  TRoutine routine_;
};

// Power(x, y); a constant exponent of 2 turns the call into Sqr(x).
class TPowerOptFunc : public TMathFunc {
 public:
  explicit TPowerOptFunc(std::string name) : TMathFunc(std::move(name), 2) {}
  void Eval(TCalcStack& stack) override;
  TRef<TCalcFunc> Optimize(int constCount, const double* constants) const override;
};

// A named value set from outside (command line, tests); never folded.
class TCalcVariable : public TCalcFunc {
 public:
  TCalcVariable(std::string name, double value)
      : TCalcFunc(std::move(name), 0, false), value_(value) {}
  void SetValue(double v) { value_ = v; }
  double Value() const { return value_; }
  void Eval(TCalcStack& stack) override { stack.Push(value_); }
  double Value0() override { return value_; }

 private:
  double value_;
};

// The built-in function of that name (case-insensitive), a new reference, or
// none. The registry is filled on first use.
TRef<TCalcFunc> CalcLookup(std::string_view name);
// Adds a function; it hides an earlier one of the same name.
void CalcRegister(const TRef<TCalcFunc>& func);
// Names of every registered function (tests, fuzz dictionaries).
std::vector<std::string> CalcFunctionNames();
// Empties the registry; the next lookup fills it again. Only for process end
// (and tests): lookups must not run at the same time.
void CalcRegistryShutdown();

// The curve function QSplineGraph, added when the registry is filled.
TRef<TCalcFunc> MakeCurveFunction();

}  // namespace lum
