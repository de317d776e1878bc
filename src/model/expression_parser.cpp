#include "model/expression_parser.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace lum {

const char* CalcErrorText(int code) {
  switch (code) {
    case kCalcNoError:
      return "No Error";
    case kCalcExpected:
      return "Expected";
    case kCalcNumberFormat:
      return "Invalid Number Format";
    case kCalcDivisionByZero:
      return "Division by Zerro";
    case kCalcUnknownName:
      return "Unknown Function or Variable";
    case kCalcCallError:
      return "Function Call Error";
    case kCalcTooDeep:
      return "Expression Nested Too Deep";
  }
  return "Unknown Error";
}

std::string TExpressionParser::ErrorMessage() const {
  std::string text = ErrorText();
  if (errorDetail_.empty()) return text;
  return text + (errorCode_ == kCalcExpected ? " " : ": ") + errorDetail_;
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsOperator(char c) {
  return c == '(' || c == ')' || c == '*' || c == '+' || c == ',' || c == '-' || c == '/';
}

// The decimal exponent of a number's first significant digit, to tell
// overflow from underflow when the conversion gives up.
long Magnitude(std::string_view s) {
  long exponent = 0;
  size_t e = s.find_first_of("eE");
  if (e != std::string_view::npos) {
    bool negative = s[e + 1] == '-';
    size_t i = e + 1 + (s[e + 1] == '-' || s[e + 1] == '+');
    for (; i < s.size(); ++i) {
      exponent = exponent * 10 + (s[i] - '0');
      if (exponent > 100000) break;
    }
    if (negative) exponent = -exponent;
    s = s.substr(0, e);
  }
  size_t dot = s.find('.');
  size_t intDigits = dot == std::string_view::npos ? s.size() : dot;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '.' || s[i] == '0') continue;
    long position = i < intDigits ? long(intDigits - i) - 1 : -long(i - intDigits);
    return exponent + position;
  }
  return -1000000;  // zero
}

}  // namespace

bool TExpressionParser::Fail(int code, std::string detail) {
  if (errorCode_ == kCalcNoError) {
    errorCode_ = code;
    errorDetail_ = std::move(detail);
    errorPos_ = tokStart_;
  }
  return false;
}

void TExpressionParser::Next() {
  while (pos_ < end_ && uint8_t(text_[pos_]) <= 32) ++pos_;
  tokStart_ = pos_;
  if (pos_ >= end_) {
    tokEnd_ = pos_;
    tok_ = TTok::End;
    return;
  }
  char c = text_[pos_];
  if (IsOperator(c)) {
    tokEnd_ = ++pos_;
    tok_ = TTok::Op;
    return;
  }
  if (IsLetter(c)) {
    while (pos_ < end_ && (IsLetter(text_[pos_]) || IsDigit(text_[pos_]) || text_[pos_] == '.'))
      ++pos_;
    tokEnd_ = pos_;
    tok_ = TTok::Name;
    return;
  }
  if (IsDigit(c)) {
    while (pos_ < end_ && IsDigit(text_[pos_])) ++pos_;
    if (pos_ < end_ && text_[pos_] == '.') {
      ++pos_;
      while (pos_ < end_ && IsDigit(text_[pos_])) ++pos_;
    }
    bool bad = false;
    if (pos_ < end_ && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < end_ && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      bad = pos_ >= end_ || !IsDigit(text_[pos_]);
      while (pos_ < end_ && IsDigit(text_[pos_])) ++pos_;
    }
    tokEnd_ = pos_;
    std::string_view s = text_.substr(tokStart_, tokEnd_ - tokStart_);
    if (!bad) {
      auto r = std::from_chars(s.data(), s.data() + s.size(), number_, std::chars_format::general);
      if (r.ec == std::errc::result_out_of_range) {
        if (Magnitude(s) < 0)
          number_ = 0;  // below the smallest double
        else
          bad = true;
      } else if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        bad = true;
      }
    }
    if (bad) {
      Fail(kCalcNumberFormat, std::string(s));
      tok_ = TTok::Invalid;
      invalidIsError_ = true;
      return;
    }
    tok_ = TTok::Number;
    return;
  }
  // Anything else is one invalid token; a UTF-8 sequence stays whole.
  ++pos_;
  if (uint8_t(c) >= 0xC0)
    while (pos_ < end_ && (uint8_t(text_[pos_]) & 0xC0) == 0x80) ++pos_;
  tokEnd_ = pos_;
  tok_ = TTok::Invalid;
}

bool TExpressionParser::Compile(std::string_view text, size_t start, size_t length,
                                TCalcCmdList& program, TCalcResolver resolver, void* context) {
  program.Clear();
  program_ = &program;
  resolver_ = resolver;
  context_ = context;
  text_ = text;
  pos_ = std::min(start, text.size());
  end_ = pos_ + std::min(length, text.size() - pos_);
  depth_ = 0;
  errorCode_ = kCalcNoError;
  errorDetail_.clear();
  errorPos_ = 0;
  invalidIsError_ = false;

  Next();
  bool ok;
  if (tok_ == TTok::End) {
    TraceLine("--nocmd--");
    ok = true;
  } else {
    ok = Expression();
    if (ok && tok_ != TTok::End)
      ok = tok_ == TTok::Invalid ? UnknownOperator() : Fail(kCalcExpected, "Operator");
  }
  if (!ok) program.Clear();
  program_ = nullptr;
  return ok;
}

