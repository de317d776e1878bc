// lumshow thumbnail as file managers run it: the first slide once its
// transition is over, fitted into the size asked for, and for shows that
// cannot give one an exit status of 1 well within the 5 s file managers wait.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/raw_container.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TCommandResult;
using test::TTempDir;

// Two slides, the first red and faded in from black over a second; the
// design size gives the aspect ratio.
std::string Project(int width, int height, const std::string& mainExtra = "") {
  return "[Main]\nLumVersion=5.6\nMinorVersion=13\nopt_scr_width=" + std::to_string(width) +
         "\nopt_scr_height=" + std::to_string(height) + "\n" + mainExtra +
         "object TheEffect:AnEffect\ntime=1000\ncustom_count=0\n"
         "object dissolve:dissolve\ncaption=Dissolve\nkey=checked\nchecked=1\n"
         "group=GroupBasic\nstdidx=2\nend\nend\n"
         "[Times]\nopt_slidescount=2\nopt_synchpos1=5000\nopt_synchpos2=10000\n"
         "[Slide1]\nbstyle=1\nbcolor=255\nobject TheEffect:AnEffect\nref=dissolve\ntime=1000\n"
         "end\nobject Container:Root\nend\n"
         "[Slide2]\nbstyle=1\nbcolor=16711680\nobject Container:Root\nend\n";
}

// A container holding only that project document, packed independently.
std::string Pack(const TTempDir& dir, const std::string& name, const std::string& project) {
  test::TRawContainer c;
  c.members.push_back({"Project.lum", test::RawDeflate(project), 1, ""});
  return dir.Write(name, c.Build());
}

double SecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

