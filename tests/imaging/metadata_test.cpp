// EXIF and IPTC facts: pictures tagged by exiftool, hand-written blocks in
// both byte orders, and hostile or truncated data.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <cstdio>

#include "foundation/code_page.h"
#include "foundation/memory_stream.h"
#include "imaging/image_fixtures.h"
#include "imaging/picture_metadata.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::ReadFile;
using test::RunTool;
using test::TTempDir;

// --- byte builders -----------------------------------------------------------

struct TBytes {
  std::string s;
  bool le = true;
  TBytes& U8(uint8_t v) {
    s.push_back(char(v));
    return *this;
  }
  TBytes& U16(uint16_t v) { return le ? U8(v & 0xFF).U8(v >> 8) : U8(v >> 8).U8(v & 0xFF); }
  TBytes& U32(uint32_t v) {
    return le ? U16(v & 0xFFFF).U16(v >> 16) : U16(v >> 16).U16(v & 0xFFFF);
  }
  TBytes& Raw(std::string_view b) {
    s.append(b);
    return *this;
  }
  TBytes& Entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    return U16(tag).U16(type).U32(count).U32(value);
  }
};

// A TIFF block: header, IFD0 at 8 with its entries, then extra data. Offsets
// in entries are relative to the block.
TBytes Tiff(bool le) {
  TBytes t;
  t.le = le;
  t.Raw(le ? "II" : "MM").U16(42).U32(8);
  return t;
}

std::string Segment(uint8_t marker, std::string_view payload) {
  std::string s = {char(0xFF), char(marker)};
  size_t len = payload.size() + 2;
  s += char(len >> 8);
  s += char(len & 0xFF);
  s.append(payload);
  return s;
}

// A JPEG header with the given segments; the scan data is never looked at.
std::string Jpeg(const std::vector<std::string>& segments) {
  std::string j = "\xFF\xD8";
  for (const std::string& s : segments) j += s;
  j += "\xFF\xDA";
  j.append(16, '\x55');
  j += "\xFF\xD9";
  return j;
}

std::string ExifSegment(const std::string& tiff) {
  return Segment(0xE1, std::string("Exif\0\0", 6) + tiff);
}

std::string Iim(int record, int dataset, std::string_view value) {
  TBytes b;
  b.le = false;
  b.U8(0x1C).U8(record).U8(dataset).U16(uint16_t(value.size())).Raw(value);
  return b.s;
}

std::string Resource(uint16_t id, std::string_view name, std::string_view data) {
  TBytes b;
  b.le = false;
  b.Raw("8BIM").U16(id).U8(uint8_t(name.size())).Raw(name);
  if ((1 + name.size()) % 2) b.U8(0);
  b.U32(uint32_t(data.size())).Raw(data);
  if (data.size() % 2) b.U8(0);
  return b.s;
}

std::string PhotoshopSegment(std::string_view resources) {
  return Segment(0xED, std::string("Photoshop 3.0\0", 14) + std::string(resources));
}

// IFD0 with a description, a date-time and the EXIF IFD (holding a user
// comment) laid out after it.
std::string SampleTiff(bool le, std::string_view comment) {
  std::string description = "A walk\0", date = "2015:07:04 18:22:05";
  date.push_back('\0');
  TBytes t = Tiff(le);
  uint32_t ifd0Size = 2 + 3 * 12 + 4;
  uint32_t descAt = 8 + ifd0Size, dateAt = descAt + 8, exifAt = dateAt + 20;
  uint32_t commentAt = exifAt + 2 + 12 + 4;
  t.U16(3)
      .Entry(0x010E, 2, 7, descAt)
      .Entry(0x0132, 2, 20, dateAt)
      .Entry(0x8769, 4, 1, exifAt)
      .U32(0);
  t.Raw(std::string_view("A walk\0\0", 8)).Raw(date);
  t.U16(1).Entry(0x9286, 7, uint32_t(comment.size()), commentAt).U32(0).Raw(comment);
  return t.s;
}

// --- hand-written blocks -----------------------------------------------------

