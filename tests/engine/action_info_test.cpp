#include <gtest/gtest.h>

#include "project/lum_action_info.h"

namespace lum {
namespace {

TEST(ActionText, WordsMatchWholeTextInAnyCase) {
  EXPECT_EQ(ParseActionText("nextslide").type, kActionNextSlide);
  EXPECT_EQ(ParseActionText("NextSlide").type, kActionNextSlide);
  EXPECT_EQ(ParseActionText("PREVSLIDE").type, kActionPrevSlide);
  EXPECT_EQ(ParseActionText("exit").type, kActionExit);
  EXPECT_EQ(ParseActionText("closedialog").type, kActionCloseDialog);
  EXPECT_EQ(ParseActionText("changeprinter").type, kActionChangePrinter);
  // A word followed by anything is no longer the word.
  EXPECT_EQ(ParseActionText("exit ").type, kActionNone);
  EXPECT_EQ(ParseActionText("nextslides").type, kActionNone);
  EXPECT_EQ(ParseActionText("").type, kActionNone);
  EXPECT_EQ(ParseActionText("fly away").type, kActionNone);
}

TEST(ActionText, GotoSlideTakesNumbersAndNames) {
  EXPECT_EQ(ParseActionText("gotoslide(5)"), (TLumActionInfo{kActionGotoSlide, 5, "5"}));
  EXPECT_EQ(ParseActionText("GotoSlide(abc)"), (TLumActionInfo{kActionGotoSlide, -1, "abc"}));
  EXPECT_EQ(ParseActionText("gotoslide(-3)").intArg, -3);
  EXPECT_EQ(ParseActionText("gotoslide(5x)").intArg, -1);
  EXPECT_EQ(ParseActionText("gotoslide(99999999999)").intArg, -1);
  EXPECT_EQ(ParseActionText("gotoslide()"), (TLumActionInfo{kActionGotoSlide, -1, ""}));
  EXPECT_EQ(ParseActionText("gotoslide("), (TLumActionInfo{kActionGotoSlide, -1, ""}));
  EXPECT_EQ(ParseActionText("gotofirstslide"), (TLumActionInfo{kActionGotoSlide, 0, ""}));
}

TEST(ActionText, QuotedArgumentsKeepTheirCase) {
  EXPECT_EQ(ParseActionText("OpenWebSite(\"http://Example.org/A\")"),
            (TLumActionInfo{kActionOpenWebSite, 0, "http://Example.org/A"}));
  EXPECT_EQ(ParseActionText("writeemail('me@x.org')").textArg, "me@x.org");
  EXPECT_EQ(ParseActionText("runapp(\"C:\\Tools\\Run.exe -x\")"),
            (TLumActionInfo{kActionRunApp, 0, "C:\\Tools\\Run.exe -x"}));
  EXPECT_EQ(ParseActionText("runappandexit(\"a\")").type, kActionRunAppAndExit);
  EXPECT_EQ(ParseActionText("runpresentation(\"b.exe\")").type, kActionRunPresentation);
  EXPECT_EQ(ParseActionText("runpresentationandreturn(\"b.exe\")").type,
            kActionRunPresentationAndReturn);
  EXPECT_EQ(ParseActionText("opendialog(\"Order\")"),
            (TLumActionInfo{kActionOpenDialog, 0, "Order"}));
  // Whatever stands where the quotes belong is dropped; short texts give nothing.
  EXPECT_EQ(ParseActionText("opendialog(xOrderx)").textArg, "Order");
  EXPECT_EQ(ParseActionText("opendialog(\")").textArg, "");
  EXPECT_EQ(ParseActionText("opendialog(").textArg, "");
  EXPECT_EQ(ParseActionText("opendialog").type, kActionNone);
}

}  // namespace
}  // namespace lum
