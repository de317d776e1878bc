// Streams (file, memory, the shared base helpers) and the arena.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "foundation/arena.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/memory_stream.h"
#include "support/stream_helpers.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::ErrorOf;
using test::ReadFile;
using test::TTempDir;

constexpr size_t k64K = 64 * 1024;

std::string Pattern(size_t n, unsigned salt = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char((i * 131 + i / 251 + salt) & 0xFF);
  return s;
}

// A source that serves bytes in small pieces and reports a chosen size: -1 for
// an inflater that cannot know its length, or a wrong one for a file that grew.
class TSourceStream : public TStream {
 public:
  TSourceStream(std::string bytes, int64_t reportedSize, size_t piece = 1000)
      : bytes_(std::move(bytes)), reported_(reportedSize), piece_(piece) {}
  size_t Read(void* buffer, size_t count) override {
    size_t n = std::min({count, piece_, bytes_.size() - pos_});
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    if (offset != 0 || origin != TSeekOrigin::Current) throw EStreamError("cannot seek");
    return int64_t(pos_);
  }
  int64_t Size() override { return reported_; }
  size_t Consumed() const { return pos_; }

 private:
  std::string bytes_;
  int64_t reported_;
  size_t piece_;
  size_t pos_ = 0;
};

// Replays random seeks, reads, writes and resizes against a plain string and
// checks the stream agrees after every step; the file stream's buffer has to
// stay coherent across all of them.
void CheckAgainstModel(TStream& s, std::string& model, unsigned seed) {
  std::mt19937 rng(seed);
  auto pick = [&](size_t lo, size_t hi) {
    return std::uniform_int_distribution<size_t>(lo, hi)(rng);
  };
  // Lengths cluster around the buffer size and the small pieces readers use.
  auto length = [&]() -> size_t {
    switch (pick(0, 3)) {
      case 0:
        return pick(1, 300);
      case 1:
        return k64K - 2 + pick(0, 4);
      case 2:
        return pick(1, 3 * k64K);
      default:
        return pick(1, 5000);
    }
  };
  size_t pos = 0;
  for (int step = 0; step < 300; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    switch (pick(0, 9)) {
      case 0:
      case 1:
        pos = pick(0, model.size() + 70000);
        ASSERT_EQ(s.Seek(int64_t(pos), TSeekOrigin::Begin), int64_t(pos));
        break;
      case 2: {
        int64_t back = -int64_t(pick(0, pos));
        pos = size_t(int64_t(pos) + back);
        ASSERT_EQ(s.Seek(back, TSeekOrigin::Current), int64_t(pos));
        break;
      }
      case 3:
      case 4:
      case 5: {
        size_t n = length();
        std::string got(n, '\xAA');
        size_t r = s.Read(got.data(), n);
        size_t expect = pos >= model.size() ? 0 : std::min(n, model.size() - pos);
        ASSERT_EQ(r, expect);
        ASSERT_TRUE(r == 0 ||
                    std::string_view(got).substr(0, r) == std::string_view(model).substr(pos, r));
        pos += r;
        break;
      }
      case 6:
      case 7:
      case 8: {
        std::string data = Pattern(length(), unsigned(step));
        ASSERT_EQ(s.Write(data.data(), data.size()), data.size());
        if (model.size() < pos + data.size()) model.resize(pos + data.size(), '\0');
        model.replace(pos, data.size(), data);
        pos += data.size();
        break;
      }
      default:
        if (pick(0, 3) == 0) {
          size_t size = pick(0, model.size() + 1000);
          s.SetSize(int64_t(size));
          model.resize(size, '\0');
          pos = std::min(pos, size);
        }
        ASSERT_EQ(s.Size(), int64_t(model.size()));
        break;
    }
    ASSERT_EQ(s.Position(), int64_t(pos));
  }
}

TEST(FileStream, ReadsOddSizesAcrossTheBufferBoundary) {
  TTempDir dir;
  const std::string bytes = Pattern(5 * k64K + 17);
  std::string path = dir.Write("data.bin", bytes);
  // Small pieces cross the buffer edge; pieces of 64 KB and more bypass the buffer.
  const size_t sizes[] = {1, 255, 256, 4095, k64K - 1, k64K, k64K + 1, 3, 100000, 7};
  for (size_t start : {size_t(0), k64K - 3, size_t(12345)}) {
    SCOPED_TRACE(start);
    TFileStream f(path, TFileStream::TMode::OpenRead);
    f.SetPosition(int64_t(start));
    std::string got;
    for (size_t i = 0;; ++i) {
      std::string piece(sizes[i % std::size(sizes)], '\0');
      size_t n = f.Read(piece.data(), piece.size());
      if (n == 0) break;
      got.append(piece, 0, n);
    }
    EXPECT_TRUE(got == bytes.substr(start)) << got.size();
    EXPECT_EQ(f.Position(), int64_t(bytes.size()));
  }
}

