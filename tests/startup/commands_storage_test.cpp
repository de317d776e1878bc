// The command line: tokens, quotes, switches and their values, hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "startup/commands_storage.h"

namespace lum {
namespace {

using Tokens = std::vector<std::string>;

TEST(CommandsStorage, QuotedPathWithBlanksThenSlide) {
  TCommandsStorage c(R"(C:\Player\player.exe "C:\My Shows\Trip 2020.exe" -slide 3)");
  EXPECT_EQ(c.Value(""), R"(C:\Player\player.exe)");
  EXPECT_EQ(c.Value("", 1), R"(C:\My Shows\Trip 2020.exe)");
  EXPECT_EQ(c.IntValue("slide", 0, 0), 3);
  // An open-show action's text: the show's path is value 0.
  TCommandsStorage action(R"("/home/u/My Shows/b.lumshow"   -slide 3)");
  EXPECT_EQ(action.Value(""), "/home/u/My Shows/b.lumshow");
  EXPECT_EQ(action.IntValue("slide", 0, 0), 3);
  EXPECT_FALSE(action.Value("", 1));
}

TEST(CommandsStorage, QuotesToggleAndAreRemovedEverywhere) {
  EXPECT_EQ(TokenizeCommandLine(R"(a"b c"d e)"), (Tokens{"ab cd", "e"}));
  EXPECT_EQ(TokenizeCommandLine(R"("" x "a""b")"), (Tokens{"", "x", "ab"}));
  // An unbalanced quote runs to the end of the line.
  TCommandsStorage c(R"(prog "unterminated -slide 3)");
  EXPECT_EQ(c.Tokens(), (Tokens{"prog", "unterminated -slide 3"}));
  EXPECT_FALSE(c.HasSwitch("slide"));
  // A quoted switch is still a switch.
  EXPECT_EQ(TCommandsStorage(R"(p "-slide" 4)").IntValue("slide", 0, 0), 4);
}

TEST(CommandsStorage, EveryControlCharacterSeparatesButNotUtf8) {
  EXPECT_EQ(TokenizeCommandLine("a\tb\r\nc\x01"
                                "d\x1f e \x7f"),
            (Tokens{"a", "b", "c", "d", "e", "\x7f"}));
  EXPECT_EQ(TokenizeCommandLine("\xC3\xA9t\xC3\xA9 \"\xE2\x82\xAC x\""),
            (Tokens{"\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC x"}));
  EXPECT_TRUE(TokenizeCommandLine("  \t\r\n ").empty());
}

TEST(CommandsStorage, SwitchesWithoutValuesAndRepeatedSwitches) {
  TCommandsStorage c("prog -filelog -resize show.lumshow -slide 2 -slide 5 -Slide 9 - x");
  EXPECT_TRUE(c.HasSwitch("filelog"));
  EXPECT_FALSE(c.Value("filelog"));
  EXPECT_EQ(c.IntValue("filelog", 0, -7), -7);
  // A value belongs to the switch before it, even one that takes none.
  EXPECT_EQ(c.Value("resize"), "show.lumshow");
  EXPECT_EQ(c.Value("slide", 1), "5");
  // Names are case-sensitive; a lone "-" goes back to the empty name.
  EXPECT_EQ(c.IntValue("Slide", 0, 0), 9);
  EXPECT_EQ(c.Value("", 1), "x");
  EXPECT_FALSE(c.HasSwitch("time"));
  EXPECT_FALSE(c.Find("time"));
  ASSERT_EQ(c.Switches().size(), 5u);
  EXPECT_EQ(c.Switches()[1].name, "filelog");
}

TEST(CommandsStorage, NumbersAreStrictDecimals) {
  TCommandsStorage c(
      "p -a abc -b 3x -c \"\" -d 99999999999999999999 -e -2 -f +7 -g 0x10 -h +-1 -i 012");
  EXPECT_EQ(c.IntValue("a", 0, 1), 1);
  EXPECT_EQ(c.IntValue("b", 0, 1), 1);
  EXPECT_EQ(c.IntValue("c", 0, 1), 1);  // empty token is no value
  EXPECT_EQ(c.IntValue("d", 0, 1), 1);
  EXPECT_EQ(c.IntValue("e", 0, 1), 1);  // "-2" is a switch of its own
  EXPECT_EQ(c.IntValue("2", 0, 1), 1);
  EXPECT_EQ(c.IntValue("f", 0, 1), 7);
  EXPECT_EQ(c.IntValue("g", 0, 1), 1);
  EXPECT_EQ(c.IntValue("h", 0, 1), 1);
  EXPECT_EQ(c.IntValue("i", 0, 1), 12);
  EXPECT_EQ(ParseDecimal("-2"), -2);
  EXPECT_EQ(ParseDecimal("9223372036854775807"), INT64_MAX);
  EXPECT_FALSE(ParseDecimal(" 1"));
}

TEST(CommandsStorage, RawTokensMatchExactly) {
  TCommandsStorage c(R"(scr.exe "/s" -startup 1234)");
  EXPECT_TRUE(c.HasRawToken("/s"));
  EXPECT_FALSE(c.HasRawToken("/S"));
  EXPECT_TRUE(c.HasRawToken("-startup"));
  EXPECT_FALSE(c.HasRawToken("startup"));
  EXPECT_EQ(c.Tokens().back(), "1234");
  EXPECT_TRUE(TCommandsStorage("scr.exe /S").HasRawToken("/S"));
}

TEST(CommandsStorage, ArgumentsAreTokensAsGiven) {
  const char* argv[] = {
      "/usr/bin/lumviewer", "/tmp/My Show.lumshow", "-slide", "3", "say \"hi\"", ""};
  TCommandsStorage c(6, argv);
  EXPECT_EQ(c.Value(""), "/usr/bin/lumviewer");
  EXPECT_EQ(c.Value("", 1), "/tmp/My Show.lumshow");
  EXPECT_EQ(c.IntValue("slide", 0, 0), 3);
  EXPECT_EQ(c.Value("slide", 1), "say \"hi\"");
  EXPECT_EQ(c.Tokens().size(), 6u);
  EXPECT_TRUE(c.HasRawToken("/tmp/My Show.lumshow"));
  TCommandsStorage v(std::vector<std::string>{"p", "a b"});
  EXPECT_EQ(v.Value("", 1), "a b");
}

TEST(CommandsStorage, HundredThousandTokensStayLinear) {
  std::string line = "prog";
  for (int i = 0; i < 50000; ++i) line += " -s" + std::to_string(i) + " v";
  TCommandsStorage many(line);
  EXPECT_EQ(many.Tokens().size(), 100001u);
  EXPECT_EQ(many.Switches().size(), 50001u);
  EXPECT_EQ(many.Value("s49999"), "v");
  // One switch with 100,000 values, and a line of nothing but quotes.
  std::string values = "prog -x";
  for (int i = 0; i < 100000; ++i) values += " 1";
  EXPECT_EQ(TCommandsStorage(values).Find("x")->items.size(), 100000u);
  EXPECT_EQ(TokenizeCommandLine(std::string(200001, '"')).size(), 1u);
  EXPECT_EQ(TokenizeCommandLine(std::string(200000, ' ')).size(), 0u);
}

TEST(CommandsStorage, EmptyLine) {
  TCommandsStorage c("");
  EXPECT_TRUE(c.Tokens().empty());
  EXPECT_FALSE(c.Value(""));
  EXPECT_FALSE(c.HasRawToken(""));
}

}  // namespace
}  // namespace lum
