// Arbitrary text as an expression: compiling never crashes or recurses without
// bound, a failed compile leaves no program, a successful one runs to an end,
// and the program it produced never depends on the variables' values.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/calc_cmd_list.h"
#include "model/calc_func.h"
#include "model/calc_machine.h"
#include "model/expression_parser.h"

namespace {

using namespace lum;

struct TVars {
  TRef<TCalcVariable> t = MakeRef<TCalcVariable>("t", 0.25);
  TRef<TCalcVariable> x = MakeRef<TCalcVariable>("x", -3);
  TRef<TCalcVariable> value = MakeRef<TCalcVariable>("value", 0);
};

TRef<TCalcFunc> Resolve(void* context, std::string_view text, size_t start, size_t length, bool) {
  auto* vars = static_cast<TVars*>(context);
  std::string_view name = text.substr(start, length);
  if (name == "t" || name == "Pos.t") return TRef<TCalcFunc>(vars->t);
  if (name == "x") return TRef<TCalcFunc>(vars->x);
  if (name == "value") return TRef<TCalcFunc>(vars->value);
  return {};
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_expression: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TVars vars;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TExpressionParser parser;
  TCalcTraceLines trace;
  parser.SetTraceSink(&trace);
  TCalcCmdList program;
  bool ok = parser.Compile(text, program, Resolve, &vars);
  if (!ok) {
    if (!program.Empty()) Fail("failed compile left commands");
    if (parser.ErrorCode() < 1 || parser.ErrorCode() > kCalcTooDeep)
      Fail("error code out of range");
    if (parser.ErrorPos() > size) Fail("error position outside the text");
    return 0;
  }
  if (parser.ErrorCode() != 0) Fail("success with an error code");
  // Stack depth needed never exceeds the commands; the machine checks arities.
  TCalcStack stack;
  for (double t : {0.0, 0.5, 1.0}) {
    vars.t->SetValue(t);
    std::string error;
    if (lum::Run(program, stack, &error)) {
      if (!program.Empty() && stack.Count() != 1) Fail("program left other than one value");
      if (!std::isfinite(stack.Top()) && !program.Empty()) Fail("run gave a non-finite value");
    } else if (error.empty()) {
      Fail("failed run without a reason");
    }
  }
  // Compiling the same text again gives the same program.
  TCalcCmdList again;
  if (!parser.Compile(text, again, Resolve, &vars)) Fail("second compile failed");
  if (CalcProgramText(again) != CalcProgramText(program)) Fail("compile not repeatable");
  return 0;
}