TEST(Thumbnail, TheFirstSlideAfterItsTransitionFitsTheSizeAskedFor) {
  TTempDir dir;
  struct {
    int designW, designH;
    std::vector<std::string> size;
    int w, h;
  } cases[] = {{320, 240, {}, 256, 192},
               {1920, 1080, {"--size", "128"}, 128, 72},
               {240, 320, {"--size", "512"}, 384, 512}};
  for (const auto& c : cases) {
    const std::string show =
        Pack(dir, "s.lumshow", Project(c.designW, c.designH));
    std::vector<std::string> args = {"thumbnail", show, dir / "t.png"};
    args.insert(args.end(), c.size.begin(), c.size.end());
    const TCommandResult r = Lumshow(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const test::TPixels p = test::ReadPicture(dir / "t.png");
    EXPECT_EQ(p.width, c.w) << c.designW << "x" << c.designH;
    EXPECT_EQ(p.height, c.h) << c.designW << "x" << c.designH;
    // Red through and through: the dissolve from black is over.
    for (auto [x, y] : {std::pair{0, 0}, {p.width / 2, p.height / 2}, {p.width - 1, p.height - 1}})
      EXPECT_TRUE(p.At(x, y).r > 240 && p.At(x, y).g < 15 && p.At(x, y).b < 15)
          << x << "," << y << " of " << c.designW << "x" << c.designH;
  }
  for (const char* size : {"0", "-5", "5000", "big"}) {
    const TCommandResult bad =
        Lumshow({"thumbnail", Pack(dir, "u.lumshow", Project(320, 240)), dir / "u.png",
                 "--size", size});
    EXPECT_EQ(bad.status, 2) << size;
    EXPECT_FALSE(Exists(dir / "u.png")) << size;
  }
}

// A camera's 24 MP photo as the first slide's picture: decoded at the small
// scale the thumbnail needs, so the run costs well under a second of CPU
// time (wall time on a shared test machine says little).
TEST(Thumbnail, AFullSizePhotoCostsWellUnderASecond) {
  TTempDir dir;
  test::TPixels photo;
  photo.width = 6000;
  photo.height = 4000;
  photo.px.resize(size_t(photo.width) * photo.height);
  for (int y = 0; y < photo.height; ++y)
    for (int x = 0; x < photo.width; ++x) {
      const uint8_t grain = uint8_t((x * 7 ^ y * 13) & 31);  // texture for the encoder
      photo.At(x, y) = x < photo.width / 2 ? test::TRgb{uint8_t(220 + grain), 40, 20}
                                           : test::TRgb{20, 40, uint8_t(220 + grain)};
    }
  dir.Write("s/photo.jpg", test::CjpegFile(photo, {"-quality", "90"}));
  const std::string project = dir.Write(
      "s/Project.lum",
      "[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\n"
      "[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n[Slide1]\nbstyle=1\nbcolor=0\n"
      "object Container:Root\nobject P:Image\nGUID={1}\nImageName=photo.jpg\n"
      "object K:KeyPoint\nTime=0\nend\nend\nend\n");
  const TCommandResult packed = Lumshow({"pack", project, "-o", dir / "photo.lumshow"});
  ASSERT_EQ(packed.status, 0) << packed.err;

  const TCommandResult r = Lumshow({"thumbnail", dir / "photo.lumshow", dir / "t.png"});
  ASSERT_EQ(r.status, 0) << r.err;
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(r.cpuSeconds, 2.5);  // instrumented code; a full-size decode costs far more
#else
  EXPECT_LT(r.cpuSeconds, 1.0);
#endif
  // 3:2 fitted into 256 x 144: black bars beside the photo's red and blue halves.
  const test::TPixels t = test::ReadPicture(dir / "t.png");
  ASSERT_EQ(t.width, 256);
  const test::TRgb bar = t.At(5, 72), red = t.At(64, 72), blue = t.At(192, 72);
  EXPECT_TRUE(bar.r < 10 && bar.g < 10 && bar.b < 10);
  EXPECT_TRUE(red.r > 200 && red.b < 50) << int(red.r) << "," << int(red.g) << "," << int(red.b);
  EXPECT_TRUE(blue.b > 200 && blue.r < 50) << int(blue.r) << "," << int(blue.g) << ","
                                           << int(blue.b);
}

TEST(Thumbnail, ShowsThatCannotGiveOneEndWithStatusOneWithinFiveSeconds) {
  TTempDir dir;
  std::string deep, close;
  for (int i = 0; i < 100000; ++i) {
    deep += "object F:Frame\nGUID={" + std::to_string(i) + "}\n";
    close += "end\n";
  }
  const std::string whole = Pack(dir, "whole.lumshow", Project(320, 240));
  const std::string bytes = test::ReadFile(whole);
  mkfifo((dir / "fifo.lumshow").c_str(), 0600);
  struct {
    const char* what;
    std::string show;
  } cases[] = {
      {"a protected show", Pack(dir, "p.lumshow", Project(320, 240, "opt_usepass=1\nopt_pass=x\n"))},
      {"a damaged show", dir.Write("cut.lumshow", bytes.substr(0, bytes.size() - 5))},
      {"random bytes", dir.Write("noise.lumshow", std::string(4096, '\x5a') + ".dne")},
      {"nesting without end",
       Pack(dir, "deep.lumshow",
            "[Main]\nMinorVersion=13\n[Times]\nopt_slidescount=1\nopt_synchpos1=3000\n"
            "[Slide1]\nobject Container:Root\n" + deep + close + "end\n")},
      {"a show without slides", Pack(dir, "empty.lumshow", "[Main]\nMinorVersion=13\n")},
      {"a pipe that never delivers", dir / "fifo.lumshow"},
      {"a missing file", dir / "missing.lumshow"},
  };
  for (const auto& c : cases) {
    const std::string out = dir / "out.png";
    const auto start = std::chrono::steady_clock::now();
    const TCommandResult r = Lumshow({"thumbnail", c.show, out});
    EXPECT_EQ(r.status, 1) << c.what << ": " << r.err;
    EXPECT_LT(SecondsSince(start), 5.0) << c.what;
    EXPECT_FALSE(Exists(out)) << c.what;
  }
}

}  // namespace
}  // namespace lum
