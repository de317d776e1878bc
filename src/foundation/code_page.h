#pragma once
// The single-byte "ANSI" code page that text without a byte-order mark is
// decoded with. Default Windows-1252; LUM_CODEPAGE in the environment or the
// player's -codepage switch choose another.
#include <string>
#include <string_view>

namespace lum {

// Selects the code page by number (1250, 1251, 1252, 437, 28591, ...). Returns
// false, keeping the current one, when it is unknown or not single-byte.
bool SetCodePage(int number);
int CodePage();

// Decodes bytes in the current code page to UTF-8.
std::string AnsiToUtf8(std::string_view bytes);

}  // namespace lum
