#pragma once
// Conversions of project-document values. They never fail: text that does not
// follow the rules gives the caller's default. Numbers always use ".".
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace lum {

// Optional leading spaces (and the control character 8), one optional sign,
// then decimal digits only; out of range gives the default.
int32_t ValueToInt(std::string_view v, int32_t def);
int64_t ValueToInt64(std::string_view v, int64_t def);
// Optional spaces and sign, digits with at most one ".", optional E/e exponent.
double ValueToFloat(std::string_view v, double def);
// Exactly "1" or "0".
bool ValueToBool(std::string_view v, bool def);
// Index of the first choice equal to the value, else def.
int ValueToChoice(std::string_view v, std::initializer_list<std::string_view> choices,
                  bool caseSensitive, int def);
// The value split at sep; an empty value gives no parts.
std::vector<std::string> SplitValue(std::string_view v, char sep = ',');

std::string IntToValue(int64_t v);
std::string BoolToValue(bool v);
// 16 significant digits, "." as separator.
std::string FloatToValue(double v);

}  // namespace lum