TEST(FileStream, AgreesWithAModelUnderRandomOperations) {
  TTempDir dir;
  std::string path = dir / "model.bin";
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::string model;
    {
      TFileStream f(path, TFileStream::TMode::Create);
      CheckAgainstModel(f, model, seed);
    }
    // Everything pending reaches the file when the stream closes.
    EXPECT_TRUE(ReadFile(path) == model);
  }
}

TEST(FileStream, PendingWritesAreVisibleWithoutFlush) {
  TTempDir dir;
  std::string path = dir.Write("f.bin", "0123456789");
  TFileStream f(path, TFileStream::TMode::OpenReadWrite);
  char c;
  f.ReadBuffer(&c, 1);  // fills the read buffer with the old bytes
  f.WriteBuffer("abc", 3);
  EXPECT_EQ(f.Size(), 10);
  f.Seek(0, TSeekOrigin::End);
  f.WriteBuffer("XY", 2);
  EXPECT_EQ(f.Size(), 12);
  EXPECT_EQ(f.Seek(-2, TSeekOrigin::End), 10);
  std::string all(12, '\0');
  f.SetPosition(0);
  f.ReadBuffer(all.data(), all.size());
  EXPECT_EQ(all, "0abc456789XY");
}

TEST(FileStream, SetSizeTruncatesAndExtendsWithZeros) {
  TTempDir dir;
  std::string path = dir / "s.bin";
  TFileStream f(path, TFileStream::TMode::Create);
  f.WriteBuffer("abcdefgh", 8);
  f.SetSize(3);
  EXPECT_EQ(f.Size(), 3);
  EXPECT_EQ(f.Position(), 3);
  f.SetSize(6);
  f.SetPosition(0);
  std::string got(6, 'x');
  f.ReadBuffer(got.data(), 6);
  EXPECT_EQ(got, std::string("abc\0\0\0", 6));
  EXPECT_THROW(f.SetSize(-1), EStreamError);
  EXPECT_THROW(f.Seek(-7, TSeekOrigin::End), EStreamError);
}

TEST(FileStream, OpenFailures) {
  TTempDir dir;
  std::string missing = dir / "missing.bin";
  EXPECT_EQ(TFileStream::TryOpenRead(missing), nullptr);
  EXPECT_EQ(TFileStream::TryOpenRead(dir.Path()), nullptr);
  EXPECT_NE(TFileStream::TryOpenRead(dir.Write("there", "x")), nullptr);

  EXPECT_THROW(TFileStream(missing, TFileStream::TMode::OpenRead), EFOpenError);
  std::string message = ErrorOf([&] { TFileStream f(missing, TFileStream::TMode::OpenRead); });
  EXPECT_EQ(message.rfind("Cannot open file \"" + missing + "\". ", 0), 0u) << message;
  EXPECT_NE(message.find("No such file"), std::string::npos) << message;
  EXPECT_THROW(TFileStream(dir.Path(), TFileStream::TMode::OpenReadWrite), EFOpenError);
}

