// Container trailer, directory and protection rules, on containers built byte
// by byte (not by the player's writer).
#include <gtest/gtest.h>

#include "container/lum_unpack.h"
#include "container/scramble_key.h"
#include "support/raw_container.h"
#include "support/stream_helpers.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TRawContainer;
using test::TTempDir;

std::string ReadMember(const TLumUnpack& u, std::string_view name) {
  return test::ReadAll(u.OpenMember(name));
}

TRawContainer ThreeMembers() {
  TRawContainer c;
  c.members.push_back({"Project.lum", test::RawDeflate("[Main]\r\nLumVersion=5.6\r\n"), 1, ""});
  c.members.push_back({"C:\\Photos\\a.jpg", test::Scramble("JPEGDATA", ScrambleKey()), 2, ""});
  c.members.push_back({"notes.txt", "plain", 0, ""});
  return c;
}

TEST(Trailer, ShortAndLongFormsGiveTheDirectoryAndBase) {
  TTempDir dir;
  TRawContainer c = ThreeMembers();
  int64_t d = 0;
  std::string shortForm = c.Build(&d);
  TLumUnpack u;
  ASSERT_TRUE(u.Open(dir.Write("short.lumshow", shortForm))) << u.Error();
  EXPECT_EQ(u.Trailer().form, TTrailerForm::Short);
  EXPECT_EQ(u.Trailer().base, 0);
  EXPECT_EQ(u.Trailer().directoryPos, d);
  EXPECT_EQ(ReadMember(u, "Project.lum"), "[Main]\r\nLumVersion=5.6\r\n");
  EXPECT_EQ(ReadMember(u, "C:\\Photos\\a.jpg"), "JPEGDATA");
  EXPECT_EQ(ReadMember(u, "notes.txt"), "plain");

  // Long form stored alone: the last int64 is the file size - 8, so the base is 0.
  c.longTrailer = true;
  std::string longForm = c.Build(&d);
  int64_t last = 0;
  for (int i = 7; i >= 0; --i)
    last = (last << 8) | static_cast<unsigned char>(longForm[longForm.size() - 8 + size_t(i)]);
  EXPECT_EQ(last, int64_t(longForm.size()) - 8);
  TLumUnpack l;
  ASSERT_TRUE(l.Open(dir.Write("long.lumshow", longForm))) << l.Error();
  EXPECT_EQ(l.Trailer().form, TTrailerForm::Long);
  EXPECT_EQ(l.Trailer().base, 0);
  EXPECT_EQ(ReadMember(l, "notes.txt"), "plain");
}

TEST(Trailer, LongFormAfterAnExecutableHasTheExecutableAsBase) {
  TTempDir dir;
  TRawContainer c = ThreeMembers();
  c.prefix = std::string(4096, 'E');
  c.longTrailer = true;
  int64_t d = 0;
  std::string bytes = c.Build(&d);
  TLumUnpack u;
  ASSERT_TRUE(u.Open(dir.Write("show.exe", bytes))) << u.Error();
  EXPECT_EQ(u.Trailer().base, 4096);
  EXPECT_EQ(u.Trailer().directoryPos, d);
  EXPECT_EQ(u.Shift(), 0);
  EXPECT_EQ(ReadMember(u, "notes.txt"), "plain");
}

TEST(Protection, MovedContainersNeedAllowModify) {
  TTempDir dir;
  // A standalone container (positions from its own start) appended to other bytes.
  TRawContainer c = ThreeMembers();
  c.longTrailer = true;
  int64_t d = 0;
  std::string alone = c.Build(&d);
  std::string junk(777, 'J');

  c.protection = "strucpos=" + std::to_string(d) + "\r\nallowmodify=1\r\nlumversion=5.6.1\r\n";
  TLumUnpack moved;
  ASSERT_TRUE(moved.Open(dir.Write("moved.exe", junk + c.Build()))) << moved.Error();
  EXPECT_EQ(moved.Shift(), 777);
  EXPECT_EQ(moved.LumVersion(), "5.6.1");
  EXPECT_EQ(ReadMember(moved, "C:\\Photos\\a.jpg"), "JPEGDATA");

  c.protection = "strucpos=" + std::to_string(d) + "\r\nallowmodify=0\r\n";
  TLumUnpack refused;
  EXPECT_FALSE(refused.Open(dir.Write("refused.exe", junk + c.Build())));
  EXPECT_EQ(refused.Error(), "Slide-show File Modified");

  // The same container where it was written opens without a shift.
  TLumUnpack inPlace;
  ASSERT_TRUE(inPlace.Open(dir.Write("inplace.lumshow", c.Build())));
  EXPECT_EQ(inPlace.Shift(), 0);
}