TEST(Exif, BothByteOrdersAndCommentCharsets) {
  std::string ascii = std::string("ASCII\0\0\0", 8) + "  Beach day \0\0";
  for (bool le : {true, false}) {
    TPictureMetadata m = ReadPictureMetadata(Jpeg({ExifSegment(SampleTiff(le, ascii))}));
    EXPECT_TRUE(m.exif.found);
    EXPECT_EQ(m.exif.imageDescription, "A walk");
    EXPECT_EQ(m.exif.dateTime, "2015:07:04 18:22:05");
    EXPECT_EQ(m.exif.userComment, "  Beach day ");  // trimming is the caller's choice

    // UTF-16 in the block's order, in the other order (writers disagree) and with a mark.
    std::u16string text = u"Gr\u00fc\u00dfe \u2603";
    auto utf16 = [&](bool littleEndian, bool bom) {
      std::string s("UNICODE\0", 8);
      if (bom) s += littleEndian ? "\xFF\xFE" : "\xFE\xFF";
      for (char16_t c : text) {
        char lo = char(c & 0xFF), hi = char(c >> 8);
        s += littleEndian ? lo : hi;
        s += littleEndian ? hi : lo;
      }
      return s;
    };
    for (bool textLe : {true, false})
      for (bool bom : {false, true}) {
        TPictureMetadata u =
            ReadPictureMetadata(Jpeg({ExifSegment(SampleTiff(le, utf16(textLe, bom)))}));
        EXPECT_EQ(u.exif.userComment, "Gr\u00fc\u00dfe \u2603") << le << textLe << bom;
      }

    // Undefined charset: UTF-8 when valid, else the code page.
    std::string undefined(8, '\0');
    EXPECT_EQ(ReadPictureMetadata(Jpeg({ExifSegment(SampleTiff(le, undefined + "caf\xc3\xa9"))}))
                  .exif.userComment,
              "caf\u00e9");
    EXPECT_EQ(ReadPictureMetadata(Jpeg({ExifSegment(SampleTiff(le, undefined + "caf\xe9"))}))
                  .exif.userComment,
              AnsiToUtf8("caf\xe9"));
    // Too short for its charset header; JIS cannot be decoded here.
    EXPECT_EQ(ReadPictureMetadata(Jpeg({ExifSegment(SampleTiff(le, "ASCII"))})).exif.userComment,
              "");
    EXPECT_EQ(ReadPictureMetadata(
                  Jpeg({ExifSegment(SampleTiff(le, std::string("JIS\0\0\0\0\0", 8) + "x"))}))
                  .exif.userComment,
              "");
  }
}

TEST(Exif, ShortValuesInsideTheEntryAndSegmentsAround) {
  // "Hi" fits in the entry's value field; an XMP APP1 and other segments come first.
  TBytes t = Tiff(true);
  t.U16(1).U16(0x010E).U16(2).U32(3).Raw(std::string_view("Hi\0\0", 4)).U32(0);
  std::string xmp = Segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>");
  std::string app0 = Segment(0xE0, std::string("JFIF\0", 5) + std::string(9, '\0'));
  // Fill bytes before a marker are legal; the second EXIF block is ignored.
  std::string jpeg =
      Jpeg({app0, xmp, "\xFF\xFF\xFF", ExifSegment(t.s), ExifSegment(SampleTiff(true, ""))});
  TPictureMetadata m = ReadPictureMetadata(jpeg);
  EXPECT_EQ(m.exif.imageDescription, "Hi");
  EXPECT_EQ(m.exif.dateTime, "");
}

TEST(Exif, HostileBlocksGiveEmptyFields) {
  auto parse = [](const std::string& tiff) { return ParseExifTiff(tiff); };
  EXPECT_FALSE(parse("").found);
  EXPECT_FALSE(parse("IIxx\x08\0\0\0").found);
  EXPECT_FALSE(parse("II*\0\x08\0\0").found);

  // IFD0 past the end.
  TBytes t = Tiff(true);
  t.s.replace(4, 4, std::string("\xff\xff\xff\xff", 4));
  TExifFacts f = parse(t.s);
  EXPECT_TRUE(f.found);
  EXPECT_EQ(f.imageDescription, "");

  // Values past the end, counts that overflow 32 bits, unknown types.
  TBytes v = Tiff(false);
  v.U16(5)
      .Entry(0x010E, 2, 50, 0xFFFFFFF0)
      .Entry(0x0132, 5, 0xFFFFFFFF, 8)
      .Entry(0x0132, 99, 1, 0)
      .Entry(0x8769, 4, 1, 0xFFFFFF00)
      .Entry(0x010E, 2, 0x80000000, 8);
  f = parse(v.s);
  EXPECT_EQ(f.imageDescription, "");
  EXPECT_EQ(f.dateTime, "");

  // An entry count far larger than the block: the entries that fit are read.
  TBytes w = Tiff(true);
  w.U16(0xFFFF).Entry(0x010E, 2, 3, 0x00006948);  // "Hi" inline
  f = parse(w.s);
  EXPECT_EQ(f.imageDescription, "Hi");

  // The EXIF IFD pointing back at IFD0 and at itself: both visited once.
  TBytes l = Tiff(true);
  l.U16(2).Entry(0x8769, 4, 1, 8).Entry(0x9286, 7, 4, 0x41414141).U32(8);
  f = parse(l.s);
  EXPECT_EQ(f.userComment, "");  // four bytes are too short for a charset header
  TBytes loop = Tiff(true);
  loop.U16(1).Entry(0x8769, 13, 1, 8).U32(8);
  EXPECT_TRUE(parse(loop.s).found);
}