bool TExpressionParser::UnknownOperator() {
  if (invalidIsError_) return false;
  std::string op(text_.substr(tokStart_, tokEnd_ - tokStart_));
  TraceLine("unknown operator " + op);
  return Fail(kCalcUnknownName, op);
}

bool TExpressionParser::Expect(char op, const char* what) {
  if (tok_ == TTok::Op && text_[tokStart_] == op) {
    Next();
    return true;
  }
  if (tok_ == TTok::Invalid) return UnknownOperator();
  return Fail(kCalcExpected, what);
}

bool TExpressionParser::Expression() {
  size_t lstart = Count();
  if (!Term()) return false;
  while (tok_ == TTok::Op && (text_[tokStart_] == '+' || text_[tokStart_] == '-')) {
    char op = text_[tokStart_];
    Next();
    size_t rstart = Count();
    if (!Term() || !Binary(op, lstart, rstart)) return false;
  }
  return true;
}

bool TExpressionParser::Term() {
  size_t lstart = Count();
  if (!Factor()) return false;
  while (tok_ == TTok::Op && (text_[tokStart_] == '*' || text_[tokStart_] == '/')) {
    char op = text_[tokStart_];
    Next();
    size_t rstart = Count();
    if (!Factor() || !Binary(op, lstart, rstart)) return false;
  }
  return true;
}

bool TExpressionParser::Factor() {
  // Signs are counted, not recursed into, so a run of any length is safe.
  bool negate = false;
  while (tok_ == TTok::Op && (text_[tokStart_] == '+' || text_[tokStart_] == '-')) {
    if (text_[tokStart_] == '-') negate = !negate;
    Next();
  }
  size_t start = Count();
  if (tok_ == TTok::Op && text_[tokStart_] == '(') {
    if (++depth_ > kMaxExpressionDepth)
      return Fail(kCalcTooDeep, "more than " + std::to_string(kMaxExpressionDepth) + " levels");
    Next();
    if (!Expression() || !Expect(')', "Operator or \")\"")) return false;
    --depth_;
  } else if (!Primary()) {
    return false;
  }
  if (negate) {
    if (IsLoad(start, Count())) {
      double c = Operand(start);
      Drop(start);
      Emit(kCmdLoad, -c);
    } else {
      Emit(kCmdNeg);
    }
  }
  return true;
}

bool TExpressionParser::Primary() {
  if (tok_ == TTok::Number) {
    Emit(kCmdLoad, number_);
    Next();
    return true;
  }
  if (tok_ != TTok::Name) return Fail(kCalcExpected, "Expression");
  size_t nameStart = tokStart_, nameLength = tokEnd_ - tokStart_;
  std::string_view name = text_.substr(nameStart, nameLength);
  TRef<TCalcFunc> func;
  if (resolver_) func = resolver_(context_, text_, nameStart, nameLength, false);
  if (!func) func = CalcLookup(name);
  if (!func) return Fail(kCalcUnknownName, std::string(name));
  Next();
  size_t argStarts[TCalcFunc::kMaxArity];
  int arity = func->Arity();
  if (arity > 0) {
    if (!Expect('(', "(")) return false;
    if (++depth_ > kMaxExpressionDepth)
      return Fail(kCalcTooDeep, "more than " + std::to_string(kMaxExpressionDepth) + " levels");
    for (int i = 0; i < arity; ++i) {
      argStarts[i] = Count();
      if (!Expression()) return false;
      if (i + 1 < arity) {
        if (!Expect(',', ",")) return false;
      } else if (tok_ == TTok::Op && text_[tokStart_] == ')') {
        spanEnd_ = tokEnd_;
        Next();
      } else {
        return Expect(')', ")");
      }
    }
    --depth_;
  } else {
    spanEnd_ = nameStart + nameLength;
  }
  return Call(func, argStarts, nameStart);
}

bool TExpressionParser::IsLoad(size_t from, size_t to) const {
  return to - from == 1 && (*program_)[int32_t(from)].code == kCmdLoad;
}

