#include "document/ini_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "document/ini_file.h"

namespace lum {
namespace {

TEST(IniValues, Integers) {
  EXPECT_EQ(ValueToInt("42", -1), 42);
  EXPECT_EQ(ValueToInt("   +42", -1), 42);
  EXPECT_EQ(ValueToInt("\b -17", -1), -17);
  EXPECT_EQ(ValueToInt("007", -1), 7);
  EXPECT_EQ(ValueToInt("-0", -1), 0);
  EXPECT_EQ(ValueToInt("-2147483648", -1), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ValueToInt("2147483647", -1), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ValueToInt("0000000000002147483647", -1), std::numeric_limits<int32_t>::max());

  for (const char* bad :
       {"", " ", "+", "-", "12a", "a12", "1 2", "12 ", "\t12", "+-1", "--1", "1.0", "0x10",
        "2147483648", "-2147483649", "99999999999", "99999999999999999999999"}) {
    EXPECT_EQ(ValueToInt(bad, -99), -99) << '"' << bad << '"';
  }

  EXPECT_EQ(ValueToInt64("9223372036854775807", -1), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ValueToInt64("-9223372036854775808", -1), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(ValueToInt64("  -99999999999", -1), -99999999999);
  EXPECT_EQ(ValueToInt64("9223372036854775808", -1), -1);
  EXPECT_EQ(ValueToInt64("-9223372036854775809", -1), -1);
  EXPECT_EQ(ValueToInt64("18446744073709551616", -1), -1);
  EXPECT_EQ(ValueToInt64("12a", -1), -1);

  EXPECT_EQ(IntToValue(-2147483648LL), "-2147483648");
  EXPECT_EQ(IntToValue(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(ValueToInt64(IntToValue(std::numeric_limits<int64_t>::min()), 0),
            std::numeric_limits<int64_t>::min());
}

TEST(IniValues, FloatingPoint) {
  EXPECT_EQ(ValueToFloat("1.5E2", -1), 150.0);
  EXPECT_EQ(ValueToFloat("1.5e2", -1), 150.0);
  EXPECT_EQ(ValueToFloat(".5", -1), 0.5);
  EXPECT_EQ(ValueToFloat("5.", -1), 5.0);
  EXPECT_EQ(ValueToFloat("  +3", -1), 3.0);
  EXPECT_DOUBLE_EQ(ValueToFloat("-0.25e-1", -1), -0.025);
  EXPECT_EQ(ValueToFloat("2e+3", -1), 2000.0);
  EXPECT_EQ(ValueToFloat("1e-400", -1), 0.0);  // too small to hold reads as zero

  for (const char* bad : {"",       " ",
                          ".",      "-",
                          "+.",     "1,5",
                          "1.2.3",  "1e",
                          "1e+",    "1e-",
                          "1e 2",   "1E2.5",
                          "e5",     "1x",
                          "1.5 ",   "inf",
                          "nan",    "0x1p3",
                          "--1",    "1e400",
                          "-1e400", "99999999999999999999e300"}) {
    EXPECT_EQ(ValueToFloat(bad, -7.5), -7.5) << '"' << bad << '"';
  }

  // The separator is "." whatever the locale.
  EXPECT_EQ(FloatToValue(0.5), "0.5");
  EXPECT_EQ(FloatToValue(-150), "-150");
  EXPECT_EQ(FloatToValue(0.1), "0.1");
  EXPECT_EQ(FloatToValue(1.0 / 3), "0.3333333333333333");
}

TEST(IniValues, FloatsSurviveWritingAndReadingBack) {
  const std::vector<double> values = {0.0,
                                      1.0,
                                      -2.5,
                                      0.1,
                                      1.0 / 3,
                                      2.0 / 3,
                                      1e-300,
                                      1.5e300,
                                      123456.789,
                                      -9.87654321e-7,
                                      3.141592653589793,
                                      4e16,
                                      25.4 / 96.0,
                                      1e21};
  for (double v : values) {
    std::string text = FloatToValue(v);
    double back = ValueToFloat(text, std::nan(""));
    ASSERT_FALSE(std::isnan(back)) << text;
    EXPECT_NEAR(back, v, std::fabs(v) * 1e-15) << text;
    // Sixteen digits are a fixed point after the first round.
    EXPECT_EQ(FloatToValue(back), text);
  }
}

TEST(IniValues, BooleansChoicesAndLists) {
  EXPECT_TRUE(ValueToBool("1", false));
  EXPECT_FALSE(ValueToBool("0", true));
  for (const char* other : {"true", "false", "TRUE", "yes", "", " 1", "01", "2", "-1"}) {
    EXPECT_TRUE(ValueToBool(other, true)) << other;
    EXPECT_FALSE(ValueToBool(other, false)) << other;
  }
  EXPECT_EQ(BoolToValue(true), "1");
  EXPECT_EQ(BoolToValue(false), "0");

  EXPECT_EQ(ValueToChoice("Fade", {"Cut", "Fade", "fade"}, true, -1), 1);
  EXPECT_EQ(ValueToChoice("fade", {"Cut", "Fade", "fade"}, true, -1), 2);
  EXPECT_EQ(ValueToChoice("FADE", {"Cut", "Fade"}, true, -1), -1);
  EXPECT_EQ(ValueToChoice("FADE", {"Cut", "Fade", "fade"}, false, -1), 1);
  EXPECT_EQ(ValueToChoice("ÜBER", {"über"}, false, -1), 0);
  EXPECT_EQ(ValueToChoice("", {"a"}, false, 5), 5);

  EXPECT_EQ(SplitValue("a,b,,c"), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(SplitValue("a,"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitValue(" x ; y ", ';'), (std::vector<std::string>{" x ", " y "}));
  EXPECT_EQ(SplitValue("one"), (std::vector<std::string>{"one"}));
  EXPECT_TRUE(SplitValue("").empty());
}

TEST(IniValues, ReadThroughTheDocument) {
  TIniFile doc;
  doc.LoadText(
      "[S]\r\n"
      "int=  -12\r\n"
      "bad=12a\r\n"
      "big=99999999999\r\n"
      "float=1.5E2\r\n"
      "comma=1,5\r\n"
      "bool=true\r\n"
      "choice=Wipe\r\n"
      "list=a, b,c\r\n");
  const TIniList* s = doc.Section("S");
  EXPECT_EQ(ReadInteger(s, "INT", 1), -12);
  EXPECT_EQ(ReadInteger(s, "bad", 1), 1);
  EXPECT_EQ(ReadInteger(s, "big", 1), 1);
  EXPECT_EQ(ReadInt64(s, "big", 1), 99999999999);
  EXPECT_EQ(ReadInteger(s, "missing", 3), 3);
  EXPECT_EQ(ReadFloat(s, "float", 0), 150.0);
  EXPECT_EQ(ReadFloat(s, "comma", 2.5), 2.5);
  EXPECT_FALSE(ReadBool(s, "bool", false));
  EXPECT_TRUE(doc.ReadBool("S", "bool", true));
  EXPECT_EQ(ReadChoice(s, "choice", {"Fade", "wipe"}, false, -1), 1);
  EXPECT_EQ(ReadChoice(s, "choice", {"Fade", "wipe"}, true, -1), -1);
  EXPECT_EQ(ReadList(s, "list"), (std::vector<std::string>{"a", " b", "c"}));
  EXPECT_EQ(ReadString(s, "missing", "dflt"), "dflt");

  doc.WriteInteger("S", "int", std::numeric_limits<int64_t>::min());
  doc.WriteFloat("S", "float", -0.025);
  doc.WriteBool("S", "bool", false);
  EXPECT_EQ(ReadInt64(s, "int", 0), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(doc.ReadString("S", "float", ""), "-0.025");
  EXPECT_EQ(doc.ReadFloat("S", "float", 0), -0.025);
  EXPECT_EQ(doc.ReadString("S", "bool", ""), "0");
}

}  // namespace
}  // namespace lum
