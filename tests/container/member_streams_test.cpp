// Stream layers that turn a container member into a readable stream.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "container/crypt_stream.h"
#include "container/load_yield.h"
#include "container/member_stream.h"
#include "container/partial_stream.h"
#include "container/z_stream.h"
#include "foundation/errors.h"
#include "foundation/memory_stream.h"
#include "support/raw_container.h"
#include "support/stream_helpers.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::ErrorOf;
using test::RawDeflate;
using test::ReadAll;
using test::TTempDir;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char((i * 131 + i / 7) & 0xFF);
  return s;
}

std::atomic<int> gHookCalls{0};
bool CountingHook() {
  ++gHookCalls;
  return true;
}

// Records the size of every read that reaches the source.
class TCountingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  size_t Read(void* b, size_t n) override {
    ++reads;
    largest = std::max(largest, n);
    return TMemoryStream::Read(b, n);
  }
  int reads = 0;
  size_t largest = 0;
};

TEST(PartialStream, WindowPositionAndBounds) {
  TMemoryStream src(Pattern(1000));
  TPartialStream w(src, 100, 300);
  EXPECT_EQ(w.Position(), 0);
  EXPECT_EQ(src.Position(), 100);  // positioned at the window's start
  EXPECT_EQ(w.Size(), 300);
  EXPECT_EQ(ReadAll(w), Pattern(1000).substr(100, 300));
  char c;
  EXPECT_EQ(w.Read(&c, 1), 0u);  // past the end: nothing more
  w.SetPosition(250);
  char buf[100];
  EXPECT_EQ(w.Read(buf, 100), 50u);  // up to the end, then 0
  EXPECT_EQ(w.Seek(-10, TSeekOrigin::End), 290);
  EXPECT_EQ(ErrorOf([&] { w.SetPosition(301); }), "Incorrect Position");
  EXPECT_EQ(ErrorOf([&] { w.SetPosition(-1); }), "Incorrect Position");
  EXPECT_EQ(ErrorOf([&] { w.SetSize(10); }), "Stream Cannot be resized");
  EXPECT_EQ(ErrorOf([&] { TPartialStream(src, 900, 101); }), "Insufficient Source Size");
  EXPECT_EQ(ErrorOf([&] { TPartialStream(src, INT64_MAX, 2); }), "Insufficient Source Size");
  EXPECT_EQ(ErrorOf([&] { TPartialStream(src, -5, 2); }), "Incorrect Position");
  TPartialStream empty(src, 1000, 0);
  EXPECT_EQ(empty.Read(buf, 10), 0u);
}

TEST(PartialStream, HookedReadsGoInSmallPiecesAndCallTheHookAfterEach) {
  TCountingStream src(Pattern(5000));
  TPartialStream w(src, 0, 5000);
  w.SetHook(CountingHook, 32768);
  EXPECT_EQ(w.PieceSize(), 256u);
  gHookCalls = 0;
  std::string data(1000, '\0');
  EXPECT_EQ(w.Read(data.data(), 1000), 1000u);
  EXPECT_EQ(gHookCalls, 4);  // 256 + 256 + 256 + 232
  EXPECT_EQ(src.largest, 256u);
  EXPECT_EQ(data, Pattern(5000).substr(0, 1000));

  TCountingStream plain(Pattern(100000));
  TPartialStream u(plain, 0, 100000);
  EXPECT_EQ(u.PieceSize(), 32768u);
  std::string all(100000, '\0');
  EXPECT_EQ(u.Read(all.data(), all.size()), all.size());
  EXPECT_EQ(plain.reads, 4);
}

TEST(PartialStream, CopyFromCallsTheHookAroundEveryWriteAndStopsAtTheWindow) {
  TMemoryStream target(std::string(600, 'x'));
  TPartialStream w(target, 100, 300);
  w.SetHook(CountingHook, 100);
  TMemoryStream src(Pattern(300));
  gHookCalls = 0;
  EXPECT_EQ(w.CopyFrom(src, 300), 300);
  EXPECT_EQ(gHookCalls, 6);  // before and after each of 3 pieces
  EXPECT_EQ(target.View().substr(100, 300), Pattern(300));
  EXPECT_EQ(target.View().substr(0, 100), std::string(100, 'x'));
  // Writing beyond the window is a short write.
  TMemoryStream more(Pattern(50));
  w.SetPosition(280);
  EXPECT_EQ(ErrorOf([&] { w.CopyFrom(more, 50); }), "Stream write error");
}

