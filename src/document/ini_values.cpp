#include "document/ini_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include <fmt/format.h>

#include "foundation/case_fold.h"

namespace lum {

namespace {

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Parses the integer rules into magnitude and sign; false when malformed or
// the magnitude exceeds maxMagnitude.
bool ParseInteger(std::string_view v, uint64_t maxMagnitude, uint64_t& magnitude, bool& negative) {
  size_t i = 0;
  while (i < v.size() && (v[i] == ' ' || v[i] == '\b')) ++i;
  negative = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
  if (i == v.size()) return false;
  uint64_t acc = 0;
  for (; i < v.size(); ++i) {
    if (!IsDigit(v[i])) return false;
    unsigned d = unsigned(v[i] - '0');
    if (acc > (maxMagnitude - d) / 10) return false;
    acc = acc * 10 + d;
  }
  magnitude = acc;
  return true;
}

}  // namespace

int32_t ValueToInt(std::string_view v, int32_t def) {
  uint64_t m;
  bool neg;
  if (!ParseInteger(v, 2147483648ull, m, neg)) return def;
  if (!neg && m > 2147483647ull) return def;
  return neg ? int32_t(-int64_t(m)) : int32_t(m);
}

int64_t ValueToInt64(std::string_view v, int64_t def) {
  uint64_t m;
  bool neg;
  if (!ParseInteger(v, 9223372036854775808ull, m, neg)) return def;
  if (!neg && m > 9223372036854775807ull) return def;
  return neg ? int64_t(0 - m) : int64_t(m);
}

double ValueToFloat(std::string_view v, double def) {
  size_t i = 0;
  while (i < v.size() && (v[i] == ' ' || v[i] == '\b')) ++i;
  bool neg = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) neg = v[i++] == '-';
  std::string clean;
  int digits = 0, points = 0;
  for (; i < v.size() && (IsDigit(v[i]) || v[i] == '.'); ++i) {
    if (v[i] == '.' && ++points > 1) return def;
    if (v[i] != '.') ++digits;
    clean += v[i];
  }
  if (digits == 0) return def;
  const size_t mantissaEnd = clean.size();
  int64_t exponent = 0;
  if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
    ++i;
    std::string_view exp = v.substr(i);
    if (exp.empty() || exp[0] == ' ') return def;
    uint64_t m;
    bool eneg;
    if (!ParseInteger(exp, 100000, m, eneg)) return def;
    exponent = eneg ? -int64_t(m) : int64_t(m);
    clean += eneg ? "e-" : "e";
    clean += std::to_string(m);
    i = v.size();
  }
  if (i != v.size()) return def;
  double out = 0;
  auto r = std::from_chars(clean.data(), clean.data() + clean.size(), out);
  if (r.ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is no number. from_chars leaves the
    // result untouched then, so the first significant digit's place decides.
    std::string_view mantissa(clean.data(), mantissaEnd);
    size_t point = std::min(mantissa.find('.'), mantissa.size());
    size_t first = mantissa.find_first_not_of("0.");
    int64_t place = first < point ? int64_t(point - first) : -int64_t(first - point - 1);
    if (place + exponent > 0) return def;
    out = 0;
  } else if (r.ec != std::errc() || r.ptr != clean.data() + clean.size()) {
    return def;
  }
  return neg ? -out : out;
}

bool ValueToBool(std::string_view v, bool def) {
  if (v == "1") return true;
  if (v == "0") return false;
  return def;
}

int ValueToChoice(std::string_view v, std::initializer_list<std::string_view> choices,
                  bool caseSensitive, int def) {
  int i = 0;
  for (std::string_view c : choices) {
    if (caseSensitive ? v == c : FoldedEquals(v, c)) return i;
    ++i;
  }
  return def;
}

std::vector<std::string> SplitValue(std::string_view v, char sep) {
  std::vector<std::string> parts;
  if (v.empty()) return parts;
  size_t start = 0;
  for (;;) {
    size_t at = v.find(sep, start);
    parts.emplace_back(
        v.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

std::string IntToValue(int64_t v) {
  return std::to_string(v);
}
std::string BoolToValue(bool v) {
  return v ? "1" : "0";
}
std::string FloatToValue(double v) {
  return fmt::format("{:.16g}", v);
}

}  // namespace lum
