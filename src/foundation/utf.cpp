#include "foundation/utf.h"

#include <cstring>

namespace lum {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
}

bool IsAscii(std::string_view s) {
  const char* p = s.data();
  size_t n = s.size();
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if (w & 0x8080808080808080ull) return false;
    p += 8;
    n -= 8;
  }
  while (n--) {
    if (static_cast<unsigned char>(*p++) & 0x80) return false;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

char32_t DecodeUtf8(std::string_view s, size_t& i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  // 0xF5-0xFF never start a sequence; they must not pass for 3-byte leads.
  int len = c >= 0xF0 ? (c <= 0xF4 ? 4 : 0) : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return kReplacement;
  }
  char32_t cp = c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    unsigned char t = b(i + k);
    if ((t & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (t & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are malformed.
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += size_t(len);
  return cp;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
  }
  return out;
}

namespace {

template <class Get>
std::string Utf16ToUtf8Impl(size_t n, Get get) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    char32_t u = get(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
      char32_t v = get(i + 1);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, u);  // lone surrogates become U+FFFD there
  }
  return out;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view utf16) {
  return Utf16ToUtf8Impl(utf16.size(), [&](size_t i) { return char32_t(utf16[i]); });
}

std::string Utf16LeBytesToUtf8(std::string_view bytes) {
  return Utf16ToUtf8Impl(bytes.size() / 2, [&](size_t i) {
    return char32_t(static_cast<unsigned char>(bytes[2 * i]) |
                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  });
}

}  // namespace lum