TEST(Iptc, DatasetsFirstValuesAndEncodings) {
  std::string iim = Iim(1, 0, std::string("\0\4", 2)) + Iim(2, 0, std::string("\0\4", 2)) +
                    Iim(2, 90, "Z\xfcrich") + Iim(2, 80, "First") + Iim(2, 80, "Second") +
                    Iim(2, 5, "Title") + Iim(2, 200, "ignored") + Iim(2, 122, "Writer");
  std::string resources = Resource(0x03ED, "", std::string(16, '\x01')) +
                          Resource(0x0404, "odd", iim) + Resource(0x0404, "", Iim(2, 90, "No"));
  TPictureMetadata m = ReadPictureMetadata(Jpeg({PhotoshopSegment(resources)}));
  EXPECT_FALSE(m.exif.found);
  EXPECT_EQ(m.iptc[kIptcCity], AnsiToUtf8("Z\xfcrich"));  // not UTF-8: the code page
  EXPECT_EQ(m.iptc[kIptcByline], "First");
  EXPECT_EQ(m.iptc[kIptcDocumentTitle], "Title");
  EXPECT_EQ(m.iptc[kIptcCaptionWriter], "Writer");
  EXPECT_EQ(m.iptc.count(200), 0u);

  // Valid UTF-8 stays; a declared UTF-8 block keeps its text even when damaged.
  EXPECT_EQ(ParseIptcRecords(Iim(2, 90, "Z\xc3\xbcrich"))[kIptcCity], "Z\u00fcrich");
  std::string declared = Iim(1, 90, "\x1b%G") + Iim(2, 90, "Z\xfcrich");
  EXPECT_EQ(ParseIptcRecords(declared)[kIptcCity], "Z\ufffdrich");

  // Resources spread over two APP13 segments are joined.
  std::string all = Resource(0x0404, "", Iim(2, 101, "France"));
  std::string split = Jpeg({PhotoshopSegment(all.substr(0, 9)), PhotoshopSegment(all.substr(9))});
  EXPECT_EQ(ReadPictureMetadata(split).iptc[kIptcCountry], "France");

  // An extended dataset (length given in a 4-byte field).
  TBytes ext;
  ext.le = false;
  ext.U8(0x1C).U8(2).U8(105).U16(0x8004).U32(5).Raw("Hello");
  EXPECT_EQ(ParseIptcRecords(ext.s)[kIptcHeadline], "Hello");
}

TEST(Iptc, HostileBlocksStopTheWalk) {
  TBytes b;
  b.le = false;
  // Lengths past the end, extended lengths of absurd size, zero-size length fields.
  b.U8(0x1C).U8(2).U8(90).U16(0x7FFF).Raw("short");
  EXPECT_TRUE(ParseIptcRecords(b.s).empty());
  TBytes e;
  e.le = false;
  e.U8(0x1C).U8(2).U8(90).U16(0x8008).U32(0).U32(1);
  EXPECT_TRUE(ParseIptcRecords(e.s).empty());
  TBytes z;
  z.le = false;
  z.U8(0x1C).U8(2).U8(90).U16(0x8000).Raw("abc");
  EXPECT_TRUE(ParseIptcRecords(z.s).empty());
  // Records after junk are not read; records before it are.
  EXPECT_EQ(ParseIptcRecords(Iim(2, 90, "A") + "junk" + Iim(2, 92, "B")).size(), 1u);

  // A resource whose size runs past the block, and a name past the end.
  TBytes r;
  r.le = false;
  r.Raw("8BIM").U16(0x0404).U16(0).U32(0xFFFFFFF0).Raw(Iim(2, 90, "X"));
  EXPECT_TRUE(ParseIptcResources(r.s).empty());
  EXPECT_TRUE(ParseIptcResources("8BIM\x04\x04\xff" + std::string(10, 'a')).empty());
  EXPECT_TRUE(ParseIptcResources("XXXX" + Resource(0x0404, "", Iim(2, 90, "X"))).empty());
}

