// Text descriptions: number formatting, case escaping, building and parsing,
// and the vector-text key.
#include <gtest/gtest.h>

#include <cmath>

#include "foundation/case_fold.h"

#include "text/text_params.h"

namespace lum {
namespace {

TEST(TextNumbers, FixedNotationWithoutTrailingZeros) {
  EXPECT_EQ(FormatTextNumber(72, 6), "72");
  EXPECT_EQ(FormatTextNumber(0.5, 6), "0.5");
  EXPECT_EQ(FormatTextNumber(1.25, 2), "1.25");
  EXPECT_EQ(FormatTextNumber(1.255555, 2), "1.26");
  EXPECT_EQ(FormatTextNumber(0.1234567, 6), "0.123457");
  EXPECT_EQ(FormatTextNumber(-3.5, 6), "-3.5");
  EXPECT_EQ(FormatTextNumber(1e7, 6), "10000000");  // never exponent notation
  EXPECT_EQ(FormatTextNumber(100, 2), "100");       // zeros before the point stay
  EXPECT_EQ(FormatTextNumber(0.0000001, 6), "0");   // rounds to nothing: no "-0", no "."
  EXPECT_EQ(FormatTextNumber(-0.0000001, 6), "0");
  EXPECT_EQ(FormatTextNumber(0.1f, 6), "0.1");  // single precision prints cleanly
  EXPECT_EQ(FormatTextNumber(std::nan(""), 6), "0");
  EXPECT_EQ(FormatTextNumber(-INFINITY, 2), "0");
}

TEST(TextStyle, NamesInFixedOrderReadInAnyOrder) {
  EXPECT_EQ(StyleField(0), "");
  EXPECT_EQ(StyleField(tsBold | tsItalic | tsUnderline | tsStrikeOut),
            "Bold,Italic,Underline,StrikeOut");
  EXPECT_EQ(StyleField(tsStrikeOut | tsBold), "Bold,StrikeOut");
  EXPECT_EQ(ParseStyleField("StrikeOut,Bold"), tsStrikeOut | tsBold);
  EXPECT_EQ(ParseStyleField(" italic , Heavy,,Underline"), tsItalic | tsUnderline);
  EXPECT_EQ(ParseStyleField("Boldly"), 0);
}

TEST(TextEscape, CapitalRunsAndAngleBrackets) {
  EXPECT_EQ(EscapeTextLine("Hello"), "<H>ello");
  EXPECT_EQ(EscapeTextLine("RMN"), "<RMN>");
  EXPECT_EQ(EscapeTextLine("A<B"), "<A><<<B>");
  EXPECT_EQ(EscapeTextLine("A>B"), "<A>>><B>");
  EXPECT_EQ(EscapeTextLine("a<b>c"), "a<<b>>c");
  EXPECT_EQ(EscapeTextLine("OK 2 GO"), "<OK> 2 <GO>");  // blanks do not change, so they close runs
  EXPECT_EQ(EscapeTextLine("\xC3\x84pfel \xC3\xA4"), "<\xC3\x84>pfel \xC3\xA4");  // Ä is a capital
  EXPECT_EQ(EscapeTextLine("\xCE\xA3\xCE\xB1"), "<\xCE\xA3>\xCE\xB1");            // Σα
  EXPECT_EQ(EscapeTextLine(""), "");
  EXPECT_EQ(UnescapeText("<A><<<B>"), "A<B");
  EXPECT_EQ(UnescapeText("<H>ello"), "Hello");
  EXPECT_EQ(UnescapeText("<A>>><B>"), "A>B");
}

TEST(TextEscape, RoundTripsAndHostileInput) {
  for (const char* line : {"Hello World", "A<B", "<<>>", "X>Y<Z", "a:b:\"c\"", "ÄÖÜ äöü ẞ",
                           "\xFF\xFE broken UTF-8 \xC3", "<>", ">A<", "TeX <TAG> x"}) {
    EXPECT_EQ(UnescapeText(EscapeTextLine(line)), line) << line;
  }
  // Lenient on text no escaper wrote: a stray ">" stays, an open run runs on.
  EXPECT_EQ(UnescapeText("a>b"), "a>b");
  EXPECT_EQ(UnescapeText("<AB"), "AB");
  EXPECT_EQ(UnescapeText("<"), "");
  EXPECT_EQ(UnescapeText(">"), ">");
}

TEST(TextLines, AllLineBreakKinds) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitTextLines(""), V({""}));
  EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd\n\re"), V({"a", "b", "c", "d", "e"}));
  EXPECT_EQ(SplitTextLines("a\n\nb"), V({"a", "", "b"}));
  EXPECT_EQ(SplitTextLines("a\r\n"), V({"a", ""}));
  EXPECT_EQ(SplitTextLines("\r\r"), V({"", "", ""}));
}

TTextParams Sample() {
  TTextParams p = DefaultTextParams();
  p.font = "Liberation Sans";
  p.scale = 0.25;
  p.value1 = 1.5f;
  p.value2 = -2;
  p.style = tsBold | tsUnderline;
  p.align = taRight;
  p.value6 = 0.75;
  p.lineSpacing = 12.5;
  p.lines = {"Hello: World", "", "A<B>c \"quoted\""};
  return p;
}

