// lumshow image: pictures decoded by the loaders, from files and from shows,
// written as PNG.
#include <gtest/gtest.h>

#include "foundation/memory_stream.h"
#include "imaging/image.h"
#include "imaging/image_fixtures.h"
#include "support/environment.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::FromBitmap;
using test::MaxDifference;
using test::ReadFile;
using test::TCommandResult;
using test::TPixels;
using test::TTempDir;

using test::Lumshow;

TEST(LumshowImage, PictureFileAtLevels) {
  TTempDir dir;
  TPixels p = test::MakeTestPicture(40, 22);
  std::string bmp = dir.Write("pic.bmp", test::WriteBmp(p, {}));
  TCommandResult r = Lumshow({"image", bmp, "-o", dir / "out.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "40 x 22 BGR24\n");
  EXPECT_EQ(MaxDifference(test::ReadPicture(dir / "out.png"), p), 0);
  ASSERT_EQ(Lumshow({"image", bmp, "-o", dir / "half.png", "--level", "1"}).status, 0);
  TPixels half = test::ReadPicture(dir / "half.png");
  EXPECT_EQ(half.width, 20);
  EXPECT_EQ(half.height, 11);
  // The last level is 1 x 1; below it is a usage error.
  EXPECT_EQ(Lumshow({"image", bmp, "-o", dir / "x.png", "--level", "6"}).status, 0);
  TCommandResult deep = Lumshow({"image", bmp, "-o", dir / "x.png", "--level", "7"});
  EXPECT_EQ(deep.status, 2);
  EXPECT_NE(deep.err.find("--level 7"), std::string::npos);
}

TEST(LumshowImage, JpegLevelsAgreeWithDjpeg) {
  TTempDir dir;
  std::string ppm = dir.Write("in.ppm", test::WritePpm(test::MakeTestPicture(97, 61)));
  test::RunTool({"cjpeg", "-outfile", dir / "p.jpg", ppm});
  ASSERT_EQ(Lumshow({"image", dir / "p.jpg", "-o", dir / "q.png", "--level", "2"}).status, 0);
  test::RunTool({"djpeg", "-scale", "1/4", "-outfile", dir / "ref.ppm", dir / "p.jpg"});
  EXPECT_EQ(
      MaxDifference(test::ReadPicture(dir / "q.png"), test::ReadPnm(ReadFile(dir / "ref.ppm"))), 0);
}

TEST(LumshowImage, EmbeddedProfileConvertedOnRequest) {
  TTempDir dir;
  std::string ppm = dir.Write("in.ppm", test::WritePpm(test::MakeTestPicture(32, 32)));
  test::RunTool({"cjpeg", "-icc", "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc", "-outfile",
                 dir / "p.jpg", ppm});
  ASSERT_EQ(Lumshow({"image", dir / "p.jpg", "-o", dir / "none.png", "--icc", "none"}).status, 0);
  ASSERT_EQ(Lumshow({"image", dir / "p.jpg", "-o", dir / "srgb.png", "--icc", "sRGB"}).status, 0);
  ASSERT_EQ(Lumshow({"image", dir / "p.jpg", "-o", dir / "funky.png", "--icc", "FunkyRGB"}).status,
            0);
  TPixels none = test::ReadPicture(dir / "none.png");
  EXPECT_GT(MaxDifference(none, test::ReadPicture(dir / "srgb.png")), 5);
  EXPECT_GT(MaxDifference(none, test::ReadPicture(dir / "funky.png")), 60);
  TCommandResult bad =
      Lumshow({"image", dir / "p.jpg", "-o", dir / "b.png", "--icc", dir / "no.icc"});
  EXPECT_EQ(bad.status, 1);
  // The conversion to sRGB is ImageMagick's through the sRGB profile file, to
  // a level or two (the profiles' curves are tabulated differently).
  const std::string convert = test::FindProgram("convert");
  if (convert.empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  const TCommandResult ref = test::RunCommand(
      {convert, dir / "p.jpg", "-profile", "/usr/share/color/icc/sRGB.icc", dir / "ref.png"});
  ASSERT_EQ(ref.status, 0) << ref.err;
  const TPixels want = test::ReadPicture(dir / "ref.png");
  EXPECT_LE(MaxDifference(test::ReadPicture(dir / "srgb.png"), want), 3);
  EXPECT_GT(MaxDifference(none, want), 20);
}

TEST(LumshowImage, MemberOfAShowWithItsRotation) {
  TTempDir dir;
  TPixels p = test::MakeTestPicture(8, 5);
  std::string bmp = dir.Write("src/a.bmp", test::WriteBmp(p, {}));
  std::string project =
      dir.Write("show/Project.lum",
                "[Main]\r\nLumVersion=5.6\r\n[RotationState]\r\n;\"C:\\Pics\\turned.bmp\"=8\r\n");
  TCommandResult pack =
      Lumshow({"pack", project, "-o", dir / "s.lumshow", "--no-refs", "C:\\Pics\\a.bmp=" + bmp,
               "C:\\Pics\\turned.bmp=" + bmp, "C:\\Pics\\text.bmp=" + project});
  ASSERT_EQ(pack.status, 0) << pack.err;
  std::string show = dir / "s.lumshow";
  ASSERT_EQ(Lumshow({"image", show, "--member", "c:\\pics\\A.BMP", "-o", dir / "a.png"}).status, 0);
  EXPECT_EQ(MaxDifference(test::ReadPicture(dir / "a.png"), p), 0);
  ASSERT_EQ(
      Lumshow({"image", show, "--member", "C:\\Pics\\turned.bmp", "-o", dir / "t.png"}).status, 0);
  TPixels t = test::ReadPicture(dir / "t.png");
  EXPECT_EQ(t.width, 5);
  EXPECT_EQ(t.height, 8);
  EXPECT_EQ(t.At(0, 7), p.At(0, 0));  // counter-clockwise: top-left to bottom-left
  TCommandResult missing = Lumshow({"image", show, "--member", "nope.bmp", "-o", dir / "m.png"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("lumshow: no member"), std::string::npos);
  TCommandResult text =
      Lumshow({"image", show, "--member", "C:\\Pics\\text.bmp", "-o", dir / "m.png"});
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.err.find("not a picture"), std::string::npos);
  EXPECT_EQ(Lumshow({"image", dir / "nothing.bmp", "-o", dir / "m.png"}).status, 1);
}

TEST(LumshowImage, LoaderRequestNamesGiveTheFramesAtlas) {
  // Three frames of 10 x 8: the atlas holds them side by side, as
  // ImageMagick's coalesced frames appended left to right.
  TTempDir dir;
  const std::string gif = dir / "anim.gif";
  test::RunTool(
      {"convert", "-size", "10x8", "xc:red", "xc:lime", "xc:blue", "-set", "delay", "10", gif});
  test::RunTool({"convert", gif, "-coalesce", "+append", dir / "ref.png"});
  const TPixels ref = test::ReadPicture(dir / "ref.png");
  ASSERT_EQ(ref.width, 30);
  TCommandResult r = Lumshow({"image", gif + "|framesatlas", "-o", dir / "atlas.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(MaxDifference(test::ReadPicture(dir / "atlas.png"), ref), 0);
  // The plain name is the first frame.
  ASSERT_EQ(Lumshow({"image", gif, "-o", dir / "first.png"}).status, 0);
  EXPECT_EQ(test::ReadPicture(dir / "first.png").width, 10);
  // The same from a show's member.
  std::string project = dir.Write("show/Project.lum", "[Main]\r\nLumVersion=5.6\r\n");
  ASSERT_EQ(
      Lumshow({"pack", project, "-o", dir / "s.lumshow", "--no-refs", "C:\\Pics\\anim.gif=" + gif})
          .status,
      0);
  r = Lumshow({"image", dir / "s.lumshow", "--member", "C:\\Pics\\anim.gif|framesatlas", "-o",
               dir / "member.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(MaxDifference(test::ReadPicture(dir / "member.png"), ref), 0);
  EXPECT_EQ(Lumshow({"image", dir / "gone.gif|framesatlas", "-o", dir / "x.png"}).status, 1);
}

}  // namespace
}  // namespace lum