TEST(PictureMetadata, NonJpegAndDamagedMarkers) {
  EXPECT_FALSE(ReadPictureMetadata(std::string_view("\x89PNG\r\n\x1a\n....")).exif.found);
  EXPECT_FALSE(ReadPictureMetadata(std::string_view("")).exif.found);
  // A segment length below 2, a run of fill bytes to the end, a marker without length.
  EXPECT_FALSE(ReadPictureMetadata(std::string_view("\xFF\xD8\xFF\xE1\x00\x01", 6)).exif.found);
  EXPECT_FALSE(ReadPictureMetadata("\xFF\xD8" + std::string(100000, '\xFF')).exif.found);
  EXPECT_FALSE(ReadPictureMetadata(std::string_view("\xFF\xD8\xFF\xE1\x00", 5)).exif.found);
  // Data after the start of scan is never read.
  std::string late = "\xFF\xD8\xFF\xDA" + ExifSegment(SampleTiff(true, ""));
  EXPECT_FALSE(ReadPictureMetadata(late).exif.found);
}

// --- pictures tagged by exiftool ----------------------------------------------

bool HaveExiftool() {
  return access("/usr/bin/exiftool", X_OK) == 0;
}

struct TTagged {
  TTempDir dir;
  std::string path;
  explicit TTagged(const std::vector<std::string>& tags) {
    std::string ppm = dir.Write("in.ppm", test::WritePpm(test::MakeTestPicture(24, 16)));
    path = dir / "tagged.jpg";
    RunTool({"cjpeg", "-quality", "80", "-outfile", path, ppm});
    std::vector<std::string> argv = {"exiftool", "-q", "-overwrite_original"};
    argv.insert(argv.end(), tags.begin(), tags.end());
    argv.push_back(path);
    RunTool(argv);
  }
  std::string Bytes() const { return ReadFile(path); }
};

TEST(PictureMetadata, ReadsWhatExiftoolWrote) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  for (const char* order : {"MM", "II"}) {
    TTagged pic({std::string("-ExifByteOrder=") + order,
                 "-EXIF:ImageDescription=Harbour at dusk",
                 "-EXIF:ModifyDate=2015:07:04 18:22:05",
                 "-EXIF:UserComment=Taken from the pier",
                 "-IPTC:ObjectName=Boats",
                 "-IPTC:City=Saint-Malo",
                 "-IPTC:By-line=Ann",
                 "-IPTC:By-line=Bob",
                 "-IPTC:By-lineTitle=Photographer",
                 "-IPTC:Sub-location=Port",
                 "-IPTC:Province-State=Bretagne",
                 "-IPTC:Country-PrimaryLocationName=France",
                 "-IPTC:OriginalTransmissionReference=T-42",
                 "-IPTC:Headline=Evening",
                 "-IPTC:Credit=Agency",
                 "-IPTC:Source=Archive",
                 "-IPTC:CopyrightNotice=(c) Ann",
                 "-IPTC:Caption-Abstract=Boats at rest",
                 "-IPTC:Writer-Editor=Cyd",
                 "-IPTC:Writer-Editor=Dee",
                 "-IPTC:SpecialInstructions=None"});
    TMemoryStream s(pic.Bytes());
    TPictureMetadata m = ReadPictureMetadata(s);
    EXPECT_TRUE(m.exif.found) << order;
    EXPECT_EQ(m.exif.imageDescription, "Harbour at dusk");
    EXPECT_EQ(m.exif.dateTime, "2015:07:04 18:22:05");
    EXPECT_EQ(m.exif.userComment, "Taken from the pier");
    std::map<int, std::string> want = {{kIptcDocumentTitle, "Boats"},
                                       {kIptcSpecialInstructions, "None"},
                                       {kIptcByline, "Ann"},
                                       {kIptcBylineTitle, "Photographer"},
                                       {kIptcCity, "Saint-Malo"},
                                       {kIptcSublocation, "Port"},
                                       {kIptcProvinceState, "Bretagne"},
                                       {kIptcCountry, "France"},
                                       {kIptcTransmissionReference, "T-42"},
                                       {kIptcHeadline, "Evening"},
                                       {kIptcCredit, "Agency"},
                                       {kIptcSource, "Archive"},
                                       {kIptcCopyright, "(c) Ann"},
                                       {kIptcCaption, "Boats at rest"},
                                       {kIptcCaptionWriter, "Cyd"}};
    EXPECT_EQ(m.iptc, want);
  }
}

