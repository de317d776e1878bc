// Dialog templates: design pixels scaled by dpi, the dialog font's size,
// centring over an owner, and the password prompt's items and texts.
#include <gtest/gtest.h>

#include "ui/dialog_template.h"
#include "ui/password_dialog.h"

namespace lum {
namespace {

TEST(DialogTemplate, DesignPixelsScaleByDpiAndRound) {
  EXPECT_EQ(ScaleDesign(244, 96), 244);
  EXPECT_EQ(ScaleDesign(12, 120), 15);
  EXPECT_EQ(ScaleDesign(98, 120), 123);  // 122.5 rounds up, as MulDiv does
  EXPECT_EQ(ScaleDesign(75, 120), 94);
  EXPECT_EQ(ScaleDesign(25, 120), 31);
  EXPECT_EQ(ScaleDesign(75, 144), 113);
  EXPECT_EQ(ScaleDesign(-10, 120), -13);
  EXPECT_EQ(ScaleDesign(100, 0), 100);  // unknown dpi: design size
}

TEST(DialogTemplate, FontIsEightPointsAndNineAt120Dpi) {
  EXPECT_EQ(DialogFontPoints(96), 8);
  EXPECT_EQ(DialogFontPoints(120), 9);
  EXPECT_EQ(DialogFontPoints(144), 8);
  EXPECT_NEAR(DialogFontPixels(96), 10.667, 0.001);
  EXPECT_NEAR(DialogFontPixels(120), 15.0, 0.001);
  EXPECT_NEAR(DialogFontPixels(144), 16.0, 0.001);
}

TEST(DialogTemplate, CentredOverTheOwnerAndKeptOnTheScreen) {
  const TScreenRect screen{0, 0, 1920, 1080};
  int x = 0, y = 0;
  CentreWindow({100, 100, 900, 700}, 260, 98, screen, x, y);
  EXPECT_EQ(x, 370);
  EXPECT_EQ(y, 351);
  // An owner hanging off the right and bottom edges: the dialog stays visible.
  CentreWindow({1800, 1000, 2200, 1200}, 260, 98, screen, x, y);
  EXPECT_EQ(x, 1660);
  EXPECT_EQ(y, 982);
  // Larger than the screen: its top-left corner stays on it.
  CentreWindow(screen, 3000, 2000, screen, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  // A second monitor to the left.
  CentreWindow({-1280, 0, 0, 1024}, 260, 98, {-1280, 0, 0, 1024}, x, y);
  EXPECT_EQ(x, -770);
  EXPECT_EQ(y, 463);
}

TEST(PasswordTemplate, ItemsAt96And120Dpi) {
  TIniFile doc;
  const TDialogTemplate t = TLumPasswordDialog::Template(doc);
  EXPECT_EQ(t.width, 260);
  EXPECT_EQ(t.height, 98);
  ASSERT_EQ(t.items.size(), 4u);
  struct TExpected {
    int id;
    TDialogItemKind kind;
    TScreenRect at96, at120;
  };
  const TExpected expected[] = {
      {TLumPasswordDialog::kLabelId, TDialogItemKind::Static, {12, 12, 256, 28}, {15, 15, 320, 35}},
      {TLumPasswordDialog::kEditId, TDialogItemKind::Edit, {12, 32, 248, 53}, {15, 40, 310, 66}},
      {kIdOk, TDialogItemKind::Button, {52, 62, 127, 87}, {65, 78, 159, 109}},
      {kIdCancel, TDialogItemKind::Button, {133, 62, 208, 87}, {166, 78, 260, 109}},
  };
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(t.items[i].id, expected[i].id);
    EXPECT_EQ(t.items[i].kind, expected[i].kind);
    EXPECT_EQ(ScaledItemRect(t.items[i], 96), expected[i].at96);
    EXPECT_EQ(ScaledItemRect(t.items[i], 120), expected[i].at120);
  }
  EXPECT_TRUE(t.items[1].masked);
  EXPECT_TRUE(t.items[2].defaultButton);
  EXPECT_FALSE(t.items[3].defaultButton);
}

TEST(PasswordTemplate, TextsComeFromTheMainSectionWithDefaults) {
  TIniFile empty;
  TDialogTemplate t = TLumPasswordDialog::Template(empty);
  EXPECT_EQ(t.caption, "Password required");
  EXPECT_EQ(t.items[0].text, "Enter password:");
  EXPECT_EQ(t.items[1].text, "");
  EXPECT_EQ(t.items[2].text, "OK");
  EXPECT_EQ(t.items[3].text, "Cancel");

  TIniFile doc;
  doc.LoadText(
      "[Main]\r\nOPT_LNG_PASSWORD_CAPTION=Kennwort erforderlich\r\n"
      "opt_lng_password_label=Kennwort eingeben:\r\nopt_lng_button_ok=Weiter\r\n"
      "opt_lng_button_cancel=Abbrechen\r\n[Other]\r\nopt_lng_button_ok=wrong section\r\n");
  t = TLumPasswordDialog::Template(doc);
  EXPECT_EQ(t.caption, "Kennwort erforderlich");
  EXPECT_EQ(t.items[0].text, "Kennwort eingeben:");
  EXPECT_EQ(t.items[2].text, "Weiter");
  EXPECT_EQ(t.items[3].text, "Abbrechen");
}

}  // namespace
}  // namespace lum
