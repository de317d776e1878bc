#pragma once
// Case-insensitive comparison used by every name lookup: ASCII letters fold to
// lower case, other characters through the Unicode case-folding table.
#include <cstdint>
#include <string>
#include <string_view>

namespace lum {

std::string FoldCase(std::string_view s);
bool FoldedEquals(std::string_view a, std::string_view b);
// Hash of the folded form; equal for any two strings FoldedEquals accepts.
uint32_t FoldedHash(std::string_view s);

// Functors for unordered containers keyed case-insensitively.
struct TFoldedHash {
  size_t operator()(std::string_view s) const { return FoldedHash(s); }
};
struct TFoldedEqual {
  bool operator()(std::string_view a, std::string_view b) const { return FoldedEquals(a, b); }
};

}  // namespace lum
