#pragma once
// UTF-8 / UTF-16 conversion. Invalid input never fails: bad sequences and lone
// surrogates become U+FFFD.
#include <cstdint>
#include <string>
#include <string_view>

namespace lum {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// Decodes UTF-16 little-endian bytes (an odd last byte is dropped).
std::string Utf16LeBytesToUtf8(std::string_view bytes);

// Appends the UTF-8 form of a code point (invalid ones as U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);
// Decodes one code point at s[i], advancing i; malformed bytes give U+FFFD and advance by one.
char32_t DecodeUtf8(std::string_view s, size_t& i);

// True when every byte is below 0x80.
bool IsAscii(std::string_view s);

}  // namespace lum
