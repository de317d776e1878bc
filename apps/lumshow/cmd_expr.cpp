// lumshow expr: compiles and evaluates an expression of the modifier language.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "commands.h"
#include "foundation/errors.h"
#include "model/calc_cmd_list.h"
#include "model/calc_func.h"
#include "model/expression_parser.h"

namespace lum::lumshow {

namespace {

using TVariables = std::map<std::string, TRef<TCalcFunc>>;

bool IsName(std::string_view s) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (s.empty() || !letter(s[0])) return false;
  for (char c : s)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '.') return false;
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return true;
}

TRef<TCalcFunc> ResolveVariable(void* context, std::string_view text, size_t start, size_t length,
                                bool) {
  std::string_view name = text.substr(start, length);
  for (auto& [key, func] : *static_cast<TVariables*>(context))
    if (SameName(key, name)) return func;
  return {};
}

TVariables ParseVariables(const std::vector<std::string>& specs) {
  TVariables vars;
  for (const std::string& spec : specs) {
    size_t eq = spec.find('=');
    std::string name = spec.substr(0, eq);
    if (eq == std::string::npos || !IsName(name))
      throw TUsageError{"--var wants NAME=VALUE with a name of letters, digits, \"_\" and \".\": " +
                        spec};
    std::string_view value = std::string_view(spec).substr(eq + 1);
    double v = 0;
    auto r = std::from_chars(value.data(), value.data() + value.size(), v);
    if (value.empty() || r.ec != std::errc() || r.ptr != value.data() + value.size() ||
        !std::isfinite(v))
      throw TUsageError{"--var " + name + ": not a number: " + std::string(value)};
    vars[name] = MakeRef<TCalcVariable>(name, v);
  }
  return vars;
}

}  // namespace

int Expr(const TExprArgs& args) {
  TVariables vars = ParseVariables(args.vars);
  TExpressionParser parser;
  TCalcTraceLines trace;
  if (args.trace) parser.SetTraceSink(&trace);
  TCalcCmdList program;
  bool ok = parser.Compile(args.expression, program, ResolveVariable, &vars);
  for (const std::string& line : trace.lines) std::printf("%s\n", line.c_str());
  if (!ok)
    throw ELumError(parser.ErrorMessage() + " (at character " +
                    std::to_string(parser.ErrorPos() + 1) + ")");
  if (args.program)
    for (const std::string& line : CalcProgramText(program)) std::printf("%s\n", line.c_str());
  TCalcStack stack;
  std::string error;
  if (!Run(program, stack, &error)) throw ELumError("evaluation failed: " + error);
  if (stack.Count() != 1) throw ELumError("the expression gives no value");
  std::printf("%.17g\n", stack.Top());
  return 0;
}

}  // namespace lum::lumshow