TEST(Protection, StrucposBeyondTheDirectoryOrNotANumberIsDamage) {
  TTempDir dir;
  TRawContainer c = ThreeMembers();
  int64_t d = 0;
  c.Build(&d);
  c.protection = "strucpos=" + std::to_string(d + 1) + "\r\nallowmodify=1\r\n";
  TLumUnpack later;
  EXPECT_FALSE(later.Open(dir.Write("a", c.Build())));
  EXPECT_EQ(later.Error(), "Slide-show File Damaged");
  c.protection = "strucpos=12x\r\nallowmodify=1\r\n";
  TLumUnpack nan;
  EXPECT_FALSE(nan.Open(dir.Write("b", c.Build())));
  EXPECT_EQ(nan.Error(), "Slide-show File Damaged");
  c.protection = "strucpos=" + std::to_string(d) + "\r\n";
  TLumUnpack same;
  EXPECT_TRUE(same.Open(dir.Write("c", c.Build())));
}

TEST(Open, MissingFilesAndFilesWithoutTrailer) {
  TTempDir dir;
  TLumUnpack missing;
  EXPECT_FALSE(missing.Open(dir / "nothing.lumshow"));
  EXPECT_EQ(missing.Error(), "Slideshow File not Found");
  TLumUnpack plain;
  EXPECT_FALSE(plain.Open(dir.Write("plain.txt", "just some text, no container here")));
  EXPECT_EQ(plain.Error(), "");  // not a container: no message
  TLumUnpack tiny;
  EXPECT_FALSE(tiny.Open(dir.Write("tiny", ".dne")));
  EXPECT_EQ(tiny.Error(), "");
}

TEST(MemberNames, MappedBracketsControlsAndLetterCase) {
  EXPECT_EQ(DirectoryName("a[1].jpg"), "a<1>.jpg");
  EXPECT_EQ(DirectoryName(std::string("x\ny\x1f", 4)), "x#0Ay#1F");
  EXPECT_EQ(MemberNameOf("a<1>.jpg", false), "a[1].jpg");
  EXPECT_EQ(MemberNameOf("x#0Ay#1F#41", true), std::string("x\ny\x1f#41", 7));
  EXPECT_EQ(MemberNameOf("x#0Ay", false), "x#0Ay");

  TTempDir dir;
  TRawContainer c;
  c.members.push_back({"Bilder\\Ärger<2>.JPG", "umlaut", 0, ""});
  c.members.push_back({"line#0Abreak", "control", 0, ""});
  c.members.push_back({"gone", "x", 0, ""});
  c.members.back().section = "gone";
  c.members.push_back({"ColorSpaceExe_C:\\a.jpg>.KVGFX", "cs", 0, ""});
  TLumUnpack u;
  ASSERT_TRUE(u.Open(dir.Write("n.lumshow", c.Build())));
  EXPECT_EQ(ReadMember(u, "bilder\\ärger[2].jpg"), "umlaut");
  EXPECT_EQ(ReadMember(u, "BILDER\\ÄRGER[2].JPG"), "umlaut");
  EXPECT_EQ(ReadMember(u, "line\nbreak"), "control");
  EXPECT_EQ(ReadMember(u, "line#0Abreak"), "control");
  EXPECT_EQ(ReadMember(u, "ColorSpaceExe_C:\\a.jpg].KVGFX"), "cs");
  EXPECT_EQ(ReadMember(u, "$protection$"), "(missing)");
  EXPECT_EQ(ReadMember(u, ""), "(missing)");
}

TEST(MemberEntries, MissingPositionsAndSizesMeanNoMember) {
  TTempDir dir;
  // Later duplicates win: one entry ends with "_ps=-1", one with "_sz=-1".
  TRawContainer d;
  d.longTrailer = true;
  d.members.push_back({"real", "abc", 0, ""});
  d.members.push_back({"noposition", "ghi", 0, "_ps=-1\r\n"});
  d.members.push_back({"nosize", "def", 0, "_sz=-1\r\n"});
  int64_t pos = 0;
  d.Build(&pos);
  d.protection = "strucpos=" + std::to_string(pos) + "\r\nallowmodify=1\r\n";
  std::string moved = "XX" + d.Build();
  TLumUnpack u;
  ASSERT_TRUE(u.Open(dir.Write("m", moved)));
  EXPECT_EQ(u.Shift(), 2);
  EXPECT_EQ(ReadMember(u, "real"), "abc");
  EXPECT_EQ(ReadMember(u, "nosize"), "(missing)");
  // A missing position stays missing although -1 + shift is no longer -1.
  EXPECT_EQ(ReadMember(u, "noposition"), "(missing)");
  std::vector<TMemberEntry> all = u.Members();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].sectionName, "real");
  EXPECT_EQ(all[0].position, 2);
}

}  // namespace
}  // namespace lum
