// Text macros: expansion order and termination, the slide and main-picture
// values, path and date helpers, and metadata read from a picture's file.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "foundation/memory_stream.h"
#include "imaging/picture_metadata.h"
#include "model/text_macros.h"

namespace lum {
namespace {

TMacroResolver SlideResolver(int index, int count, const TMainImageFacts& main) {
  return [=](std::string_view m) { return ResolveTextMacro(m, index, count, main); };
}

TEST(TextMacros, SlideNumbersInAnyCase) {
  TMainImageFacts none;
  EXPECT_EQ(ExpandTextMacros("Slide <%SlideIndex%> of <%SlidesCount%>", SlideResolver(2, 12, none)),
            "Slide 3 of 12");
  EXPECT_EQ(
      ExpandTextMacros("<%slideindex%>/<%SLIDESCOUNT%><%sLiDeInDeX%>", SlideResolver(0, 5, none)),
      "1/51");
  // Unknown and unfinished macros stay as written.
  EXPECT_EQ(ExpandTextMacros("<%Nope%> <%SlideIndex", SlideResolver(0, 5, none)),
            "<%Nope%> <%SlideIndex");
}

TEST(TextMacros, WithoutMainPictureEveryPictureMacroIsEmpty) {
  TMainImageFacts none;
  auto r = SlideResolver(0, 1, none);
  std::vector<std::string> lines = {"<%MainImg.FileName%>", "", "x<%MainImg.Width%>x",
                                    "<%MainImg.Exif.Date%><%MainImg.IPTC.City%>"};
  EXPECT_EQ(ExpandTextMacros(lines, r), (std::vector<std::string>{" ", " ", "xx", " "}));
  for (std::string_view m : ResolvedMacros())
    if (m.find("MainImg") != std::string_view::npos) {
      EXPECT_EQ(r(m), "") << m;
    }
  for (std::string_view m : DerivedMacros()) EXPECT_EQ(r(m), "") << m;
}

TEST(TextMacros, PathParts) {
  TMainImageFacts main;
  main.present = true;
  main.path = "C:\\Photos\\Trip\\img01.jpg";
  main.width = 1600;
  main.height = 1200;
  auto r = SlideResolver(0, 1, main);
  EXPECT_EQ(
      ExpandTextMacros("<%MainImg.FileName%>|<%MainImg.FileNameExt%>|<%MainImg.PathName%>|"
                       "<%MainImg.FolderPath%>|<%MainImg.FolderName%>|<%MainImg.PathNameExt%>|"
                       "<%MainImg.Width%>x<%MainImg.Height%>",
                       r),
      "img01|img01.jpg|C:\\Photos\\Trip\\img01|C:\\Photos\\Trip\\|Trip|"
      "C:\\Photos\\Trip\\img01.jpg|1600x1200");

  // Dots in folders, several dots, no extension, no folder, a trailing separator.
  EXPECT_EQ(PathFileName("C:\\a.b\\file"), "file");
  EXPECT_EQ(PathWithoutExt("C:\\a.b\\file"), "C:\\a.b\\file");
  EXPECT_EQ(PathFileName("x.tar.gz"), "x.tar");
  EXPECT_EQ(PathFileNameExt("x.tar.gz"), "x.tar.gz");
  EXPECT_EQ(PathFolderPath("x.jpg"), "");
  EXPECT_EQ(PathFolderName("x.jpg"), "");
  EXPECT_EQ(PathFileNameExt("C:\\Photos\\Trip\\"), "Trip");
  EXPECT_EQ(PathFileName("C:\\Photos\\Trip\\"), "");
  EXPECT_EQ(PathFolderName("C:\\Photos\\Trip\\"), "Trip");
  EXPECT_EQ(PathFolderName("C:\\img.jpg"), "");
  EXPECT_EQ(PathFolderName("Trip\\img.jpg"), "Trip");
  // Names with "/" are not split there: the document writes "\".
  EXPECT_EQ(PathFileNameExt("a/b.jpg"), "a/b.jpg");
}

TEST(TextMacros, ExifAndIptcValues) {
  TMainImageFacts main;
  main.present = true;
  main.exifDateTime = "2015:07:04 18:22:05";
  main.exifComment = "  Beach \t";
  main.exifDescription = "\nPier ";
  main.iptc = {{kIptcCity, " Saint-Malo "}, {kIptcByline, "Ann"}, {kIptcCaptionWriter, "Cyd"}};
  auto r = SlideResolver(0, 1, main);
  EXPECT_EQ(ExpandTextMacros("<%MainImg.Exif.Date%> at <%MainImg.Exif.Time%>", r),
            "2015:07:04 at 18:22:05");
  EXPECT_EQ(ExpandTextMacros("[<%MainImg.Exif.Comment%>][<%MainImg.Exif.Description%>]", r),
            "[Beach][Pier]");
  EXPECT_EQ(ExpandTextMacros("<%MainImg.IPTC.City%>, <%MainImg.IPTC.AuthorByline%>, "
                             "<%MainImg.IPTC.CaptionWriter%>, <%MainImg.IPTC.Country%>.",
                             r),
            "Saint-Malo, Ann, Cyd, .");
  EXPECT_EQ(DatePart("2015:07:04"), "2015:07:04");
  EXPECT_EQ(TimePart("2015:07:04"), "");
  EXPECT_EQ(TimePart("2015:07:04 18:22:05 x"), "18:22:05 x");
}

TEST(TextMacros, ReplacementTerminatesAndAsksPerOccurrence) {
  // A value holding its own macro stays as it is.
  std::map<std::string, int> asked;
  TMacroResolver echo = [&](std::string_view m) {
    ++asked[std::string(m)];
    if (m == "<%SlideIndex%>") return std::string("<%SlideIndex%><%slideindex%>");
    if (m == "<%MainImg.PathNameExt%>") return std::string("C:\\<%MainImg.FileName%>.jpg");
    return std::string();
  };
  EXPECT_EQ(ExpandTextMacros("<%SlideIndex%>-<%SlideIndex%>", echo),
            "<%SlideIndex%><%slideindex%>-<%SlideIndex%><%slideindex%>");
  EXPECT_EQ(asked["<%SlideIndex%>"], 2);
  // Later macros are expanded in values of earlier ones (replacement order),
  // and a derived macro asks for its source per occurrence.
  asked.clear();
  EXPECT_EQ(ExpandTextMacros("<%MainImg.PathNameExt%>", echo), "C:\\<%MainImg.FileName%>.jpg");
  EXPECT_EQ(asked["<%MainImg.PathNameExt%>"], 2);
  asked.clear();
  EXPECT_EQ(ExpandTextMacros("<%MainImg.FileName%><%MainImg.FileName%>", echo),
            "<%MainImg.FileName%><%MainImg.FileName%>");
  EXPECT_EQ(asked["<%MainImg.PathNameExt%>"], 2);
  // Lines without "<%" never ask.
  asked.clear();
  EXPECT_EQ(ExpandTextMacros("plain % text >", echo), "plain % text >");
  EXPECT_TRUE(asked.empty());
}

TEST(TextMacros, MetadataFromThePicturesFile) {
  // A JPEG header with an EXIF block (big-endian) and an IPTC City.
  std::string tiff("MM\0\x2a\0\0\0\x08", 8);
  tiff += std::string("\0\x01\x01\x32\0\x02\0\0\0\x14\0\0\0\x1a\0\0\0\0", 18);
  tiff += std::string("2015:07:04 18:22:05\0", 20);
  std::string exif = std::string("Exif\0\0", 6) + tiff;
  std::string iim = std::string("\x1c\x02\x5a\0\x05", 5) + "Paris";
  std::string res = std::string("8BIM\x04\x04\0\0\0\0\0\x0a", 12) + iim;
  std::string ps = std::string("Photoshop 3.0\0", 14) + res;
  auto seg = [](char marker, const std::string& p) {
    size_t n = p.size() + 2;
    return std::string{'\xff', marker, char(n >> 8), char(n & 0xff)} + p;
  };
  std::string jpeg = "\xff\xd8" + seg('\xe1', exif) + seg('\xed', ps) + "\xff\xd9";
  TMainImageFacts main;
  main.present = true;
  TMemoryStream s(jpeg);
  ReadMainImageMetadata(s, main);
  EXPECT_EQ(main.exifDateTime, "2015:07:04 18:22:05");
  EXPECT_EQ(main.iptc[kIptcCity], "Paris");
  auto r = SlideResolver(0, 1, main);
  EXPECT_EQ(ExpandTextMacros("<%MainImg.IPTC.City%> <%MainImg.Exif.Time%>", r), "Paris 18:22:05");

  TMemoryStream garbage(std::string_view("not a picture"));
  ReadMainImageMetadata(garbage, main);
  EXPECT_EQ(main.exifDateTime, "");
  EXPECT_TRUE(main.iptc.empty());
}

}  // namespace
}  // namespace lum
