// lumshow render of shows whose pictures say little and ask much: PNGs of
// 16384 x 16384 from 300 KB, progressive JPEGs declaring vast sizes, a GIF
// of 64 frames on a huge screen from 1.5 KB, a run-length BMP and a .kvgfx
// header without its pixels. Each frame is drawn with the process's peak
// memory measured, and pictures are still shown where they can be.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "imaging/gfx_bitmap_store.h"
#include "imaging/image_fixtures.h"
#include "support/environment.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TPixels;
using test::TRgb;
using test::TTempDir;

constexpr long kMB = 1024;  // in the kilobytes rusage counts

void PutBe32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(char(v >> (8 * i)));
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  PutBe32(png, uint32_t(data.size()));
  const std::string body = type + data;
  png += body;
  PutBe32(png, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// A palette PNG of w x h, red left half and blue right half: every row after
// the first says "as above", so that the file stays small.
std::string HugePng(int w, int h) {
  z_stream z{};
  deflateInit(&z, 9);
  std::string data, out(1 << 16, '\0');
  std::string first(1, '\0'), rest(size_t(w) + 1, '\0');
  first.append(size_t(w / 2), '\0');
  first.append(size_t(w - w / 2), '\1');
  rest[0] = 2;  // "Up" filter: zero differences
  for (int y = 0; y <= h; ++y) {
    const std::string& row = y == 0 ? first : rest;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
    z.avail_in = y < h ? uInt(row.size()) : 0;
    int status;
    do {
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = uInt(out.size());
      status = deflate(&z, y < h ? Z_NO_FLUSH : Z_FINISH);
      data.append(out.data(), out.size() - z.avail_out);
    } while (z.avail_out == 0 || (y == h && status != Z_STREAM_END));
  }
  deflateEnd(&z);
  std::string png("\x89PNG\r\n\x1A\n", 8), ihdr;
  PutBe32(ihdr, uint32_t(w));
  PutBe32(ihdr, uint32_t(h));
  ihdr += std::string("\x08\x03\x00\x00\x00", 5);
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "PLTE", std::string("\xFF\x00\x00\x00\x00\xFF", 6));
  Chunk(png, "IDAT", data);
  Chunk(png, "IEND", "");
  return png;
}

// 16384 x 16384 at 8 bits that ends at once: every index 0.
std::string RunLengthBomb() {
  return test::WriteRleBmp(16384, 16384, 8, {{0, 200, 0}}, std::string("\0\1", 2));
}

// A .kvgfx header of 16384 x 16384 whose payload is not deflate data.
std::string EmptyGfx() {
  std::string gfx = WriteGfx("BM", 16384, 16384, "big.bmp");
  return gfx.substr(0, gfx.size() - 2) + "junk";
}

// One slide of 800 x 400 units on black; each picture fitted into it.
std::string Show(const std::vector<std::string>& pictures, const std::string& keys = "") {
  std::string s =
      "[Main]\nMinorVersion=13\nopt_scr_width=800\nopt_scr_height=400\n"
      "[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n[Slide1]\nbstyle=1\nbcolor=0\n"
      "object Container:Root\n";
  int guid = 1;
  for (const std::string& name : pictures)
    s += "object P:Image\nGUID={" + std::to_string(guid++) + "}\nImageName=" + name + "\n" + keys +
         "object K:KeyPoint\nTime=0\nend\nend\n";
  return s + "end\n";
}

class HostilePictures : public ::testing::Test {
 protected:
  // Renders the show's first frame; the picture budget in MB when given,
  // else the default.
  test::TCommandResult Render(const std::string& show, const std::string& budgetMb = "") {
    test::TEnvironmentOverride env({"LUM_PICTURE_BUDGET_MB"});
    if (budgetMb.empty())
      unsetenv("LUM_PICTURE_BUDGET_MB");
    else
      setenv("LUM_PICTURE_BUDGET_MB", budgetMb.c_str(), 1);
    test::TCommandResult r = test::Lumshow(
        {"render", dir / show, "--time", "0", "--size", "800x400", "-o", dir / "frame.png"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
  }
  TPixels Frame() { return test::ReadPicture(dir / "frame.png"); }
  // Peak memory of drawing a show without pictures worth the name.
  long PlainPeakKb() {
    dir.Write("plain/p.png", HugePng(16, 16));
    dir.Write("plain/Project.lum", Show({"p.png"}));
    return Render("plain/Project.lum").peakRssKb;
  }
  TTempDir dir;
};

TEST_F(HostilePictures, HugePngsAreDecodedAtTheLevelTheyAreShownAt) {
  const std::string png = HugePng(16384, 16384);
  ASSERT_LT(png.size(), 400000u);
  std::vector<std::string> names;
  for (int i = 1; i <= 4; ++i) {
    names.push_back("big" + std::to_string(i) + ".png");
    dir.Write("s/" + names.back(), png);
  }
  dir.Write("s/Project.lum", Show(names));
  const long plain = PlainPeakKb();
  // Each is shown 400 x 400: level 5, under 2 MB at 24 and 32 bits.
  const test::TCommandResult r = Render("s/Project.lum");
  EXPECT_LT(r.peakRssKb, plain + 128 * kMB);
  TPixels f = Frame();
  EXPECT_EQ(f.At(300, 200), (TRgb{255, 0, 0}));
  EXPECT_EQ(f.At(500, 200), (TRgb{0, 0, 255}));
  // A budget of 1 MB: still shown, coarser, within the budget and a margin.
  dir.Write("s/Project.lum", Show({names[0], names[1]}));
  const test::TCommandResult tight = Render("s/Project.lum", "1");
  EXPECT_LT(tight.peakRssKb, plain + 64 * kMB);
  f = Frame();
  EXPECT_EQ(f.At(300, 200), (TRgb{255, 0, 0}));
  EXPECT_EQ(f.At(500, 200), (TRgb{0, 0, 255}));
}

TEST_F(HostilePictures, VastFilesRenderWithinTheProcessLimit) {
  const TPixels small = test::MakeTestPicture(16, 16);
  for (int side : {32768, 65500})
    dir.Write("j" + std::to_string(side) + "/v.jpg",
              test::CjpegFile(small, {"-progressive"}, side, side));
  dir.Write("gif/v.gif", test::WriteManyFrameGif(2048, 2048, 64));
  dir.Write("bmp/v.bmp", RunLengthBomb());
  dir.Write("gfx/v.kvgfx", EmptyGfx());
  struct {
    std::string show, keys;
  } cases[] = {{"j32768/v.jpg", ""},
               {"j65500/v.jpg", ""},
               {"gif/v.gif", "AnimEnable=1\nAnimColumns=64\nAnimCount=64\n"},
               {"bmp/v.bmp", ""},
               {"gfx/v.kvgfx", ""}};
  const long plain = PlainPeakKb();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.show);
    const std::string folder = c.show.substr(0, c.show.find('/'));
    dir.Write(folder + "/Project.lum", Show({c.show.substr(folder.size() + 1)}, c.keys));
    // Refused, or decoded at the size shown: from 1 to 13 GB before the budget.
    EXPECT_LT(Render(folder + "/Project.lum").peakRssKb, plain + 128 * kMB);
  }
  // The blank .kvgfx is still a picture of its size, grey.
  EXPECT_EQ(Frame().At(400, 200), (TRgb{kBlankGfxGrey, kBlankGfxGrey, kBlankGfxGrey}));
}

}  // namespace
}  // namespace lum
