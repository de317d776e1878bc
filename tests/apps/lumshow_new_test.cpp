// lumshow new, the inputs and the written show: which files are taken, the
// names they get, what is stored once, where the show is written and what a
// fault leaves behind. The made show's content is tested with its document.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "imaging/image_fixtures.h"
#include "media_facts.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Json;
using test::Lumshow;
using test::ReadFile;
using test::TCommandResult;
using test::TPixels;
using test::TRgb;
using test::TTempDir;
namespace fs = std::filesystem;

std::string SolidJpeg(TRgb colour, int w = 64, int h = 48) {
  TPixels p;
  p.width = w, p.height = h;
  p.px.assign(size_t(w) * h, colour);
  return test::CjpegFile(p, {"-quality", "95"});
}

// The same picture in another file: a comment holding n after the start marker.
std::string Variant(const std::string& jpeg, int n) {
  const std::string text = std::to_string(n);
  std::string segment = "\xFF\xFE";
  segment += char((text.size() + 2) >> 8);
  segment += char((text.size() + 2) & 0xFF);
  return jpeg.substr(0, 2) + segment + text + jpeg.substr(2);
}

std::vector<std::string> Members(const std::string& show) {
  std::vector<std::string> names;
  for (const auto& row : Json(Lumshow({"ls", show, "--json"}))) names.push_back(row["name"]);
  return names;
}

// The frame's centre at a show time, drawn small.
TRgb CentreAt(const TTempDir& dir, const std::string& show, int timeMs) {
  const std::string png = dir / "frame.png";
  const TCommandResult r =
      Lumshow({"render", show, "--time", std::to_string(timeMs), "--size", "64x48", "-o", png});
  EXPECT_EQ(r.status, 0) << r.err;
  const TPixels p = test::ReadPicture(png);
  return p.px.empty() ? TRgb{0, 0, 0} : p.At(32, 24);
}

bool Near(TRgb a, TRgb b) {
  return std::abs(a.r - b.r) <= 24 && std::abs(a.g - b.g) <= 24 && std::abs(a.b - b.b) <= 24;
}

// Files whose names start with a dot: what a cut write would leave.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().find(".part") != std::string::npos)
      out.push_back(e.path().filename());
  return out;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

constexpr TRgb kRed{230, 20, 20}, kGreen{20, 200, 40}, kBlue{30, 40, 220}, kYellow{240, 230, 30},
    kMagenta{220, 30, 200}, kCyan{30, 210, 220};

