// The print dialog's layout and texts, the save rules (what is written under
// which name), the pictures folder, typed save paths and the printer list.
#include <gtest/gtest.h>

#include "foundation/memory_stream.h"
#include "foundation/paths.h"
#include "imaging/image_fixtures.h"
#include "support/temp_dir.h"
#include "ui/print_dialog.h"
#include "ui/printer_dialog.h"
#include "ui/printing.h"
#include "ui/save_dialog.h"

namespace lum {
namespace {

using test::TPixels;
using test::TRgb;
using test::TTempDir;

std::unique_ptr<TIniFile> Document(const std::string& text) {
  auto doc = std::make_unique<TIniFile>();
  doc->LoadText(text);
  return doc;
}

const TDialogItem* Item(const TDialogTemplate& t, int id) {
  for (const TDialogItem& item : t.items)
    if (item.id == id) return &item;
  return nullptr;
}

// A slide whose main picture is the given file, and a captured frame.
class TFakeSource : public TPrintPictureSource {
 public:
  std::string name, bytes;
  TRef<TBitmap> frame;
  TRef<TBitmap> MainPicture() override {
    TRef<TImage> image = test::Load(bytes, name);
    return image ? image->GetMipLevel(0, TPixelFormat::Bgra32) : nullptr;
  }
  TRef<TBitmap> CapturedFrame() override { return frame; }
  std::unique_ptr<TStream> MainPictureFile(std::string& n) override {
    n = name;
    return name.empty() ? nullptr : std::make_unique<TMemoryStream>(bytes);
  }
};

// The picture a saved BMP holds, as an independent tool reads it.
TPixels ReadWithTool(const TTempDir& dir, const std::string& bytes) {
  const std::string path = dir.Write("saved.bmp", bytes);
  return test::ReadPnm(test::RunTool({"convert", path, "ppm:-"}));
}

TEST(PrintDialog, TemplateFollowsTheTableAndTheShowsTexts) {
  const auto plain = TLumPrintDialog::Template(*Document("[Main]\n"));
  EXPECT_EQ(plain.caption, "Print");
  EXPECT_EQ(plain.width, 282);
  EXPECT_EQ(plain.height, 86);
  EXPECT_EQ(Item(plain, TLumPrintDialog::kSaveId), nullptr) << "no Save without CanRestore";
  struct TExpected {
    int id, x, y;
    const char* text;
  };
  for (const TExpected& e : {TExpected{1001, 12, 12, "Print"},
                             {1003, 145, 49, "Only Main Image"},
                             {1000, 12, 49, "Change Printer"}}) {
    const TDialogItem* item = Item(plain, e.id);
    ASSERT_NE(item, nullptr) << e.text;
    EXPECT_EQ(item->x, e.x) << e.text;
    EXPECT_EQ(item->y, e.y) << e.text;
    EXPECT_EQ(item->width, 125) << e.text;
    EXPECT_EQ(item->height, 25) << e.text;
    EXPECT_EQ(item->text, e.text);
  }
  EXPECT_EQ(Item(plain, 1003)->kind, TDialogItemKind::CheckBox);

  const auto own = TLumPrintDialog::Template(
      *Document("[Main]\nCanRestore=1\nopt_lng_print_caption=Drucken\nopt_lng_print_label=Drucker\n"
                "opt_lng_print_button5=Los\nopt_lng_print_button6=Sichern\n"
                "opt_lng_print_button7=Nur Bild\n"));
  EXPECT_EQ(own.caption, "Drucken");
  const TDialogItem* save = Item(own, TLumPrintDialog::kSaveId);
  ASSERT_NE(save, nullptr);
  EXPECT_EQ(save->x, 145);
  EXPECT_EQ(save->y, 12);
  EXPECT_EQ(save->text, "Sichern");
  EXPECT_EQ(Item(own, 1001)->text, "Los");
  EXPECT_EQ(Item(own, 1003)->text, "Nur Bild");
  EXPECT_EQ(Item(own, 1000)->text, "Drucker");
}

TEST(PrintDialog, OrientationFollowsTheAspect) {
  EXPECT_TRUE(PrintLandscape(201, 200));
  EXPECT_FALSE(PrintLandscape(200, 200));
  EXPECT_FALSE(PrintLandscape(100, 300));
}

TEST(PrintDialog, JpegMainPicturesAreSavedByteForByte) {
  TFakeSource source;
  // Not a decodable JPEG: what is saved must not depend on decoding it.
  source.bytes = std::string("\xFF\xD8\xFF\xE0 not decoded \0\x01\xFF\xD9", 20);
  for (const char* stored : {"C:\\Photos\\Trip\\IMG01.JPG", "shots/b.jpeg", "c.Jpe", "d.JFIF"}) {
    source.name = stored;
    std::string error;
    const auto content = SaveContent(source, true, 0, error);
    ASSERT_TRUE(content) << stored << ": " << error;
    EXPECT_EQ(content->bytes, source.bytes) << stored;
    const std::string ext = content->name.substr(content->name.rfind('.') + 1);
    EXPECT_EQ(content->defaultExt, ext);
    EXPECT_EQ(content->filter, "*." + ext);
  }
  source.name = "C:\\Photos\\Trip\\IMG01.JPG";
  std::string error;
  EXPECT_EQ(SaveContent(source, true, 0, error)->name, "IMG01.JPG");
}

TEST(PrintDialog, OtherMainPicturesAreSavedAsBmpOfTheDecodedPicture) {
  TTempDir dir;
  TFakeSource source;
  // 3 x 2 RGB PNG: the first row red, green, blue, the second grey levels.
  source.bytes = test::WritePngBytes(
      3, 2, 2, 8, {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 10, 10, 128, 128, 128, 250, 250, 250});
  source.name = "C:\\Pics\\Sunset.Png";
  std::string error;
  const auto content = SaveContent(source, true, 4, error);
  ASSERT_TRUE(content) << error;
  EXPECT_EQ(content->name, "Sunset.bmp");
  EXPECT_EQ(content->defaultExt, "bmp");
  EXPECT_EQ(content->filter, "*.bmp");
  ASSERT_EQ(content->bytes.substr(0, 2), "BM");
  const TPixels saved = ReadWithTool(dir, content->bytes);
  ASSERT_EQ(saved.width, 3);
  ASSERT_EQ(saved.height, 2);
  EXPECT_EQ(saved.At(0, 0), (TRgb{255, 0, 0}));
  EXPECT_EQ(saved.At(2, 0), (TRgb{0, 0, 255}));
  EXPECT_EQ(saved.At(1, 1), (TRgb{128, 128, 128}));

  // An unreadable picture: nothing to write, and a reason.
  source.bytes = "not a picture at all";
  error.clear();
  EXPECT_FALSE(SaveContent(source, true, 4, error));
  EXPECT_NE(error.find("Sunset.Png"), std::string::npos) << error;
}

TEST(PrintDialog, WithoutTheBoxOrAMainPictureTheFrameIsSavedAsSlideN) {
  TTempDir dir;
  TFakeSource source;
  source.name = "a.jpg";
  source.bytes = "jpeg bytes";
  source.frame = MakeRef<TBitmap>(5, 3, TPixelFormat::Bgra32);
  source.frame->Fill(10, 200, 30);
  source.frame->Row(2)[4 * 4 + 2] = 99;  // bottom right pixel's red
  std::string error;
  for (bool mainOnly : {false, true}) {
    if (mainOnly) source.name.clear();
    const auto content = SaveContent(source, mainOnly, 6, error);
    ASSERT_TRUE(content) << error;
    EXPECT_EQ(content->name, "Slide7.bmp");
    EXPECT_EQ(content->filter, "*.bmp");
    const TPixels saved = ReadWithTool(dir, content->bytes);
    ASSERT_EQ(saved.width, 5);
    ASSERT_EQ(saved.height, 3);
    EXPECT_EQ(saved.At(0, 0), (TRgb{10, 200, 30}));
    EXPECT_EQ(saved.At(4, 2), (TRgb{99, 200, 30}));
  }
  source.frame = nullptr;
  EXPECT_FALSE(SaveContent(source, false, 0, error));
}

TEST(SaveDialog, PicturesFolderFollowsTheXdgRules) {
  TTempDir dir;
  const std::string home = dir / "home", config = dir / "config";
  ASSERT_TRUE(ForceDirectories(home));
  EXPECT_EQ(PicturesFolder(home, config), home + "/") << "nothing set: home";
  ASSERT_TRUE(ForceDirectories(home + "/Pictures"));
  EXPECT_EQ(PicturesFolder(home, config), home + "/Pictures/");
  dir.Write("config/user-dirs.dirs",
            "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
            "  XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
  EXPECT_EQ(PicturesFolder(home, config), home + "/Pictures/") << "a missing folder is passed over";
  ASSERT_TRUE(ForceDirectories(home + "/Bilder"));
  EXPECT_EQ(PicturesFolder(home, config), home + "/Bilder/");
  ASSERT_TRUE(ForceDirectories(dir / "shared pics"));
  dir.Write("config/user-dirs.dirs", "XDG_PICTURES_DIR=\"" + (dir / "shared pics") + "\"\n");
  EXPECT_EQ(PicturesFolder(home, config), dir / "shared pics/");
  dir.Write("config/user-dirs.dirs", "XDG_PICTURES_DIR=\"relative/pics\"\n");
  EXPECT_EQ(PicturesFolder(home, config), home + "/Pictures/") << "relative values are invalid";
}

TEST(SaveDialog, TypedPathsGetTheDefaultExtensionAndAFolder) {
  EXPECT_EQ(SavePath("  shot  ", "bmp", "/pics/", "/home/u"), "/pics/shot.bmp");
  EXPECT_EQ(SavePath("shot.png", "bmp", "/pics", "/home/u"), "/pics/shot.png");
  EXPECT_EQ(SavePath("~/a/b", "jpg", "/pics/", "/home/u"), "/home/u/a/b.jpg");
  EXPECT_EQ(SavePath("/tmp/x.y/z", "JPG", "/pics/", "/home/u"), "/tmp/x.y/z.JPG");
  EXPECT_EQ(SavePath("   ", "bmp", "/pics/", "/home/u"), "");
  EXPECT_EQ(SavePath("/tmp/dir/", "bmp", "/pics/", "/home/u"), "");
}

TEST(SaveDialog, WritingFailsWithAMessage) {
  TTempDir dir;
  std::string error;
  EXPECT_TRUE(SaveFileBytes(dir / "a.bin", std::string("x\0y", 3), error));
  EXPECT_EQ(test::ReadFile(dir / "a.bin"), std::string("x\0y", 3));
  EXPECT_FALSE(SaveFileBytes(dir / "missing/a.bin", "x", error));
  EXPECT_NE(error.find("missing/a.bin"), std::string::npos) << error;
}

TEST(PrinterDialog, ListsPrintersMarksTheCurrentOneAndCutsLongLists) {
  TPrinterList list;
  for (int i = 0; i < 11; ++i) list.names.push_back("P" + std::to_string(i));
  list.defaultName = "P1";
  const TDialogTemplate t = TPrinterDialog::Template(list, "", "P2");
  int buttons = 0;
  for (const TDialogItem& item : t.items)
    if (item.id >= TPrinterDialog::kFirstPrinterId) ++buttons;
  EXPECT_EQ(buttons, TPrinterDialog::kMaxPrinters);
  EXPECT_EQ(Item(t, TPrinterDialog::kFirstPrinterId)->text, "P0");
  EXPECT_EQ(Item(t, TPrinterDialog::kFirstPrinterId + 1)->text, "P1 (default)");
  EXPECT_NE(Item(t, TPrinterDialog::kFirstPrinterId + 2)->text, "P2")
      << "the current one is marked";
  EXPECT_NE(Item(t, TPrinterDialog::kMoreId)->text.find('3'), std::string::npos);
  ASSERT_NE(Item(t, kIdCancel), nullptr);
  EXPECT_GE(t.height, Item(t, kIdCancel)->y + Item(t, kIdCancel)->height);

  const TDialogTemplate none = TPrinterDialog::Template(TPrinterList{}, "", "");
  EXPECT_EQ(Item(none, TPrinterDialog::kNoteId)->text, "No printer is set up.");
  const TDialogTemplate down = TPrinterDialog::Template(std::nullopt, "No print server", "");
  EXPECT_EQ(Item(down, TPrinterDialog::kNoteId)->text, "No print server");
  EXPECT_TRUE(Item(down, kIdCancel)->defaultButton);
}

}  // namespace
}  // namespace lum