TEST(CryptStream, ReadsAtAnyPositionMatchReadingFromTheStart) {
  const std::string key = "0123456";  // 7 does not divide the block sizes
  std::string plain = Pattern(3000);
  TMemoryStream inner(test::Scramble(plain, key));
  TCryptStream c(inner, key);
  EXPECT_EQ(ReadAll(c), plain);
  for (int64_t pos : {0, 1, 6, 7, 255, 256, 257, 1000, 2999}) {
    c.SetPosition(pos);
    char buf[300];
    size_t n = c.Read(buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n), plain.substr(size_t(pos), n)) << pos;
  }
  // Writing scrambles with the same key index, so a write at 10 reads back.
  c.SetPosition(10);
  c.WriteBuffer("hello", 5);
  c.SetPosition(8);
  char buf[9];
  c.ReadBuffer(buf, 9);
  EXPECT_EQ(std::string(buf, 9), plain.substr(8, 2) + "hello" + plain.substr(15, 2));
  EXPECT_EQ(inner.View().substr(10, 5),
            test::Scramble(std::string(3, '\0') + "hello", key).substr(3));
}

TEST(InflateStream, ReadsForwardAndRefusesBackwardSeeks) {
  std::string plain = Pattern(200000);
  TMemoryStream packed(RawDeflate(plain) + "TAIL");
  TInflateStream z(packed);
  std::string first(1000, '\0');
  z.ReadBuffer(first.data(), 1000);
  EXPECT_EQ(first, plain.substr(0, 1000));
  EXPECT_EQ(z.Position(), 1000);
  EXPECT_EQ(z.Seek(1000, TSeekOrigin::Begin), 1000);  // to the current position: ignored
  EXPECT_EQ(ErrorOf([&] { z.SetPosition(10); }), "Invalid ZStream operation!");
  EXPECT_EQ(z.Seek(500, TSeekOrigin::Current), 1500);
  EXPECT_EQ(z.Seek(5000, TSeekOrigin::Begin), 5000);
  // Others may move the source between reads.
  packed.SetPosition(3);
  char c;
  z.ReadBuffer(&c, 1);
  EXPECT_EQ(c, plain[5000]);
  EXPECT_EQ(z.Seek(0, TSeekOrigin::End), int64_t(plain.size()));
  EXPECT_TRUE(z.Ended());
  // Unread input goes back: what follows the compressed data is readable.
  char tail[4];
  packed.ReadBuffer(tail, 4);
  EXPECT_EQ(std::string(tail, 4), "TAIL");
  z.SetPosition(0);
  EXPECT_EQ(ReadAll(z), plain);
  EXPECT_EQ(ErrorOf([&] { z.Write("x", 1); }), "Invalid ZStream operation!");
  EXPECT_EQ(ErrorOf([&] { z.SetSize(1); }), "Invalid ZStream operation!");
  EXPECT_EQ(z.Size(), -1);
}

TEST(InflateStream, ZlibFormatAndProgressAndErrors) {
  std::string plain = Pattern(150000);
  uLongf n = compressBound(uLong(plain.size()));
  std::string packed(n, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &n,
                     reinterpret_cast<const Bytef*>(plain.data()), uLong(plain.size())),
            Z_OK);
  packed.resize(n);
  TMemoryStream src(packed);
  TZDecompressionStream z(src);
  int progress = 0;
  z.SetProgress([&] { ++progress; });
  EXPECT_EQ(ReadAll(z), plain);
  EXPECT_GE(progress, 1);
  z.SetSize(5);  // ignored for the zlib format
  EXPECT_EQ(z.Size(), -1);

  TMemoryStream junk(std::string("\xFF\xFF\xFF\xFF garbage", 12));
  TInflateStream bad(junk);
  char buf[16];
  EXPECT_THROW(bad.Read(buf, sizeof buf), EZDecompressionError);
}

TEST(InflateToMemory, LimitsDamageAndTruncation) {
  std::string plain(100000, 'a');
  std::string packed = RawDeflate(plain);
  TMemoryStream ok(packed);
  EXPECT_EQ(InflateToMemory(ok, 100000, "big")->View(), plain);
  TMemoryStream big(packed);
  EXPECT_EQ(ErrorOf([&] { InflateToMemory(big, 99999, "too big"); }), "too big");
  TMemoryStream cut(packed.substr(0, packed.size() / 2));
  EXPECT_THROW(InflateToMemory(cut, 1 << 20, "big"), EZDecompressionError);
  std::string damaged = packed;
  damaged[0] = char(0xFF);  // invalid block type
  TMemoryStream dmg(damaged);
  EXPECT_THROW(InflateToMemory(dmg, 1 << 20, "big"), EZDecompressionError);
}

