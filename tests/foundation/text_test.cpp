// Text: UTF conversions, case-insensitive names, the ANSI code page and path names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/case_fold.h"
#include "foundation/code_page.h"
#include "foundation/paths.h"
#include "foundation/utf.h"

namespace lum {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

std::string Rep(int n) {
  std::string s;
  while (n--) s += kFFFD;
  return s;
}

TEST(Utf, RoundTripsIncludingSurrogatePairs) {
  const std::string text = std::string("A\0z", 3) + "é€\xEF\xBF\xBF😀\xF4\x8F\xBF\xBF";
  std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, std::u16string(u"A\0z", 3) + u"é€\xFFFF\xD83D\xDE00\xDBFF\xDFFF");
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf8ToUtf16(""), u"");
}

TEST(Utf, MalformedUtf8BecomesReplacementCharacters) {
  struct TCase {
    const char* name;
    std::string in;
    std::string out;
  };
  const TCase cases[] = {
      {"overlong 2-byte", "\xC0\xAF", Rep(2)},
      {"overlong 3-byte", "\xE0\x80\xAF", Rep(3)},
      {"overlong 4-byte", "\xF0\x80\x80\xAF", Rep(4)},
      {"lone continuation",
       "a\x80"
       "b",
       "a" + Rep(1) + "b"},
      {"truncated at the end", "ab\xE2\x82", "ab" + Rep(2)},
      {"truncated before ASCII", "\xE2\x82z", Rep(2) + "z"},
      {"truncated before a lead byte", "\xF0\x9F\xC3\xA9", Rep(2) + "é"},
      {"high surrogate", "\xED\xA0\x80", Rep(3)},
      {"low surrogate", "\xED\xBF\xBF", Rep(3)},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", Rep(4)},
      {"F5 lead", "\xF5\x80\x80\x80", Rep(4)},
      {"F8 lead", "\xF8\x88\x80\x80\x80", Rep(5)},
      {"FF byte", "x\xFF\xFE", "x" + Rep(2)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(c.in)), c.out);
  }
  // The decoder never reads past the end, whatever the last byte claims.
  for (std::string tail : {"\xC3", "\xE2\x82", "\xF0\x9F\x98"}) {
    size_t i = 0;
    EXPECT_EQ(DecodeUtf8(tail, i), U'\xFFFD');
    EXPECT_EQ(i, 1u);
  }
}

TEST(Utf, LoneUtf16SurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(u"a\xD800"
                        u"b"),
            "a" + Rep(1) + "b");
  EXPECT_EQ(Utf16ToUtf8(u"\xDC00"), Rep(1));
  EXPECT_EQ(Utf16ToUtf8(u"x\xD800"), "x" + Rep(1));
  EXPECT_EQ(Utf16ToUtf8(u"\xDC00\xD800"), Rep(2));
  EXPECT_EQ(Utf16ToUtf8(u"\xD800\xD800\xDC00"), Rep(1) + "\xF0\x90\x80\x80");
  std::string out;
  AppendUtf8(out, 0x110000);
  AppendUtf8(out, 0xDFFF);
  EXPECT_EQ(out, Rep(2));
}

TEST(Utf, Utf16LeBytes) {
  EXPECT_EQ(Utf16LeBytesToUtf8(std::string("A\0\xE9\0\x3D\xD8\x00\xDE", 8)), "Aé😀");
  // An odd last byte is dropped.
  EXPECT_EQ(Utf16LeBytesToUtf8(std::string("A\0B", 3)), "A");
  EXPECT_EQ(Utf16LeBytesToUtf8(std::string("\x3D\xD8", 2)), Rep(1));
  EXPECT_EQ(Utf16LeBytesToUtf8(std::string("x", 1)), "");
}

TEST(Utf, IsAsciiAtEveryOffset) {
  // The check runs eight bytes at a time; a high byte must be seen in every lane and in the tail.
  for (size_t len = 0; len <= 19; ++len) {
    std::string s(len, 'a');
    EXPECT_TRUE(IsAscii(s)) << len;
    for (size_t at = 0; at < len; ++at) {
      std::string t = s;
      t[at] = '\x80';
      EXPECT_FALSE(IsAscii(t)) << len << " " << at;
    }
  }
}

TEST(CaseFold, EqualNames) {
  const std::pair<std::string, std::string> equal[] = {
      {"Photos\\A.JPG", "photos\\a.jpg"},
      {"Straße", "STRASSE"},
      {"strasse", "STRAßE"},
      {"ΣΟΦΟΣ", "σοφος"},
      {"ΣΟΦΟΣ", "σοφοσ"},
      {"ПРИВЕТ мир", "привет МИР"},
      {"\u212A", "k"},
      {"abc\u212A", "ABCK"},
      {"Ärger", "äRGER"},
      {"a\xFF", "A\xFF"},
      {"\xC3", "\xC3"},
      {"", ""},
  };
  for (const auto& [a, b] : equal) {
    SCOPED_TRACE(a + " / " + b);
    EXPECT_TRUE(FoldedEquals(a, b));
    EXPECT_TRUE(FoldedEquals(b, a));
    EXPECT_EQ(FoldCase(a), FoldCase(b));
    EXPECT_EQ(FoldedHash(a), FoldedHash(b));
  }
  EXPECT_EQ(FoldCase("Straße"), "strasse");
  EXPECT_EQ(FoldCase("A\xFF"
                     "B"),
            "a\xFF"
            "b");  // malformed bytes kept as they are
}