TEST(TextDescription, BuildsTheNineFields) {
  EXPECT_EQ(BuildTextDescription(Sample()),
            "Text: Liberation Sans:0.25:1.5:-2:Bold,Underline:2:0.75:12.5:"
            "\"<H>ello: <W>orld\r\n\r\n<A><<<B>>>c \"quoted\"\"");
  TTextParams d = DefaultTextParams();
  d.lines = {"x"};
  EXPECT_EQ(BuildTextDescription(d), "Text: Arial:1:0:0::1:1:0:\"x\"");
}

TEST(TextDescription, ParsesBackWhatWasBuilt) {
  TTextParams p = Sample();
  EXPECT_EQ(ParseTextDescription(BuildTextDescription(p)), p);
  // Colons, quotes and line breaks inside lines survive.
  p.lines = {"::", "\"", "a:\"b\":c", "", ""};
  EXPECT_EQ(ParseTextDescription(BuildTextDescription(p)).lines, p.lines);
}

TEST(TextDescription, UnreadableAndMissingFieldsTakeTheDefaults) {
  TTextParams defs = Sample();
  defs.lines = {"unused"};
  TTextParams p = ParseTextDescription("Text: :x:1e999:nan::7:1,5:-:\"a\"", defs);
  EXPECT_EQ(p.font, defs.font);  // empty font name
  EXPECT_EQ(p.scale, defs.scale);
  EXPECT_EQ(p.value1, defs.value1);  // beyond single precision
  EXPECT_EQ(p.value2, defs.value2);
  EXPECT_EQ(p.style, 0);           // an empty style field is no style
  EXPECT_EQ(p.align, defs.align);  // 7 is no alignment
  EXPECT_EQ(p.value6, defs.value6);
  EXPECT_EQ(p.lineSpacing, defs.lineSpacing);
  EXPECT_EQ(p.lines, std::vector<std::string>({"a"}));

  p = ParseTextDescription("Text: Times:-2", defs);  // a picture has no negative scale
  EXPECT_EQ(p.font, "Times");
  EXPECT_EQ(p.scale, defs.scale);
  EXPECT_EQ(p.style, defs.style);
  EXPECT_TRUE(p.lines.empty());

  p = ParseTextDescription("Times: 3 :1:2:Italic:0: 2 :1.5:no quotes", defs);  // prefix optional
  EXPECT_EQ(p.scale, 3);
  EXPECT_EQ(p.style, tsItalic);
  EXPECT_EQ(p.align, taLeft);
  EXPECT_EQ(p.lines, std::vector<std::string>({"no quotes"}));
}

TEST(TextDescription, QuotesStrippedOnlyFromLongerFields) {
  auto lines = [](const char* d) { return ParseTextDescription(d).lines; };
  using V = std::vector<std::string>;
  EXPECT_EQ(lines("Text: F:1:0:0::1:1:0:\"\""), V({""}));
  EXPECT_EQ(lines("Text: F:1:0:0::1:1:0:\""), V({"\""}));
  EXPECT_EQ(lines("Text: F:1:0:0::1:1:0:\"a"), V({"a"}));
  EXPECT_EQ(lines("Text: F:1:0:0::1:1:0:\"\"a\"\""), V({"\"a\""}));
  EXPECT_EQ(lines("Text: F:1:0:0::1:1:0:"), V({""}));
}

TEST(TextDescription, DefaultsAreProcessWide) {
  TTextParams saved = DefaultTextParams();
  EXPECT_EQ(saved.font, "Arial");
  EXPECT_EQ(saved.scale, 1);
  EXPECT_EQ(saved.align, taCentre);
  EXPECT_EQ(saved.value6, 1);
  TTextParams changed = saved;
  changed.font = "DejaVu Sans";
  changed.scale = 2;
  SetDefaultTextParams(changed);
  TTextParams p = ParseTextDescription("Text: ");
  EXPECT_EQ(p.font, "DejaVu Sans");
  EXPECT_EQ(p.scale, 2);
  SetDefaultTextParams(saved);
}

TEST(VectTextKey, TakesFontStyleAndLinesAsWritten) {
  TTextParams p = DefaultTextParams();
  p.font = "F";
  p.style = tsBold;
  p.lines = {"S"};
  EXPECT_EQ(VectTextKey(BuildTextDescription(p)), "VectTxt2: F:Bold:\"<S>\"");
  p.lines = {"a:b", "C"};
  EXPECT_EQ(VectTextKey(BuildTextDescription(p)), "VectTxt2: F:Bold:\"a:b\r\n<C>\"");
  // Letter case shows in the escaped key even where names fold case.
  p.lines = {"hello"};
  std::string lower = VectTextKey(BuildTextDescription(p));
  p.lines = {"Hello"};
  std::string upper = VectTextKey(BuildTextDescription(p));
  EXPECT_NE(lower, upper);
  EXPECT_NE(FoldCase(lower), FoldCase(upper));
  EXPECT_EQ(GlyphCacheKey("F", tsItalic | tsBold), "F:Bold,Italic");
}

}  // namespace
}  // namespace lum
