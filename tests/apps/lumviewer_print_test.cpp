// The print dialog in the player, driven through the control socket as a
// user would: the show pauses while it is open, Save writes the main JPEG
// unchanged or the frame as a BMP into the pictures folder, an existing file
// is replaced only after a Yes, and a missing print server is told.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "foundation/paths.h"
#include "imaging/image_fixtures.h"
#include "support/player_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPlayer;
using test::TTempDir;

// Two 320 x 240 slides of a minute; the first names a JPEG as its picture.
std::string Show() {
  return "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
         "opt_withoutborder=1\nCanRestore=1\nopt_lng_print_button7=Main Picture Only\n"
         "[Times]\nopt_slidescount=2\nopt_synchpos1=60000\nopt_synchpos2=120000\n"
         "[Slide1]\nPicture=C:\\Shots\\Photo.JPG\nbstyle=1\nbcolor=255\n"
         "[Slide2]\nbstyle=1\nbcolor=0\n";
}

class LumviewerPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("s/Project.lum", Show());
    const std::string ppm = dir.Write("photo.ppm", test::WritePpm(test::MakeTestPicture(40, 30)));
    test::RunTool({"cjpeg", "-quality", "90", "-outfile", dir / "s/Photo.JPG", ppm});
    jpeg = test::ReadFile(dir / "s/Photo.JPG");
    ASSERT_TRUE(ForceDirectories(dir / "pics"));
    ASSERT_TRUE(ForceDirectories(dir / "home"));
    dir.Write("config/user-dirs.dirs", "XDG_PICTURES_DIR=\"" + (dir / "pics") + "\"\n");
    // Nothing listens there: printing must say so, not hang.
    player = std::make_unique<TPlayer>(
        dir.Path(), dir / "s/Project.lum", std::vector<std::string>{},
        std::vector<std::string>{"HOME=" + (dir / "home"), "XDG_CONFIG_HOME=" + (dir / "config"),
                                 "CUPS_SERVER=127.0.0.1:9"});
    std::string error;
    ASSERT_TRUE(player->Start(&error)) << error;
    bool met = false;
    player->WaitFor([](const json& s) { return s["framesDrawn"].get<int>() > 3; }, 5000, &met);
  }

  void Key(const std::string& key, const std::vector<std::string>& mods = {}) {
    json r{{"command", "key"}, {"key", key}};
    if (!mods.empty()) r["mods"] = mods;
    ASSERT_EQ(player->Request(r)["ok"], true) << key;
  }
  // The status once the open dialog has this caption (null: none open).
  json Dialog(const json& caption) {
    bool met = false;
    const json s = player->WaitFor(
        [&](const json& st) {
          return caption.is_null() ? st["dialog"].is_null()
                                   : st["dialog"].is_object() && st["dialog"]["caption"] == caption;
        },
        5000, &met);
    EXPECT_TRUE(met) << "waiting for " << caption << ": " << s.dump();
    return s;
  }
  json OpenPrintDialog() {
    EXPECT_EQ(player->Request({{"command", "action"}, {"text", "print"}})["ok"], true);
    return Dialog("Print");
  }
  // Print dialog: Tab reaches Save, then the check box.
  void SaveAs(bool mainOnly) {
    OpenPrintDialog();
    Key("tab");
    if (mainOnly) {
      Key("tab");
      Key("space");
      Key("tab", {"shift"});
    }
    Key("return");
  }

  TTempDir dir;
  std::string jpeg;
  std::unique_ptr<TPlayer> player;
};

TEST_F(LumviewerPrint, PrintDialogPausesSavesAndTellsAboutPrinting) {
  // The dialog with the show's texts; the show pauses while it is open.
  json s = OpenPrintDialog();
  EXPECT_EQ(s["dialog"]["texts"], json({"Print", "Save", "Main Picture Only", "Change Printer"}));
  EXPECT_EQ(s["paused"], true);

  // Change Printer opens the selection over it, which says there is no server.
  for (int i = 0; i < 3; ++i) Key("tab");
  Key("return");
  s = Dialog("Select Printer");
  EXPECT_NE(s["dialog"]["texts"][0].get<std::string>().find("No print server"), std::string::npos);
  Key("escape");
  Dialog("Print");
  Key("escape");
  EXPECT_EQ(Dialog(nullptr)["paused"], false) << "the pause state comes back";
  // The change-printer action is not the main window's: nothing opens.
  ASSERT_EQ(player->Request({{"command", "action"}, {"text", "changeprinter"}})["ok"], true);
  EXPECT_TRUE(Dialog(nullptr)["dialog"].is_null());

  // Save with the box: the JPEG's bytes, under its own name.
  EXPECT_EQ(Dialog(nullptr)["paused"], false) << "the pause state comes back";
  SaveAs(true);
  s = Dialog("Save As");
  EXPECT_EQ(s["dialog"]["texts"][1], dir / "pics/Photo.JPG");
  Key("return");
  EXPECT_EQ(Dialog(nullptr)["paused"], false);
  EXPECT_EQ(test::ReadFile(dir / "pics/Photo.JPG"), jpeg);

  // Without the box: the frame as Slide1.bmp.
  SaveAs(false);
  s = Dialog("Save As");
  EXPECT_EQ(s["dialog"]["texts"][1], dir / "pics/Slide1.bmp");
  EXPECT_NE(s["dialog"]["texts"][2].get<std::string>().find("*.bmp"), std::string::npos);
  Key("return");
  Dialog(nullptr);
  const std::string frame = test::ReadFile(dir / "pics/Slide1.bmp");
  ASSERT_GT(frame.size(), 54u);
  EXPECT_EQ(frame.substr(0, 2), "BM");
  EXPECT_EQ(uint8_t(frame[18]) | uint8_t(frame[19]) << 8, 320) << "the window's width";

  // A typed name without extension that exists: replaced only after Yes.
  dir.Write("pics/Slide1.bmp", "old");
  SaveAs(false);
  Dialog("Save As");
  for (int i = 0; i < 10; ++i) Key("backspace");
  ASSERT_EQ(player->Request({{"command", "type"}, {"text", "Slide1"}})["ok"], true);
  Key("return");
  s = Dialog("Confirm Save As");
  EXPECT_NE(s["dialog"]["texts"][0].get<std::string>().find("Slide1.bmp"), std::string::npos);
  Key("return");  // No is the default
  Dialog("Save As");
  EXPECT_EQ(test::ReadFile(dir / "pics/Slide1.bmp"), "old");
  Key("return");
  Dialog("Confirm Save As");
  Key("tab");  // to Yes
  Key("return");
  Dialog(nullptr);
  EXPECT_EQ(test::ReadFile(dir / "pics/Slide1.bmp").substr(0, 2), "BM");

  // Print without a server: a message, the pause state kept as it was.
  ASSERT_EQ(player->Request({{"command", "pause"}})["ok"], true);
  OpenPrintDialog();
  const auto start = std::chrono::steady_clock::now();
  Key("return");
  bool met = false;
  s = player->WaitFor([](const json& st) { return !st["messages"].empty(); }, 5000, &met);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  ASSERT_TRUE(met) << s.dump();
  EXPECT_NE(s["messages"].back().get<std::string>().find("No print server"), std::string::npos);
  Key("return");  // closes the message
  EXPECT_EQ(Dialog(nullptr)["paused"], true);
  EXPECT_EQ(player->Stop(), 0);
}

}  // namespace
}  // namespace lum