TEST(CallbackInflater, InflatesWholeSourceWithinItsLimit) {
  std::string plain = Pattern(120000);
  std::string packed = RawDeflate(plain);
  TMemoryStream src(packed);
  TMemoryStream out;
  int progress = 0;
  InflateWithCallbacks(
      src, out, [&] { ++progress; }, 1 << 20);
  EXPECT_EQ(out.View(), plain);
  EXPECT_GT(progress, 2);
  TMemoryStream again(packed), small;
  EXPECT_THROW(InflateWithCallbacks(again, small, nullptr, 1000), EZDecompressionError);
  TMemoryStream cut(packed.substr(0, 100)), partial;
  EXPECT_THROW(InflateWithCallbacks(cut, partial, nullptr, 1 << 20), EZDecompressionError);
}

TEST(LoadYield, ModesDecideWhetherToContinue) {
  SetLoadYieldMode(0);
  EXPECT_TRUE(LoadYieldHook());
  SetLoadYieldMode(3);
  EXPECT_FALSE(LoadYieldHook());
  SetLoadYieldMode(1);
  EXPECT_TRUE(LoadYieldHook());
  SetLoadYieldMode(2);  // raising priority may be refused; never an error
  EXPECT_EQ(LoadYieldMode(), 2);
  EXPECT_TRUE(LoadYieldHook());
  SetLoadYieldMode(0);
  EXPECT_EQ(LoadYieldMode(), 0);
}

TEST(MemberStream, OpensEachMethodWithItsOwnHandle) {
  TTempDir dir;
  const std::string key = "K3y-of-32-characters-for-testing";
  std::string a = Pattern(70000), b = Pattern(5000), c = "stored bytes";
  std::string packedB = RawDeflate(b);
  std::string file = "PREFIX" + test::Scramble(a, key) + packedB + c;
  std::string path = dir.Write("c.bin", file);
  auto scrambled = OpenMemberStream(path, kMethodScramble, key, 6, int64_t(a.size()));
  auto deflated =
      OpenMemberStream(path, kMethodDeflate, key, 6 + int64_t(a.size()), int64_t(packedB.size()));
  auto stored = OpenMemberStream(path, kMethodStored, key, int64_t(file.size() - c.size()),
                                 int64_t(c.size()));
  auto unknown = OpenMemberStream(path, 7, key, int64_t(file.size() - c.size()), int64_t(c.size()));
  // Interleaved reads: every member has its own file position.
  char x[10], y[10];
  scrambled->ReadBuffer(x, 10);
  stored->ReadBuffer(y, 10);
  EXPECT_EQ(std::string(x, 10), a.substr(0, 10));
  EXPECT_EQ(std::string(y, 10), c.substr(0, 10));
  scrambled->SetPosition(40001);
  scrambled->ReadBuffer(x, 10);
  EXPECT_EQ(std::string(x, 10), a.substr(40001, 10));
  EXPECT_EQ(ReadAll(*deflated), b);
  deflated->SetPosition(100);  // a deflated member is in memory: backward seeks work
  deflated->ReadBuffer(x, 10);
  EXPECT_EQ(std::string(x, 10), b.substr(100, 10));
  EXPECT_EQ(deflated->Size(), int64_t(b.size()));
  EXPECT_EQ(ReadAll(*unknown), c);  // unknown methods read as stored
  auto empty = OpenMemberStream(path, kMethodStored, key, 3, 0);
  EXPECT_EQ(empty->Read(x, 10), 0u);
  EXPECT_EQ(OpenMemberStream(dir / "missing", 0, key, 0, 1), nullptr);
  EXPECT_EQ(ErrorOf([&] { OpenMemberStream(path, 0, key, int64_t(file.size()) - 2, 3); }),
            "Insufficient Source Size");
  auto wrapped =
      WrapForAccessor(OpenMemberStream(path, kMethodScramble, key, 6, int64_t(a.size())));
  EXPECT_EQ(wrapped->PieceSize(), 256u);
  EXPECT_EQ(ReadAll(*wrapped), a);
}

}  // namespace
}  // namespace lum