bool TExpressionParser::Call(const TRef<TCalcFunc>& func, const size_t* argStarts,
                             size_t spanStart) {
  int n = func->Arity();
  int constants = 0;
  for (int i = n - 1; i >= 0; --i) {
    size_t to = i + 1 < n ? argStarts[i + 1] : Count();
    if (!IsLoad(argStarts[i], to)) break;
    ++constants;
  }
  if (func->Pure() && constants == n) {
    TCalcStack scratch;
    for (int i = 0; i < n; ++i) scratch.Push(Operand(argStarts[i]));
    bool ok = true;
    try {
      func->Eval(scratch);
    } catch (const std::exception&) {
      ok = false;
    }
    if (!ok || scratch.Count() != 1 || !std::isfinite(scratch.Top())) {
      tokStart_ = spanStart;
      return Fail(kCalcCallError, std::string(text_.substr(spanStart, spanEnd_ - spanStart)));
    }
    for (int i = n - 1; i >= 0; --i) Drop(argStarts[i]);
    Emit(kCmdLoad, scratch.Top());
    return true;
  }
  if (constants > 0) {
    double values[TCalcFunc::kMaxArity];
    for (int j = 0; j < constants; ++j) values[j] = Operand(argStarts[n - constants + j]);
    TRef<TCalcFunc> replacement = func->Optimize(constants, values);
    if (replacement && replacement->Arity() < n && replacement->Arity() >= n - constants) {
      for (int i = n - 1; i >= replacement->Arity(); --i) Drop(argStarts[i]);
      EmitCall(replacement);
      return true;
    }
  }
  EmitCall(func);
  return true;
}

bool TExpressionParser::Binary(char op, size_t lstart, size_t rstart) {
  bool rc = IsLoad(rstart, Count()), lc = IsLoad(lstart, rstart);
  double r = rc ? Operand(rstart) : 0, l = lc ? Operand(lstart) : 0;
  if (op == '/' && rc && r == 0) return Fail(kCalcDivisionByZero, {});
  if (lc && rc) {
    Drop(rstart);
    Drop(lstart);
    double v = op == '+' ? l + r : op == '-' ? l - r : op == '*' ? l * r : l / r;
    Emit(kCmdLoad, v);
    return true;
  }
  switch (op) {
    case '+':
      if (rc || lc) {
        Drop(rc ? rstart : lstart);
        EmitAddC(rc ? r : l);
      } else {
        Emit(kCmdAdd);
      }
      break;
    case '*':
      if (rc || lc) {
        Drop(rc ? rstart : lstart);
        EmitMulC(rc ? r : l);
      } else {
        Emit(kCmdMul);
      }
      break;
    case '-':
      if (rc) {
        Drop(rstart);
        EmitAddC(-r);
      } else if (lc) {
        Drop(lstart);
        Emit(kCmdCSub, l);
      } else {
        Emit(kCmdSub);
      }
      break;
    case '/':
      if (rc) {
        Drop(rstart);
        EmitMulC(1 / r);
      } else if (lc) {
        Drop(lstart);
        Emit(kCmdCDiv, l);
      } else {
        Emit(kCmdDiv);
      }
      break;
    default:
      TraceLine(std::string("unknown operator ") + op);
      return Fail(kCalcUnknownName, std::string(1, op));
  }
  return true;
}

void TExpressionParser::Emit(int32_t code, double operand) {
  program_->AddOp(code, operand);
  if (trace_) trace_->Trace(CalcCmdText((*program_)[program_->Count() - 1]));
}

void TExpressionParser::EmitCall(const TRef<TCalcFunc>& func) {
  program_->AddCall(func);
  if (trace_) trace_->Trace(CalcCmdText((*program_)[program_->Count() - 1]));
}

void TExpressionParser::Drop(size_t index) {
  size_t last = Count() - 1;
  if (trace_) TraceLine(index == last ? "/drop" : "/drop(" + std::to_string(last - index) + ")");
  program_->RemoveAt(int32_t(index));
}

void TExpressionParser::EmitAddC(double c) {
  int32_t code = kCmdAddC;
  if (Count() > 0) {
    const TCalcCmd& prev = (*program_)[int32_t(Count() - 1)];
    if (prev.code == kCmdNeg) {
      Drop(Count() - 1);
      code = kCmdCSub;
    } else if (prev.code == kCmdAddC || prev.code == kCmdCSub) {
      code = prev.code;
      c += prev.operand;
      Drop(Count() - 1);
    }
  }
  if (std::fabs(c) < 1e-8) {
    if (code == kCmdAddC) {
      TraceLine("(addc " + CalcNumberText(c) + " \\drop)");
      return;
    }
    Emit(kCmdNeg);
    return;
  }
  Emit(code, c);
}

void TExpressionParser::EmitMulC(double c) {
  int32_t code = kCmdMulC;
  if (Count() > 0) {
    const TCalcCmd& prev = (*program_)[int32_t(Count() - 1)];
    if (prev.code == kCmdNeg) {
      Drop(Count() - 1);
      c = -c;
    } else if (prev.code == kCmdMulC || prev.code == kCmdCDiv) {
      code = prev.code;
      c *= prev.operand;
      Drop(Count() - 1);
    }
  }
  if (code == kCmdMulC && std::fabs(c - 1) < 1e-8) {
    TraceLine("(mulc " + CalcNumberText(c) + " \\drop)");
    return;
  }
  if (code == kCmdMulC && std::fabs(c + 1) < 1e-8) {
    Emit(kCmdNeg);
    return;
  }
  Emit(code, c);
}

}  // namespace lum
