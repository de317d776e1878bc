#pragma once
// Text descriptions: the picture names text objects ask for ("Text: " and
// nine ":"-separated fields), their parameters, and the case escaping that
// lets letter case survive case-insensitive member names.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lum {

enum TTextStyle : int {
  tsBold = 1,
  tsItalic = 2,
  tsUnderline = 4,
  tsStrikeOut = 8,
};

enum TTextAlign : uint8_t {
  taLeft = 0,
  taCentre = 1,
  taRight = 2,
};

// Fields in the order a description carries them.
struct TTextParams {
  std::string font;
  double scale = 1;                // outline units to picture pixels
  float value1 = 0, value2 = 0;    // carried unchanged
  int style = 0;                   // TTextStyle bits
  uint8_t align = taCentre;        // TTextAlign
  double value6 = 1;               // carried unchanged
  double lineSpacing = 0;          // percent of the line height added between lines
  std::vector<std::string> lines;  // unescaped

  bool operator==(const TTextParams&) const = default;
};

// The process-wide defaults that missing or unreadable fields take: font
// "Arial", scale 1, the two single-precision values 0, no style, centred,
// value6 1, line spacing 0, no lines.
TTextParams DefaultTextParams();
void SetDefaultTextParams(const TTextParams& params);

inline constexpr std::string_view kTextPrefix = "Text: ";
inline constexpr std::string_view kVectTextPrefix = "VectTxt2: ";
inline constexpr std::string_view kGlyphCachePrefix = "VectTextCache: ";

// Fixed notation with "." and at most `decimals` decimals, trailing zeros and
// a bare "." removed (72 -> "72", 0.5 -> "0.5"); non-finite values give "0".
std::string FormatTextNumber(double value, int decimals);
// "Bold,Italic,Underline,StrikeOut" for the bits set, in that order.
std::string StyleField(int style);
// Style words in any order (ASCII case ignored, blanks trimmed); others ignored.
int ParseStyleField(std::string_view field);

// Encloses every run of characters that change under lower-casing in "<"
// ">"; a literal "<" becomes "<<" and ">" becomes ">>" (an open run is
// closed first). Works on UTF-8; malformed bytes are kept as they are.
std::string EscapeTextLine(std::string_view line);
// The reverse: "<<" -> "<", ">>" -> ">", "<"..">" -> the enclosed text.
// Never fails: a stray ">" is kept, an unclosed run runs to the end.
std::string UnescapeText(std::string_view text);

// Splits at CR LF, LF CR, lone CR and lone LF; "" gives one empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

// "Text: " + the nine fields; each line is escaped, the lines joined by CR
// LF and enclosed in double quotes.
std::string BuildTextDescription(const TTextParams& params);
// Reads a description (the "Text: " prefix is optional). Fields start from
// `defaults`; numbers that cannot be read, and an empty font name, keep
// them. The lines are unescaped. Fewer than nine fields leave no lines.
TTextParams ParseTextDescription(std::string_view description, const TTextParams& defaults);
TTextParams ParseTextDescription(std::string_view description);

// "VectTxt2: " + font field + ":" + style field + ":" + lines field, all as
// written in the (escaped) description.
std::string VectTextKey(std::string_view description);
// The glyph-cache key of a font and style: font + ":" + style field.
std::string GlyphCacheKey(std::string_view font, int style);

}  // namespace lum