TEST(FileStream, WholeFileHelpers) {
  TTempDir dir;
  std::string path = dir / "whole.bin";
  std::string bytes = Pattern(200000);
  WriteFileBytes(path, bytes);
  WriteFileBytes(path, bytes);  // truncates, never appends
  EXPECT_TRUE(ReadFileBytes(path) == bytes);
  EXPECT_EQ(ErrorOf([&] { ReadFileBytes(path, 199999); }), "File \"" + path + "\" is too large");
  // What cannot be put in place is not half done: a folder there stays, and
  // nothing is left beside it.
  const std::string folder = dir / "taken";
  std::filesystem::create_directories(folder + "/inside");
  EXPECT_NE(ErrorOf([&] { WriteFileBytes(folder, bytes); }).find("Cannot create file"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/inside"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

TEST(MemoryStream, ReadWriteSeekBeyondTheEnd) {
  TMemoryStream m("hello");
  EXPECT_EQ(m.Position(), 0);
  char buf[8];
  m.SetPosition(3);
  EXPECT_EQ(m.Read(buf, 8), 2u);
  EXPECT_EQ(m.Seek(10, TSeekOrigin::End), 15);
  EXPECT_EQ(m.Read(buf, 8), 0u);
  EXPECT_EQ(m.Size(), 5);  // seeking alone does not grow
  m.WriteBuffer("!", 1);
  EXPECT_EQ(m.View(), std::string("hello\0\0\0\0\0\0\0\0\0\0!", 16));
  EXPECT_THROW(m.Seek(-1, TSeekOrigin::Begin), EStreamError);
  EXPECT_EQ(ErrorOf([&] { m.Seek(-17, TSeekOrigin::End); }), "Incorrect Position");
}

TEST(MemoryStream, GrowingNeverExposesStaleBytes) {
  TMemoryStream m;
  std::string ff(100, '\xFF');
  m.WriteBuffer(ff.data(), ff.size());
  m.SetSize(10);
  EXPECT_EQ(m.Position(), 10);
  m.SetSize(40);
  m.Seek(20, TSeekOrigin::End);
  m.WriteBuffer("x", 1);
  EXPECT_EQ(m.View(), std::string(10, '\xFF') + std::string(50, '\0') + "x");
  EXPECT_THROW(m.SetSize(-1), EStreamError);
}

TEST(MemoryStream, AgreesWithAModelUnderRandomOperations) {
  TMemoryStream m;
  std::string model;
  CheckAgainstModel(m, model, 7);
  EXPECT_TRUE(m.View() == model);
}

TEST(MemoryStream, ReserveTailAndAppend) {
  TMemoryStream m("abc");
  char* tail = m.ReserveTail(5000);
  EXPECT_GE(m.Capacity(), 5003u);
  std::memcpy(tail, "defg", 4);
  m.Append(4);
  EXPECT_EQ(m.View(), "abcdefg");
  EXPECT_EQ(m.Position(), 0);
  m.Clear();
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.View(), "");
}

TEST(StreamBase, ReadAndWriteBufferAreAllOrNothing) {
  TMemoryStream m("12345");
  char buf[6];
  EXPECT_EQ(ErrorOf([&] { m.ReadBuffer(buf, 6); }), "Stream read error");
  TSourceStream sink("", -1);
  EXPECT_EQ(ErrorOf([&] { sink.WriteBuffer("a", 1); }), "Stream write error");
  EXPECT_EQ(ErrorOf([&] { sink.SetSize(1); }), "Stream Cannot be resized");
  // Pieces shorter than asked are joined.
  TSourceStream pieces(Pattern(5000), -1, 7);
  std::string got(5000, '\0');
  pieces.ReadBuffer(got.data(), got.size());
  EXPECT_TRUE(got == Pattern(5000));
}

TEST(StreamBase, CopyFrom) {
  const std::string bytes = Pattern(600000);  // more than one copy chunk
  TMemoryStream src(bytes);
  TMemoryStream exact;
  EXPECT_EQ(exact.CopyFrom(src, 300001), 300001);
  EXPECT_TRUE(exact.View() == bytes.substr(0, 300001));
  EXPECT_EQ(src.Position(), 300001);

  TMemoryStream rest;
  EXPECT_EQ(rest.CopyFrom(src, -1), int64_t(bytes.size() - 300001));
  EXPECT_TRUE(rest.View() == bytes.substr(300001));
  EXPECT_EQ(rest.CopyFrom(src, 0), 0);

  TSourceStream unknown(bytes, -1, 999);
  TMemoryStream all;
  EXPECT_EQ(all.CopyFrom(unknown, -1), int64_t(bytes.size()));
  EXPECT_TRUE(all.View() == bytes);

  src.SetPosition(int64_t(bytes.size()) - 10);
  TMemoryStream shortCopy;
  EXPECT_EQ(ErrorOf([&] { shortCopy.CopyFrom(src, 11); }), "Stream read error");
}

TEST(StreamBase, ReadRestWithKnownSize) {
  const std::string bytes = Pattern(100000);
  TMemoryStream m(bytes);
  EXPECT_EQ(ErrorOf([&] { ReadRest(m, 99999, "too big"); }), "too big");
  m.SetPosition(0);
  std::string all = ReadRest(m, 100000, "too big");
  EXPECT_TRUE(all == bytes);
  EXPECT_LE(all.capacity(), bytes.size() + 64);  // read in one piece, not grown
  m.SetPosition(1000);
  EXPECT_TRUE(ReadRest(m, 99000, "too big") == bytes.substr(1000));
  m.SetPosition(200000);
  EXPECT_EQ(ReadRest(m, 10, "too big"), "");
}

TEST(StreamBase, ReadRestWithUnknownOrWrongSize) {
  const std::string bytes = Pattern(200000);
  {
    TSourceStream s(bytes, -1);
    EXPECT_TRUE(ReadRest(s, 200000, "too big") == bytes);
  }
  {
    TSourceStream s(bytes, -1);
    std::string all = ReadRest(s, int64_t(1) << 40, "too big");
    EXPECT_TRUE(all == bytes);
    EXPECT_LE(all.capacity(), 2 * (bytes.size() + k64K));  // never sized by the limit
  }
  {
    TSourceStream s(bytes, -1);
    EXPECT_EQ(ErrorOf([&] { ReadRest(s, 199999, "too big"); }), "too big");
  }
  {
    // Stops reading just past the limit rather than swallowing the whole source.
    TSourceStream s(bytes, -1);
    EXPECT_EQ(ErrorOf([&] { ReadRest(s, 10, "too big"); }), "too big");
    EXPECT_LE(s.Consumed(), 11u);
  }
  // A source longer than it claimed is still read to its end, within the limit.
  {
    TSourceStream s(bytes.substr(0, 1200), 1000);
    EXPECT_TRUE(ReadRest(s, 1500, "too big") == bytes.substr(0, 1200));
  }
  {
    TSourceStream s(bytes.substr(0, 1200), 1000);
    EXPECT_EQ(ErrorOf([&] { ReadRest(s, 1100, "too big"); }), "too big");
  }
  {
    // A source shorter than it claimed gives what it has.
    TSourceStream s(bytes.substr(0, 800), 1000);
    EXPECT_TRUE(ReadRest(s, 1000, "too big") == bytes.substr(0, 800));
  }
}

TEST(Arena, CopiesStayIntactAcrossBlocks) {
  TArena arena(256);
  std::vector<std::string> originals;
  std::vector<std::string_view> copies;
  for (size_t i = 0; i < 2000; ++i) {
    originals.push_back(Pattern(i % 97 + (i % 50 == 0 ? 1000 : 0), unsigned(i)));
    copies.push_back(arena.Copy(originals.back()));
  }
  for (size_t i = 0; i < originals.size(); ++i) {
    ASSERT_EQ(copies[i], originals[i]) << i;
    ASSERT_NE(copies[i].data(), originals[i].data());
  }
  EXPECT_TRUE(arena.Copy("").empty());
  EXPECT_GT(arena.BytesReserved(), 0u);
  arena.Clear();
  EXPECT_EQ(arena.BytesReserved(), 0u);
  EXPECT_EQ(arena.Copy("again"), "again");
}

TEST(Arena, LargeAllocationsAndAlignment) {
  TArena arena(1024);
  std::string_view small = arena.Copy("small");
  size_t before = arena.BytesReserved();
  // A large request gets its own block; the current block keeps serving small ones.
  auto* big = static_cast<char*>(arena.Allocate(10000, 16));
  std::memset(big, 0x5A, 10000);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % 16, 0u);
  EXPECT_GE(arena.BytesReserved(), before + 10000);
  std::string_view next = arena.Copy("next");
  EXPECT_EQ(next.data(), small.data() + small.size());
  EXPECT_EQ(small, "small");
  for (size_t align : {1, 2, 4, 8, 16}) {
    arena.Copy("x");
    auto p = reinterpret_cast<uintptr_t>(arena.Allocate(3, align));
    EXPECT_EQ(p % align, 0u) << align;
  }
  struct TNode {
    double value;
    int tag;
  };
  TNode* node = arena.New<TNode>(TNode{2.5, 7});
  EXPECT_EQ(reinterpret_cast<uintptr_t>(node) % alignof(TNode), 0u);
  EXPECT_EQ(node->value, 2.5);
  EXPECT_EQ(node->tag, 7);
}

}  // namespace
}  // namespace lum
