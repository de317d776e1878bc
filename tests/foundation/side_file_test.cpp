// Files a show or a user names are opened without blocking and only when they
// are regular files; whole-file writes go through a side file that a planted
// link cannot redirect.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/paths.h"
#include "foundation/side_file.h"
#include "support/stream_helpers.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::ErrorOf;
using test::ReadFile;
using test::TTempDir;

namespace fs = std::filesystem;

// Names in the folder, sorted.
std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

// A bound UNIX socket at path (kept open by the returned descriptor).
int BoundSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path;
  return fd;
}

TEST(FileStream, SpecialFilesAreRefusedAtOnce) {
  TTempDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int sock = BoundSocket(dir / "sock");
  const std::string link = dir / "to-fifo";
  ASSERT_EQ(symlink(fifo.c_str(), link.c_str()), 0);
  // A FIFO without writer would hold open() forever; a device never ends.
  for (const std::string& path : {fifo, link, std::string("/dev/zero"), dir / "sock"}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TFileStream::TryOpenRead(path), nullptr) << path;
    EXPECT_EQ(ErrorOf([&] { TFileStream f(path, TFileStream::TMode::OpenRead); }),
              "Cannot open file \"" + path + "\". Not a regular file");
    EXPECT_THROW(TFileStream(path, TFileStream::TMode::OpenReadWrite), EFOpenError) << path;
    EXPECT_TRUE(SpecialFileExists(path)) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << path;
  }
  close(sock);
  // Writing may still go to a device (a log to /dev/null), never to a FIFO.
  EXPECT_NO_THROW(TFileStream("/dev/null", TFileStream::TMode::Create).Write("x", 1));
  EXPECT_THROW(TFileStream(fifo, TFileStream::TMode::Create), EFOpenError);
  for (const std::string& path : {dir.Path(), dir.Write("plain", "x"), dir / "missing"})
    EXPECT_FALSE(SpecialFileExists(path)) << path;
}

TEST(FileStream, CreateNewNeverReusesWhatIsThere) {
  TTempDir dir;
  const std::string victim = dir.Write("victim", "keep");
  const std::string link = dir / "link";
  ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  const std::string dangling = dir / "dangling";
  ASSERT_EQ(symlink((dir / "nowhere").c_str(), dangling.c_str()), 0);
  for (const std::string& path : {victim, link, dangling}) {
    EXPECT_NE(
        ErrorOf([&] { TFileStream f(path, TFileStream::TMode::CreateNew); }).find("File exists"),
        std::string::npos)
        << path;
  }
  EXPECT_EQ(ReadFile(victim), "keep");
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  {
    TFileStream f(dir / "new", TFileStream::TMode::CreateNew, 0600);
    f.Write("abc", 3);
  }
  EXPECT_EQ(ReadFile(dir / "new"), "abc");
  EXPECT_EQ(fs::status(dir / "new").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST(SideFile, ReplacesTheTargetOnlyOnCommit) {
  TTempDir dir;
  const std::string target = dir.Write("out.png", "old");
  std::string first;
  {
    TSideFile side(target);
    first = side.Path();
    EXPECT_EQ(ExtractFilePath(first), dir.Path() + "/");
    EXPECT_EQ(std::string(ExtractFileName(first)).rfind(".out.png.part-", 0), 0u) << first;
    side.Stream().WriteBuffer("abandoned", 9);
    TSideFile other(target);
    EXPECT_NE(other.Path(), first);
    EXPECT_EQ(ReadFile(target), "old");
  }
  // Not committed: nothing is left beside the target.
  EXPECT_EQ(Listing(dir.Path()), std::set<std::string>{"out.png"});
  {
    TSideFile side(target, 0600);
    side.Stream().WriteBuffer("new", 3);
    side.Commit();
  }
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(Listing(dir.Path()), std::set<std::string>{"out.png"});
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // A target in a folder that is not there is a clear error.
  EXPECT_THROW(TSideFile(dir / "no/such/x.png"), EFOpenError);
}

TEST(SideFile, PlantedLinksRedirectNothing) {
  TTempDir dir;
  const std::string victim = dir.Write("elsewhere/victim", "keep");
  const std::string out = dir.Path() + "/shots";
  fs::create_directories(out);
  // A link at the target and at the names older versions wrote beside it.
  const std::string target = out + "/shot.png";
  ASSERT_EQ(symlink(victim.c_str(), target.c_str()), 0);
  for (const std::string& old :
       {target + ".part", target + ".part" + std::to_string(getpid()), out + "/.shot.png.part"})
    ASSERT_EQ(symlink(victim.c_str(), old.c_str()), 0);
  WriteFileBytes(target, "picture");
  EXPECT_EQ(ReadFile(victim), "keep");
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(ReadFile(target), "picture");
  // The links beside it are left as they were.
  for (const std::string& old : {target + ".part", out + "/.shot.png.part"})
    EXPECT_TRUE(fs::is_symlink(old)) << old;
  EXPECT_EQ(Listing(out).size(), 4u);
}

}  // namespace
}  // namespace lum
