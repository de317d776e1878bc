// SHA-256 against the standard's own examples and against sha256sum over a
// file that crosses the block and read boundaries.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "foundation/sha256.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

TEST(Sha256, StandardExamplesAndPiecewiseInput) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // A million "a" in pieces that straddle every block boundary.
  TSha256 h;
  const std::string piece(997, 'a');
  size_t added = 0;
  for (; added + piece.size() <= 1000000; added += piece.size())
    h.Update(piece.data(), piece.size());
  h.Update(piece.data(), 1000000 - added);
  EXPECT_EQ(DigestHex(h.Final()),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // Final starts over.
  EXPECT_EQ(DigestHex(h.Final()), Sha256Hex(""));
}

TEST(Sha256, FilesMatchSha256sumAndOnlyRegularFilesAreRead) {
  test::TTempDir dir;
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes += char(i * 7 + i / 256);
  const std::string file = dir.Write("show.lumshow", bytes);
  const test::TCommandResult r = test::RunCommand({"/usr/bin/sha256sum", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FileSha256Hex(file), r.out.substr(0, 64));
  EXPECT_EQ(FileSha256Hex(dir / "missing"), "");
  EXPECT_EQ(FileSha256Hex(dir.Path()), "");
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(FileSha256Hex(fifo), "") << "a FIFO neither hangs nor counts";
}

}  // namespace
}  // namespace lum