TEST(CaseFold, DifferentNames) {
  const std::pair<std::string, std::string> different[] = {
      {"abc", "abd"},       {"abc", "abcd"},
      {"abc", "abc\u212A"}, {"straße", "strase"},
      {"é", "e"},           {"\xFF", "\xFE"},
      {"\xC3", "\xC3\xA9"}, {"a\xFF", "a"},
      {"Σ", "S"},           {"\xF4\x90\x80\x80", "\xF4\x90\x80\x81"},
  };
  for (const auto& [a, b] : different) {
    SCOPED_TRACE(a + " / " + b);
    EXPECT_FALSE(FoldedEquals(a, b));
    EXPECT_FALSE(FoldedEquals(b, a));
  }
}

TEST(CaseFold, EqualityAndHashAgreeOnMixedText) {
  // Pieces chosen so that different spellings fold alike, plus malformed bytes.
  const std::vector<std::string> pieces = {"a", "A", "ß",      "ss",   "SS",   "s", "Σ", "σ", "ς",
                                           "K", "k", "\u212A", "\xFF", "\xC3", "é", "É", "/"};
  std::mt19937 rng(42);
  std::vector<std::string> words;
  for (int i = 0; i < 400; ++i) {
    std::string w;
    int n = int(rng() % 5);
    while (n--) w += pieces[rng() % pieces.size()];
    words.push_back(w);
  }
  int equalPairs = 0;
  for (const std::string& a : words) {
    for (const std::string& b : words) {
      bool eq = FoldedEquals(a, b);
      ASSERT_EQ(eq, FoldCase(a) == FoldCase(b)) << a << " / " << b;
      if (eq) {
        ++equalPairs;
        ASSERT_EQ(FoldedHash(a), FoldedHash(b)) << a << " / " << b;
      }
    }
  }
  EXPECT_GT(equalPairs, int(words.size()));  // more than the trivial a == a pairs

  std::unordered_map<std::string, int, TFoldedHash, TFoldedEqual> names;
  names["C:\\Show\\Straße.JPG"] = 1;
  EXPECT_EQ(names.count("c:\\show\\STRASSE.jpg"), 1u);
}

// The code page is process-wide; restore the default whatever the test did.
struct TCodePageGuard {
  ~TCodePageGuard() { SetCodePage(1252); }
};

TEST(CodePage, DefaultAndSwitching) {
  TCodePageGuard guard;
  if (!std::getenv("LUM_CODEPAGE")) {
    EXPECT_EQ(CodePage(), 1252);
  }
  ASSERT_TRUE(SetCodePage(1252));
  EXPECT_EQ(AnsiToUtf8("plain"), "plain");
  EXPECT_EQ(AnsiToUtf8("\x80"), "€");
  EXPECT_EQ(AnsiToUtf8("\x81"), "\xC2\x81");
  EXPECT_EQ(AnsiToUtf8("\x9F"), "Ÿ");
  EXPECT_EQ(AnsiToUtf8("caf\xE9 \xFF"), "café ÿ");

  ASSERT_TRUE(SetCodePage(1251));
  EXPECT_EQ(CodePage(), 1251);
  EXPECT_EQ(AnsiToUtf8("\xC0\xFF"), "Ая");

  EXPECT_FALSE(SetCodePage(99999));
  EXPECT_FALSE(SetCodePage(932));  // multi-byte: a byte is not one character
  EXPECT_EQ(CodePage(), 1251);
  EXPECT_EQ(AnsiToUtf8("\xC0"), "А");

  ASSERT_TRUE(SetCodePage(28591));
  EXPECT_EQ(AnsiToUtf8("\x80\xE9"),
            "\xC2\x80"
            "é");
}

TEST(Paths, NameParts) {
  EXPECT_EQ(ExtractFileName("C:\\Photos\\a.jpg"), "a.jpg");
  EXPECT_EQ(ExtractFileName("/home/u/b.png"), "b.png");
  EXPECT_EQ(ExtractFileName("mixed/dir\\c.gif"), "c.gif");
  EXPECT_EQ(ExtractFileName("C:a.jpg"), "a.jpg");
  EXPECT_EQ(ExtractFileName("plain"), "plain");
  EXPECT_EQ(ExtractFileName("dir/"), "");

  EXPECT_EQ(ExtractFilePath("C:\\Photos\\a.jpg"), "C:\\Photos\\");
  EXPECT_EQ(ExtractFilePath("/home/u/b.png"), "/home/u/");
  EXPECT_EQ(ExtractFilePath("C:a.jpg"), "C:");
  EXPECT_EQ(ExtractFilePath("plain"), "");

  EXPECT_EQ(ExtractFileExt("C:\\Photos\\a.JPG"), ".JPG");
  EXPECT_EQ(ExtractFileExt("archive.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileExt("C:\\dir.d\\noext"), "");
  EXPECT_EQ(ExtractFileExt("dir.d/noext"), "");
  EXPECT_EQ(ExtractFileExt("C:a.jpg"), ".jpg");

  EXPECT_EQ(ChangeFileExt("/opt/show/lumviewer", ".log"), "/opt/show/lumviewer.log");
  EXPECT_EQ(ChangeFileExt("C:\\Shows\\demo.exe", ".log"), "C:\\Shows\\demo.log");
  EXPECT_EQ(ChangeFileExt("dir.d/file", ".x"), "dir.d/file.x");
  EXPECT_EQ(ChangeFileExt("a.b.c", ""), "a.b");

  EXPECT_EQ(IncludeTrailingSlash("/tmp"), "/tmp/");
  EXPECT_EQ(IncludeTrailingSlash("/tmp/"), "/tmp/");
  EXPECT_EQ(ResolveAgainst("/abs/x", "/base"), "/abs/x");
  EXPECT_EQ(ResolveAgainst("rel/x", "/base"), "/base/rel/x");
}

}  // namespace
}  // namespace lum
