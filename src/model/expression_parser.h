#pragma once
// Compiler of the expression language to stack-machine commands, with
// constant folding and peephole rules, so that a per-frame evaluation runs as
// few commands as the expression allows.
//
//   expression = term { ("+" | "-") term }
//   term       = factor { ("*" | "/") factor }
//   factor     = { "+" | "-" } ( "(" expression ")" | primary )
//   primary    = number | name [ "(" expression { "," expression } ")" ]
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/calc_cmd_list.h"
#include "model/calc_func.h"

namespace lum {

enum TCalcErrorCode {
  kCalcNoError = 0,
  kCalcExpected = 1,      // detail: what was expected
  kCalcNumberFormat = 2,  // detail: the number's text
  kCalcDivisionByZero = 3,
  kCalcUnknownName = 4,  // detail: the name or operator character
  kCalcCallError = 5,    // detail: the call's source text
  kCalcTooDeep = 6,      // detail: the nesting limit
};
const char* CalcErrorText(int code);

// Parentheses and argument lists nest at most this deep. The compiler recurses
// per level, and no sensible expression comes near it.
inline constexpr int kMaxExpressionDepth = 256;

// Given (context, source text, start, length, time-variable flag) a function
// for the name, or none. The compiler passes the flag clear.
using TCalcResolver = TRef<TCalcFunc> (*)(void* context, std::string_view text, size_t start,
                                          size_t length, bool timeVariable);

// Where the compiler writes what it does (a debugging aid).
class TCalcTraceSink {
 public:
  virtual ~TCalcTraceSink() = default;
  virtual void Trace(std::string_view line) = 0;
};

// A sink that keeps the lines.
class TCalcTraceLines : public TCalcTraceSink {
 public:
  void Trace(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

class TExpressionParser {
 public:
  void SetTraceSink(TCalcTraceSink* sink) { trace_ = sink; }

  // Compiles text[start, start + length) into program (emptied first). On
  // failure the program is empty and the error describes the first fault.
  // Text with no tokens compiles to an empty program.
  bool Compile(std::string_view text, size_t start, size_t length, TCalcCmdList& program,
               TCalcResolver resolver = nullptr, void* context = nullptr);
  bool Compile(std::string_view text, TCalcCmdList& program, TCalcResolver resolver = nullptr,
               void* context = nullptr) {
    return Compile(text, 0, text.size(), program, resolver, context);
  }

  int ErrorCode() const { return errorCode_; }
  // The code's text ("Expected", "Division by Zerro", ...).
  const char* ErrorText() const { return CalcErrorText(errorCode_); }
  const std::string& ErrorDetail() const { return errorDetail_; }
  // Offset in the text where the error was found.
  size_t ErrorPos() const { return errorPos_; }
  // "Expected Operator", "Unknown Function or Variable: foo", ...
  std::string ErrorMessage() const;

 private:
  enum class TTok { End, Op, Number, Name, Invalid };

  void Next();
  bool Expression();
  bool Term();
  bool Factor();
  bool Primary();
  bool Call(const TRef<TCalcFunc>& func, const size_t* argStarts, size_t spanStart);
  bool Binary(char op, size_t lstart, size_t rstart);
  bool Expect(char op, const char* what);
  bool Fail(int code, std::string detail);
  bool UnknownOperator();

  bool IsLoad(size_t from, size_t to) const;
  double Operand(size_t i) const { return (*program_)[int32_t(i)].operand; }
  size_t Count() const { return size_t(program_->Count()); }
  void Emit(int32_t code, double operand = 0);
  void EmitCall(const TRef<TCalcFunc>& func);
  void EmitAddC(double c);
  void EmitMulC(double c);
  void Drop(size_t index);
  void TraceLine(const std::string& line) {
    if (trace_) trace_->Trace(line);
  }

  std::string_view text_;
  size_t pos_ = 0, end_ = 0;
  size_t tokStart_ = 0, tokEnd_ = 0;
  TTok tok_ = TTok::End;
  double number_ = 0;
  int depth_ = 0;
  size_t spanEnd_ = 0;           // end of the call being compiled
  bool invalidIsError_ = false;  // the invalid token is a malformed number
  int errorCode_ = kCalcNoError;
  std::string errorDetail_;
  size_t errorPos_ = 0;
  TCalcCmdList* program_ = nullptr;
  TCalcResolver resolver_ = nullptr;
  void* context_ = nullptr;
  TCalcTraceSink* trace_ = nullptr;
};

}  // namespace lum