TEST(PictureMetadata, NonAsciiTextFromExiftool) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  // A UTF-16 user comment; IPTC declared as UTF-8, and IPTC in the Latin code page.
  TTagged utf8({"-EXIF:UserComment=Gr\u00fc\u00dfe aus K\u00f6ln \u2603",
                "-IPTC:CodedCharacterSet=UTF8", "-IPTC:City=K\u00f6ln"});
  TPictureMetadata m = ReadPictureMetadata(utf8.Bytes());
  EXPECT_EQ(m.exif.userComment, "Gr\u00fc\u00dfe aus K\u00f6ln \u2603");
  EXPECT_EQ(m.iptc[kIptcCity], "K\u00f6ln");
  TTagged latin({"-IPTC:City=K\u00f6ln"});
  ASSERT_EQ(CodePage(), 1252);
  EXPECT_EQ(ReadPictureMetadata(latin.Bytes()).iptc[kIptcCity], "K\u00f6ln");
}

TEST(PictureMetadata, EveryTruncationIsHarmless) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  TTagged pic({"-EXIF:ImageDescription=Harbour", "-EXIF:ModifyDate=2015:07:04 18:22:05",
               "-EXIF:UserComment=Pier", "-IPTC:City=Saint-Malo", "-IPTC:By-line=Ann"});
  std::string bytes = pic.Bytes();
  TPictureMetadata full = ReadPictureMetadata(bytes);
  ASSERT_EQ(full.exif.dateTime, "2015:07:04 18:22:05");
  ASSERT_EQ(full.iptc[kIptcCity], "Saint-Malo");
  // A cut file gives each field whole or not at all.
  for (size_t n = 0; n <= bytes.size(); ++n) {
    TPictureMetadata m = ReadPictureMetadata(std::string_view(bytes).substr(0, n));
    for (auto [got, want] : {std::pair{&m.exif.dateTime, &full.exif.dateTime},
                             std::pair{&m.exif.imageDescription, &full.exif.imageDescription},
                             std::pair{&m.exif.userComment, &full.exif.userComment}})
      if (!got->empty()) {
        ASSERT_EQ(*got, *want) << n;
      }
    for (auto& [ds, v] : m.iptc) ASSERT_EQ(v, full.iptc[ds]) << n;
  }
}

// --- PNG chunks ----------------------------------------------------------------

std::string Be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string Chunk(std::string_view type, std::string_view data) {
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size()));
  return Be32(uint32_t(data.size())) + std::string(type) + std::string(data) + Be32(uint32_t(crc));
}

std::string Deflated(std::string_view text) {
  uLongf n = compressBound(uLong(text.size()));
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(text.data()),
           uLong(text.size()));
  out.resize(n);
  return out;
}

std::string Png(const std::string& chunks) {
  return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", std::string(13, '\1')) + chunks +
         Chunk("IDAT", "x") + Chunk("IEND", "");
}

std::string Time(int y, int mo, int d, int h, int mi, int s) {
  return Chunk("tIME", std::string{char(y >> 8), char(y & 0xFF), char(mo), char(d), char(h),
                                   char(mi), char(s)});
}

