// Temporary folders: created under the root with a held lock, removed at exit,
// and leftovers swept only when nobody holds their lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "foundation/paths.h"
#include "startup/temp_manager.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TTempDir;

bool Exists(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

TEST(TempManager, NewFoldersHoldTheirLockUntilCleanup) {
  TTempDir sys;
  TTempManager m(sys.Path());
  std::string folder = m.NewFolder(false);
  EXPECT_EQ(m.Root(), sys.Path() + "/ORVAK_TEMP_ROOT");
  std::string name(ExtractFileName(folder));
  EXPECT_TRUE(std::regex_match(
      name, std::regex(R"(\[[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\])")))
      << name;
  EXPECT_TRUE(DirectoryExists(folder));
  EXPECT_TRUE(Exists(folder + ".lock"));
  std::string withSlash = m.NewFolder(true);
  EXPECT_EQ(withSlash.back(), '/');
  EXPECT_NE(withSlash, folder + "/");
  // Another process cannot take the lock while we hold it.
  int fd = open((folder + ".lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  pid_t child = fork();
  if (child == 0) _exit(flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0);
  int status = 0;
  waitpid(child, &status, 0);
  close(fd);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ofstream(folder + "/lib.so") << "x";
  m.Cleanup();
  EXPECT_FALSE(Exists(folder));
  EXPECT_FALSE(Exists(folder + ".lock"));
  EXPECT_FALSE(Exists(withSlash));
  EXPECT_TRUE(DirectoryExists(m.Root()));
}

TEST(TempManager, SweepRemovesOnlyFoldersWhoseLockIsFree) {
  TTempDir sys;
  std::string root = sys.Path() + "/ORVAK_TEMP_ROOT";
  mkdir(root.c_str(), 0700);
  // A leftover of a run that ended: folder, contents, a lock nobody holds.
  std::string dead = root + "/[DEAD]";
  mkdir(dead.c_str(), 0700);
  mkdir((dead + "/sub").c_str(), 0700);
  std::ofstream(dead + "/sub/f") << "x";
  std::ofstream(dead + ".lock") << "";
  // A folder of a running program: its lock is held.
  std::string live = root + "/[LIVE]";
  mkdir(live.c_str(), 0700);
  int held = open((live + ".lock").c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  // A lock without a folder goes too.
  std::ofstream(root + "/[ORPHAN].lock") << "";

  TTempManager m(sys.Path());
  std::string mine = m.NewFolder(false);
  EXPECT_FALSE(Exists(dead));
  EXPECT_FALSE(Exists(dead + ".lock"));
  EXPECT_FALSE(Exists(root + "/[ORPHAN].lock"));
  EXPECT_TRUE(DirectoryExists(live));
  EXPECT_TRUE(Exists(live + ".lock"));
  close(held);
  m.Cleanup();
}

TEST(TempManager, UnusableRootIsAClearError) {
  TTempDir sys;
  std::string file = sys.Write("notafolder", "x");
  TTempManager m(file);
  try {
    m.NewFolder(false);
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "VendorTemp Create Error: " + file + "/ORVAK_TEMP_ROOT");
  }
}

TEST(TempManager, RemoveTreeDoesNotFollowLinks) {
  TTempDir sys;
  std::string keep = sys.Write("keep/precious", "p");
  std::string tree = sys.Path() + "/tree";
  mkdir(tree.c_str(), 0700);
  ASSERT_EQ(symlink((sys.Path() + "/keep").c_str(), (tree + "/link").c_str()), 0);
  EXPECT_TRUE(RemoveTree(tree));
  EXPECT_FALSE(Exists(tree));
  EXPECT_TRUE(Exists(keep));
}

}  // namespace
}  // namespace lum
