// Damaged and hostile containers: every failure is a clear message, never a
// crash, a hang or an unbounded allocation.
#include <gtest/gtest.h>

#include "container/lum_show_locator.h"
#include "container/lum_unpack.h"
#include "container/scramble_key.h"
#include "container/z_stream.h"
#include "foundation/errors.h"
#include "support/raw_container.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TRawContainer;
using test::TTempDir;

std::string SmallShow() {
  TRawContainer c;
  c.members.push_back({"Project.lum",
                       test::RawDeflate("[Main]\r\nLumVersion=1\r\n[FileMap]\r\n;\"a\"=\"b\"\r\n"),
                       1, ""});
  c.members.push_back({"b", test::Scramble("scrambled member", ScrambleKey()), 2, ""});
  c.members.push_back({"c", test::RawDeflate(std::string(3000, 'c')), 1, ""});
  c.longTrailer = true;
  return c.Build();
}

// Opens the container and reads every member; exceptions are fine, crashes are not.
void Exercise(const std::string& path) {
  std::string message;
  auto loc = TLumShowLocator::OpenContainer(path, message);
  if (!loc) return;
  for (const TMemberEntry& e : loc->Unpack()->Members()) {
    try {
      auto s = loc->Unpack()->OpenEntry(e);
      char buf[4096];
      while (s && s->Read(buf, sizeof buf) > 0) {
      }
    } catch (const ELumError&) {
    }
  }
}

TEST(Hostile, TruncatedAtEveryLength) {
  TTempDir dir;
  std::string show = SmallShow();
  for (size_t n = 0; n < show.size(); ++n) {
    std::string path = dir.Write("t", show.substr(0, n));
    TLumUnpack u;
    // Without its last int64 a standalone long-form container is a valid short-form one.
    EXPECT_EQ(u.Open(path), n == show.size() - 8) << "length " << n;
    Exercise(path);
  }
}

TEST(Hostile, EveryByteFlipped) {
  TTempDir dir;
  std::string show = SmallShow();
  for (size_t i = 0; i < show.size(); ++i) {
    std::string bad = show;
    bad[i] = char(bad[i] ^ 0x5A);
    Exercise(dir.Write("f", bad));
  }
}

TEST(Hostile, MembersOutsideTheFileOrNegative) {
  TTempDir dir;
  TRawContainer c;
  c.members.push_back({"beyond", "abc", 0, "_ps=999999\r\n"});
  c.members.push_back({"toolong", "abc", 0, "_sz=1000000\r\n"});
  c.members.push_back({"negative", "abc", 0, "_ps=-5\r\n"});
  c.members.push_back({"negsize", "abc", 0, "_sz=-7\r\n"});
  c.members.push_back({"hugepos", "abc", 2, "_ps=9223372036854775807\r\n"});
  c.members.push_back({"badmethod", "abc", 0, "_pm=banana\r\n"});
  TLumUnpack u;
  ASSERT_TRUE(u.Open(dir.Write("m", c.Build())));
  for (const char* name : {"beyond", "toolong", "negative", "negsize", "hugepos"}) {
    try {
      u.OpenMember(name);
      ADD_FAILURE() << name << " opened";
    } catch (const EStreamError& e) {
      std::string what = e.what();
      EXPECT_TRUE(what == "Insufficient Source Size" || what == "Incorrect Position") << what;
    }
  }
  auto s = u.OpenMember("badmethod");  // not a number: method 0
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Size(), 3);
}

TEST(Hostile, TrailersPointingAnywhere) {
  TTempDir dir;
  std::string body(64, 'x');
  for (int64_t d : {int64_t(-1), int64_t(0), int64_t(60), int64_t(1) << 40, INT64_MIN, INT64_MAX}) {
    TLumUnpack shortForm;
    EXPECT_FALSE(shortForm.Open(dir.Write("s", body + test::LittleEndian64(d) + ".dne")));
    for (int64_t l : {int64_t(-100), int64_t(0), int64_t(72), INT64_MAX, INT64_MIN}) {
      TLumUnpack longForm;
      EXPECT_FALSE(longForm.Open(
          dir.Write("l", body + test::LittleEndian64(d) + ".dne" + test::LittleEndian64(l))));
      EXPECT_EQ(longForm.Error(), "Slide-show File Damaged");
    }
  }
  TLumUnpack notDeflate;
  EXPECT_FALSE(
      notDeflate.Open(dir.Write("n", "\xff\xfe garbage" + test::LittleEndian64(0) + ".dne")));
  EXPECT_EQ(notDeflate.Error(), "Slide-show File Damaged");
}

TEST(Hostile, DirectoryBombIsRefusedAtTheDocumentLimit) {
  TTempDir dir;
  // 129 MB of blanks packs into about 130 KB.
  std::string bomb = test::RawDeflate(std::string(size_t(kMaxDocumentSize) + (1 << 20), ' '));
  ASSERT_LT(bomb.size(), 1u << 20);
  TLumUnpack u;
  EXPECT_FALSE(u.Open(dir.Write("bomb", bomb + test::LittleEndian64(0) + ".dne")));
  EXPECT_EQ(u.Error(), "Slide-show File Damaged");
  EXPECT_NE(u.ErrorDetail().find("128 MB"), std::string::npos) << u.ErrorDetail();
}

TEST(Hostile, MemberBombStopsAtTheCap) {
  // The member cap works the same way as the directory's; a small cap keeps the test light.
  std::string bomb = test::RawDeflate(std::string(8 << 20, '\0'));
  TMemoryStream src(bomb);
  EXPECT_THROW(InflateToMemory(src, 4 << 20, "too big"), EZDecompressionError);
}

}  // namespace
}  // namespace lum