TEST(PngMetadata, TextChunksAndTimesStandInForExif) {
  // Latin-1 tEXt, compressed zTXt, UTF-8 iTXt; the creation time in the
  // form the PNG specification suggests, over the time of the last change.
  const std::string texts =
      Chunk("tEXt", std::string("Comment\0K\xf6ln", 12)) +
      Chunk("zTXt", std::string("Description\0\0", 13) + Deflated("Harbour at dusk")) +
      Chunk("iTXt", std::string("Creation Time\0\0\0de\0Erstellt\0", 28) +
                        "Sat, 04 Jul 2015 18:22:05 GMT") +
      Time(2020, 1, 2, 3, 4, 5);
  TPictureMetadata m = ReadPictureMetadata(Png(texts));
  EXPECT_FALSE(m.exif.found);
  EXPECT_EQ(m.exif.userComment, "K\u00f6ln");
  EXPECT_EQ(m.exif.imageDescription, "Harbour at dusk");
  EXPECT_EQ(m.exif.dateTime, "2015:07:04 18:22:05");
  // Without a creation time, the last change; ISO 8601 and EXIF's own form.
  EXPECT_EQ(ReadPictureMetadata(Png(Time(2020, 1, 2, 3, 4, 5))).exif.dateTime,
            "2020:01:02 03:04:05");
  for (const char* iso : {"2014-01-02T03:04:05+01:00", "2014:01:02 03:04:05"})
    EXPECT_EQ(ReadPictureMetadata(Png(Chunk("tEXt", std::string("Creation Time\0", 14) + iso)))
                  .exif.dateTime,
              "2014:01:02 03:04:05")
        << iso;
  // EXIF wins over the texts; a tool's raw IPTC profile gives IPTC.
  TBytes t = Tiff(false);
  t.U16(1).Entry(0x010E, 2, 4, 0x45584946).U32(0);  // "EXIF", held in the entry
  const std::string iim = std::string("\x1c\x02\x5a\x00\x05", 5) + "Paris";
  std::string hex;
  for (unsigned char c : iim) {
    char b[3];
    std::snprintf(b, sizeof b, "%02x", c);
    hex += b;
  }
  const std::string raw = "\nIPTC profile\n      " + std::to_string(iim.size()) + "\n" + hex + "\n";
  m = ReadPictureMetadata(
      Png(Chunk("eXIf", t.s) + texts +
          Chunk("zTXt", std::string("Raw profile type iptc\0\0", 23) + Deflated(raw))));
  EXPECT_TRUE(m.exif.found);
  EXPECT_EQ(m.exif.imageDescription, "EXIF");
  EXPECT_EQ(m.exif.userComment, "K\u00f6ln");  // EXIF has none
  EXPECT_EQ(m.iptc[kIptcCity], "Paris");
}

TEST(PngMetadata, DamagedAndHostileChunksTellNothing) {
  // A wrong checksum, an unknown time, a text of more than a megabyte once
  // inflated, a chunk claiming 2 GB: none of them read, nothing held.
  std::string bad = Chunk("tEXt", std::string("Comment\0Bad", 11));
  bad[bad.size() - 1] ^= 1;
  const std::string big =
      Chunk("zTXt", std::string("Comment\0\0", 9) + Deflated(std::string((1 << 20) + 1, 'a')));
  const std::string huge = Be32(0x7FFFFFF0) + "tEXt" + "Comment";
  TPictureMetadata m =
      ReadPictureMetadata(Png(bad + Chunk("tEXt", std::string("Creation Time\0yesterday", 23)) +
                              Time(2020, 13, 2, 3, 4, 5) + big + huge));
  EXPECT_TRUE(m.exif.userComment.empty()) << m.exif.userComment.size() << " bytes";
  EXPECT_TRUE(m.exif.dateTime.empty()) << m.exif.dateTime;
  EXPECT_FALSE(ReadPictureMetadata(std::string_view("\x89PNG\r\n\x1a", 7)).exif.found);
}

TEST(PngMetadata, ReadsWhatExiftoolWroteAndEveryTruncationIsHarmless) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  TTempDir dir;
  const std::string path = dir / "tagged.png";
  RunTool({"convert", "-size", "24x16", "xc:red", path});
  RunTool({"exiftool", "-q", "-overwrite_original", "-EXIF:ImageDescription=Harbour at dusk",
           "-EXIF:ModifyDate=2015:07:04 18:22:05", "-EXIF:UserComment=Taken from the pier",
           "-IPTC:City=Saint-Malo", "-IPTC:By-line=Ann", path});
  const std::string bytes = ReadFile(path);
  const TPictureMetadata full = ReadPictureMetadata(bytes);
  EXPECT_TRUE(full.exif.found);
  EXPECT_EQ(full.exif.imageDescription, "Harbour at dusk");
  EXPECT_EQ(full.exif.dateTime, "2015:07:04 18:22:05");
  EXPECT_EQ(full.exif.userComment, "Taken from the pier");
  EXPECT_EQ(full.iptc, (TIptcFacts{{kIptcCity, "Saint-Malo"}, {kIptcByline, "Ann"}}));
  for (size_t n = 0; n <= bytes.size(); ++n) {
    TPictureMetadata m = ReadPictureMetadata(std::string_view(bytes).substr(0, n));
    for (auto [got, want] : {std::pair{&m.exif.imageDescription, &full.exif.imageDescription},
                             std::pair{&m.exif.userComment, &full.exif.userComment}})
      if (!got->empty()) ASSERT_EQ(*got, *want) << n;
    for (auto& [ds, v] : m.iptc) ASSERT_EQ(v, full.iptc.at(ds)) << n;
  }
}

}  // namespace
}  // namespace lum
