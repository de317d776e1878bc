// The consent dialog shows a stranger's command line: nothing in it may hide,
// fake or reorder a line of what the user agrees to.
#include <gtest/gtest.h>

#include "ui/consent_dialog.h"

namespace lum {
namespace {

TEST(ConsentDialog, ShowTextCannotHideOrReorderWhatRuns) {
  const struct {
    std::string in, shown;
  } cases[] = {
      {"/usr/bin/tool", "/usr/bin/tool"},
      {"a\x1b[2Jb", "a\\x1b[2Jb"},                          // clears a terminal
      {"line\nProgram: /bin/true", "line\\x0aProgram: /bin/true"},  // a faked second line
      {"x\xc2\x9b" "1m", "x\\u009b1m"},                     // C1 introducer
      {"evil\xe2\x80\xaetxt.sh", "evil\\u{202E}txt.sh"},   // right-to-left override
      {"zero\xe2\x80\x8bwidth", "zero\\u{200B}width"},
      {"caf\xc3\xa9 \xe6\x97\xa5", "caf\xc3\xa9 \xe6\x97\xa5"},  // ordinary letters stay
      {"cut\xe2\x80", "cut\\xe2\\x80"},                      // a broken sequence
  };
  for (const auto& c : cases) EXPECT_EQ(VisibleText(c.in), c.shown) << c.in;
  EXPECT_EQ(ArgumentsText({"-a", "two words", "", "say \"hi\""}),
            "-a \"two words\" \"\" \"say \\\"hi\\\"\"");
}

TEST(ConsentDialog, DontRunIsTheDefaultAndLongListsAreCounted) {
  std::vector<TConsentItem> items(kConsentShownItems + 2, {"/usr/bin/tool", {"x"}});
  items[0].arguments.assign(1, std::string(kConsentLineChars * 10, 'a'));
  const TDialogTemplate t = TLumConsentDialog::Template(items);
  int defaults = 0;
  bool dontRunDefault = false, counted = false, argumentsCut = false;
  for (const TDialogItem& item : t.items) {
    if (item.defaultButton) {
      ++defaults;
      dontRunDefault = item.id == TLumConsentDialog::kDontRunId;
    }
    counted |= item.text.find("2 more") != std::string::npos;
    argumentsCut |= item.text.find("more characters of arguments not shown") != std::string::npos;
    EXPECT_LE(item.text.size(), kConsentLineChars + 16) << item.text;
  }
  EXPECT_EQ(defaults, 1);
  EXPECT_TRUE(dontRunDefault);
  EXPECT_TRUE(counted);
  EXPECT_TRUE(argumentsCut);
}

}  // namespace
}  // namespace lum