TEST(LumshowNew, BadInputsAreSkippedWithALineEach) {
  TTempDir dir;
  const std::string good = SolidJpeg(kRed);
  const std::string photo = test::CjpegFile(test::MakeTestPicture(320, 240), {});
  const std::string big = test::CjpegFile(test::MakeTestPicture(1200, 900), {"-quality", "95"});
  ASSERT_GT(big.size(), 128u << 10);  // beyond the first read of a header
  std::string hugePng("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x40\0\0\0\x40\0\x08\x02\0\0\0", 29);
  hugePng.append(4, '\0');  // the header chunk's CRC
  std::string bombBmp("BM\0\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x30\x75\0\0\x30\x75\0\0\1\0\x18\0",
                      30);
  bombBmp.append(24, '\0');
  const struct {
    const char* name;
    std::string bytes;
    const char* why;
  } kBad[] = {
      {"cut.jpg", photo.substr(0, photo.size() * 3 / 4), "cut short"},
      {"cut-big.jpg", big.substr(0, big.size() * 3 / 4), "cut short"},
      {"stub.jpg", good.substr(0, good.size() / 4), "damaged picture"},
      {"header.jpg", "\xFF\xD8\xFF\xE0\x00\x02junkjunk", "damaged picture"},
      {"huge.png", hugePng, "damaged picture"},
      {"bomb.bmp", bombBmp, "damaged picture"},
      {"cut.gif", std::string("GIF89a\x10\0\x10\0\0\0\0", 13), "cut short"},
      {"decoy.gif", std::string("GIF89a\0\x40\0\x40\0\0\0;", 14), "screen too large"},
      {"notes.txt", "not a picture", "not a picture, video or music"},
      {"empty.jpg", "", "not a picture, video or music"},
      {"clip.mp4", "no video here", "video"},
  };
  for (const auto& b : kBad) dir.Write(std::string("bad/") + b.name, b.bytes);
  fs::create_symlink(dir / "bad/nowhere.jpg", dir / "bad/dangling.jpg");

  // A folder of only bad files makes no show.
  TCommandResult r = Lumshow({"new", dir / "bad", "-o", dir / "bad.lumshow"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no picture or video"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "bad.lumshow"));
  EXPECT_TRUE(Leftovers(dir.Path()).empty());

  // Whole photos with data appended after their end, as phones write them,
  // within the first read and beyond it.
  dir.Write("bad/good.jpg", good);
  dir.Write("bad/small+data.jpg", photo + std::string(8192, 'x'));
  dir.Write("bad/large+data.jpg", big + std::string(8192, 'x'));
  r = Lumshow({"new", dir / "bad", "-o", dir / "some.lumshow"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Without the video library the videos are left out with one line for all.
  const bool noVideo = r.err.find("video library") != std::string::npos;
  for (const auto& b : kBad) {
    if (noVideo && b.why == std::string("video")) continue;
    const std::string line = "skipped \"" + dir / "bad/" + b.name + "\": ";
    EXPECT_EQ(Count(r.err, line), 1u) << b.name << "\n" << r.err;
    const size_t at = r.err.find(line);
    const std::string text = r.err.substr(at, r.err.find('\n', at) - at);
    EXPECT_NE(text.find(b.why), std::string::npos) << text;
  }
  EXPECT_EQ(Count(r.err, "skipped \"" + dir / "bad/dangling.jpg\""), 1u) << r.err;
  EXPECT_EQ(
      Members(dir / "some.lumshow"),
      (std::vector<std::string>{"Project.lum", "good.jpg", "large+data.jpg", "small+data.jpg"}));
}

TEST(LumshowNew, OutputFaultsAreClearAndLeaveNothingHalfWritten) {
  TTempDir dir;
  dir.Write("in/a.jpg", SolidJpeg(kRed));
  dir.Write("old.lumshow", "the old show");
  fs::create_directory(dir / "folder.lumshow");
  const std::string in = dir / "in";
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } kCases[] = {
      {{"-o", dir / "missing/x.lumshow"}, 1, "no folder"},
      {{"-o", dir / "old.lumshow"}, 1, "exists; --force replaces it"},
      {{"-o", dir / "folder.lumshow"}, 1, "is a folder"},
      {{"-o", "/proc/self/x.lumshow"}, 1, ""},
      {{"--folder", dir / "missing/deeper"}, 1, "no folder"},
      {{"-o", dir / "x.lumshow", "--folder", dir / "f"}, 2, "either -o"},
      {{}, 2, "either -o"},
      {{"-o", dir / "x.lumshow", "--sort", "backwards"}, 2, "--sort"},
      {{"-o", dir / "x.lumshow", "--motion", "maybe"}, 2, "--motion"},
      {{"-o", dir / "x.lumshow", "--music", dir / "no.mp3"}, 1, "no.mp3"},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args{"new", in};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const TCommandResult r = Lumshow(args);
    EXPECT_EQ(r.status, c.status) << c.args.size() << " " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadFile(dir / "old.lumshow"), "the old show");
  EXPECT_FALSE(fs::exists(dir / "x.lumshow"));

  // A remake that fails leaves the old show whole; one that works replaces it.
  dir.Write("junk/a.txt", "text");
  TCommandResult r = Lumshow({"new", dir / "junk", "-o", dir / "old.lumshow", "--force"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(dir / "old.lumshow"), "the old show");
  r = Lumshow({"new", in, "-o", dir / "old.lumshow", "--force"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Members(dir / "old.lumshow"), (std::vector<std::string>{"Project.lum", "a.jpg"}));
  EXPECT_TRUE(Leftovers(dir.Path()).empty());
}

// Awkward names keep their form in the container and play; the pictures
// come out byte for byte.
TEST(LumshowNew, AwkwardNamesSurviveAndPlay) {
  TTempDir dir;
  const struct {
    const char* file;
    const char* member;
    TRgb colour;
  } kFiles[] = {
      {"a b.jpg", "a b.jpg", kRed},
      {"été 日本.jpg", "été 日本.jpg", kGreen},
      {"back\\slash.jpg", "back\\slash.jpg", kBlue},
      {"[x] y.jpg", "[x] y.jpg", kYellow},
      {".dot.jpg", ".dot.jpg", kMagenta},
      {" 100%|x.jpg", "100__x.jpg", kCyan},
      {"noext", "noext.jpg", kRed},
  };
  std::vector<std::string> args{"new"};
  std::vector<std::string> want{"Project.lum"};
  for (size_t i = 0; i < std::size(kFiles); ++i) {
    // Red twice would be stored once: the last one is a variant of the first.
    const std::string jpeg = i + 1 == std::size(kFiles) ? Variant(SolidJpeg(kFiles[i].colour), 1)
                                                        : SolidJpeg(kFiles[i].colour);
    args.push_back(dir.Write(std::string("in/") + kFiles[i].file, jpeg));
    want.push_back(kFiles[i].member);
  }
  const std::string show = dir / "names.lumshow";
  args.insert(args.end(), {"-o", show, "--sort", "none", "--motion", "off"});
  const TCommandResult r = Lumshow(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Members(show), want);
  const nlohmann::json info = Json(Lumshow({"info", show, "--json"}));
  ASSERT_EQ(info["slides"].size(), std::size(kFiles));
  for (size_t i = 0; i < std::size(kFiles); ++i) {
    const TCommandResult cat = Lumshow({"cat", show, kFiles[i].member});
    EXPECT_EQ(cat.out, ReadFile(dir / "in/" + kFiles[i].file)) << kFiles[i].member;
    const double start = info["slides"][i]["start"], end = info["slides"][i]["end"];
    const TRgb got = CentreAt(dir, show, int((start + end) / 2));
    EXPECT_TRUE(Near(got, kFiles[i].colour))
        << kFiles[i].member << ": " << int(got.r) << "," << int(got.g) << "," << int(got.b);
  }
}

TEST(LumshowNew, SameContentIsStoredOnceAndSameNamesGetNumbers) {
  TTempDir dir;
  const std::string red = SolidJpeg(kRed), blue = SolidJpeg(kBlue);
  dir.Write("in/a/x.jpg", red);
  dir.Write("in/b/X.JPG", blue);  // the container compares names without case
  dir.Write("in/c/copy.jpg", red);
  fs::create_directories(dir / "in/d");
  fs::create_hard_link(dir / "in/a/x.jpg", dir / "in/d/linked.jpg");
  const std::string show = dir / "dups.lumshow";
  const TCommandResult r = Lumshow({"new", dir / "in", "-o", show});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Members(show), (std::vector<std::string>{"Project.lum", "x.jpg", "X-2.JPG"}));
  EXPECT_EQ(Json(Lumshow({"info", show, "--json"}))["slides"].size(), 4u);
  EXPECT_EQ(Lumshow({"cat", show, "x.jpg"}).out, red);
  EXPECT_EQ(Lumshow({"cat", show, "X-2.JPG"}).out, blue);
}

// Many photos in natural name order, made well within the test's time.
TEST(LumshowNew, TwoThousandPhotos) {
  TTempDir dir;
  const std::string jpeg = SolidJpeg(kGreen);
  for (int i = 1; i <= 2000; ++i)
    dir.Write("many/p" + std::to_string(i) + ".jpg", Variant(jpeg, i));
  const std::string show = dir / "many.lumshow";
  const TCommandResult r = Lumshow({"new", dir / "many", "-o", show});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> members = Members(show);
  ASSERT_EQ(members.size(), 2001u);
  EXPECT_EQ(std::vector<std::string>(members.begin() + 1, members.begin() + 4),
            (std::vector<std::string>{"p1.jpg", "p2.jpg", "p3.jpg"}));
  EXPECT_EQ(members.back(), "p2000.jpg");
  EXPECT_EQ(Json(Lumshow({"info", show, "--json"}))["slides"].size(), 2000u);
  EXPECT_EQ(Lumshow({"cat", show, "p1234.jpg"}).out, Variant(jpeg, 1234));
}

// An EXIF block with the orientation and the time the picture was taken.
std::string WithExif(const std::string& jpeg, int orientation, const std::string& taken) {
  auto u16 = [](std::string& s, int v) { s += char(v & 0xFF), s += char(v >> 8); };
  auto u32 = [&](std::string& s, uint32_t v) { u16(s, int(v & 0xFFFF)), u16(s, int(v >> 16)); };
  std::string tiff = "II*";
  tiff += '\0';
  u32(tiff, 8);
  u16(tiff, 2);  // IFD0 at 8: orientation, EXIF IFD pointer
  u16(tiff, 0x0112), u16(tiff, 3), u32(tiff, 1), u16(tiff, orientation), u16(tiff, 0);
  u16(tiff, 0x8769), u16(tiff, 4), u32(tiff, 1), u32(tiff, 8 + 2 + 24 + 4);
  u32(tiff, 0);
  u16(tiff, 1);  // EXIF IFD: DateTimeOriginal
  u16(tiff, 0x9003), u16(tiff, 2), u32(tiff, 20), u32(tiff, uint32_t(tiff.size() + 8));
  u32(tiff, 0);
  tiff += taken;
  tiff += '\0';
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  std::string app1 = "\xFF\xE1";
  app1 += char((body.size() + 2) >> 8), app1 += char((body.size() + 2) & 0xFF);
  return jpeg.substr(0, 2) + app1 + body + jpeg.substr(2);
}

TEST(LumshowNew, PictureFactsFromHeadersAlone) {
  using lumshow::ReadPictureFacts;
  const std::string jpeg = WithExif(SolidJpeg(kRed, 40, 30), 6, "2021:06:05 10:11:12");
  lumshow::TPictureFacts f = ReadPictureFacts(jpeg, jpeg.substr(jpeg.size() - 100), 0);
  EXPECT_EQ(f.format, ".jpg");
  EXPECT_EQ(f.problem, "");
  EXPECT_EQ(f.width, 40);
  EXPECT_EQ(f.height, 30);
  EXPECT_EQ(f.orientation, 6);
  EXPECT_EQ(f.date, "2021:06:05 10:11:12");
  const struct {
    const char* date;
    int64_t seconds;
  } kDates[] = {{"1970:01:01 00:00:00", 0},         {"2021:06:05 10:11:12", 1622887872},
                {"2000:02:29 23:59:59", 951868799}, {"    :  :     :  :  ", -1},
                {"0000:00:00 00:00:00", -1},        {"2021-06-05 10:11:12", -1},
                {"2021:13:05 10:11:12", -1},        {"2021:06:05", -1}};
  for (const auto& d : kDates) EXPECT_EQ(lumshow::ExifDateSeconds(d.date), d.seconds) << d.date;
  const struct {
    const char *a, *b;
    int order;
  } kOrder[] = {{"p2.jpg", "p10.jpg", -1},
                {"p10.jpg", "p9.jpg", 1},
                {"a", "b", -1},
                {"p007.jpg", "p7.jpg", -1},
                {"IMG_0001", "IMG_0001", 0},
                {"a1b2", "a1b10", -1},
                {"x", "x1", -1},
                {"B", "a", -1}};
  for (const auto& o : kOrder)
    EXPECT_EQ(lumshow::NaturalCompare(o.a, o.b), o.order) << o.a << " " << o.b;
  const struct {
    const char *file, *format, *member;
  } kNames[] = {{"a.JPEG", ".jpg", "a.JPEG"},
                {"a.png", ".jpg", "a.png.jpg"},
                {"..\\..\\x.jpg", ".jpg", ".._.._x.jpg"},
                {"a\\\\b.jpg", ".jpg", "a__b.jpg"},
                {"C:x.gif", ".gif", "C_x.gif"},
                {"tab\there.bmp", ".bmp", "tab_here.bmp"},
                {"  ", ".png", "picture.png"},
                {"\"q\".kvgfx", ".kvgfx", "_q_.kvgfx"},
                {"ColorSpaceExe_a.png", ".png", "_ColorSpaceExe_a.png"},
                {"song.mp3", "", "song.mp3"}};
  for (const auto& n : kNames)
    EXPECT_EQ(lumshow::MemberNameFor(n.file, n.format), n.member) << n.file;
}

TEST(LumshowNew, DateOrderVideoAndMusic) {
  TTempDir dir;
  dir.Write("in/a.jpg", WithExif(SolidJpeg(kRed), 1, "2022:01:01 09:00:00"));
  dir.Write("in/b.jpg", WithExif(SolidJpeg(kBlue), 1, "2019:01:01 09:00:00"));
  const std::string song = dir / "song.wav";
  test::RunTool({"sox", "-n", "-r", "8000", "-c", "1", song, "trim", "0", "1"});
  // A clip of 1.5 s becomes a slide of its own, stored as it is.
  test::RunTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-t",
                 "1.5", "-pix_fmt", "yuv420p", dir / "in/clip.mp4"});
  const std::string show = dir / "dated.lumshow";
  const TCommandResult r =
      Lumshow({"new", dir / "in", "--sort", "date", "--music", song, "-o", show});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Members(show),
            (std::vector<std::string>{"Project.lum", "b.jpg", "a.jpg", "clip.mp4", "song.wav"}));
  EXPECT_EQ(Lumshow({"cat", show, "clip.mp4"}).out, ReadFile(dir / "in/clip.mp4"));
  EXPECT_EQ(Lumshow({"cat", show, "song.wav"}).out, ReadFile(song));
}

// The folder form: the document beside the files, ready for lumshow pack.
TEST(LumshowNew, FolderThenPack) {
  TTempDir dir;
  const std::string red = SolidJpeg(kRed), blue = SolidJpeg(kBlue);
  dir.Write("in/a b.jpg", red);
  dir.Write("in/back\\slash.jpg", blue);
  dir.Write("in/again.jpg", red);
  const std::string folder = dir / "made";
  TCommandResult r = Lumshow({"new", dir / "in", "--folder", folder, "--motion", "off"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(folder + "/Project.lum"));
  EXPECT_EQ(ReadFile(folder + "/a b.jpg"), red);
  EXPECT_EQ(ReadFile(folder + "/back/slash.jpg"), blue);
  EXPECT_FALSE(fs::exists(folder + "/again.jpg"));  // stored once, as a b.jpg
  EXPECT_TRUE(Near(CentreAt(dir, folder + "/Project.lum", 2500), kRed));

  const std::string packed = dir / "packed.lumshow";
  r = Lumshow({"pack", folder + "/Project.lum", "-o", packed});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> members = Members(packed);
  std::sort(members.begin(), members.end());
  EXPECT_EQ(members, (std::vector<std::string>{"Project.lum", "a b.jpg", "back\\slash.jpg"}));
  EXPECT_EQ(Lumshow({"cat", packed, "back\\slash.jpg"}).out, blue);
  EXPECT_TRUE(Near(CentreAt(dir, packed, 12500), kBlue));

  // Made again: refused without --force, replaced with it.
  r = Lumshow({"new", dir / "in", "--folder", folder});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("exists; --force replaces it"), std::string::npos) << r.err;
  EXPECT_EQ(Lumshow({"new", dir / "in", "--folder", folder, "--force"}).status, 0);
}

}  // namespace
}  // namespace lum
