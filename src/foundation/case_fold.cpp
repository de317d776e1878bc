#include "foundation/case_fold.h"

#include <utf8proc.h>

#include "foundation/utf.h"

namespace lum {

namespace {

inline char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

// Appends the folded form of the code point starting at s[i]; advances i.
void FoldNonAscii(std::string_view s, size_t& i, std::string& out) {
  size_t start = i;
  char32_t cp = DecodeUtf8(s, i);
  if (cp == 0xFFFD && i == start + 1) {
    out += s[start];  // keep bytes of malformed text as they are
    return;
  }
  utf8proc_int32_t buf[8];
  int last = 0;
  utf8proc_ssize_t n =
      utf8proc_decompose_char(utf8proc_int32_t(cp), buf, 8, UTF8PROC_CASEFOLD, &last);
  if (n <= 0 || n > 8) {
    AppendUtf8(out, cp);
    return;
  }
  for (utf8proc_ssize_t k = 0; k < n; ++k) AppendUtf8(out, char32_t(buf[k]));
}

}  // namespace

std::string FoldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      out += FoldAscii(c);
      ++i;
    } else {
      FoldNonAscii(s, i, out);
    }
  }
  return out;
}

bool FoldedEquals(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  for (; i < n; ++i) {
    char x = a[i], y = b[i];
    if ((static_cast<unsigned char>(x) | static_cast<unsigned char>(y)) & 0x80) break;
    if (FoldAscii(x) != FoldAscii(y)) return false;
  }
  if (i == a.size() && i == b.size()) return true;
  // One is an ASCII prefix of the other: the longer tail cannot fold to nothing.
  if (i == n) return false;
  return FoldCase(a.substr(i)) == FoldCase(b.substr(i));
}

uint32_t FoldedHash(std::string_view s) {
  uint32_t h = 2166136261u;
  std::string tmp;
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      h = (h ^ static_cast<unsigned char>(FoldAscii(c))) * 16777619u;
      ++i;
      continue;
    }
    tmp.clear();
    FoldNonAscii(s, i, tmp);
    for (char t : tmp) h = (h ^ static_cast<unsigned char>(t)) * 16777619u;
  }
  return h;
}

}  // namespace lum
