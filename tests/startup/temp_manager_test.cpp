// Temporary folders: created under the root with a held lock, removed at exit,
// and leftovers swept only when nobody holds their lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "foundation/errors.h"
#include "foundation/paths.h"
#include "startup/temp_manager.h"
#include "startup/user_runtime_folder.h"
#include "support/environment.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TEnvironmentOverride;
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

// The root is the user's own: a link or someone else's folder there is
// refused, a folder others may enter is closed to them first.
TEST(TempManager, RootMustBeAPrivateFolderOfOurs) {
  TTempDir sys;
  const std::string root = sys.Path() + "/ORVAK_TEMP_ROOT";
  const std::string elsewhere = sys.Path() + "/elsewhere";
  mkdir(elsewhere.c_str(), 0777);
  ASSERT_EQ(symlink(elsewhere.c_str(), root.c_str()), 0);
  {
    TTempManager m(sys.Path());
    EXPECT_THROW(m.NewFolder(false), ELumError);
  }
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
  unlink(root.c_str());

  mkdir(root.c_str(), 0777);
  chmod(root.c_str(), 0777);
  {
    TTempManager m(sys.Path());
    EXPECT_EQ(ExtractFilePath(m.NewFolder(false)), root + "/");
    struct stat st;
    ASSERT_EQ(lstat(root.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  // Another user's folder (only root can make one for the test).
  if (chown(root.c_str(), 4242, 4242) == 0) {
    TTempManager m(sys.Path());
    EXPECT_THROW(m.NewFolder(false), ELumError);
  }
}

TEST(TempManager, SweepNeverFollowsALinkOutOfTheRoot) {
  TTempDir sys;
  const std::string keep = sys.Write("keep/precious", "p");
  const std::string keepDir = sys.Path() + "/keep";
  const std::string root = sys.Path() + "/ORVAK_TEMP_ROOT";
  mkdir(root.c_str(), 0700);
  // A leftover that is a link, one holding a link, and a lock that is a link.
  ASSERT_EQ(symlink(keepDir.c_str(), (root + "/[LINK]").c_str()), 0);
  std::ofstream(root + "/[LINK].lock") << "";
  mkdir((root + "/[HOLDS]").c_str(), 0700);
  ASSERT_EQ(symlink(keepDir.c_str(), (root + "/[HOLDS]/inner").c_str()), 0);
  std::ofstream(root + "/[HOLDS].lock") << "";
  ASSERT_EQ(symlink(keep.c_str(), (root + "/[FILE].lock").c_str()), 0);
  TTempManager m(sys.Path());
  m.NewFolder(false);
  EXPECT_FALSE(Exists(root + "/[LINK]"));
  EXPECT_FALSE(Exists(root + "/[HOLDS]"));
  EXPECT_EQ(test::ReadFile(keep), "p");
  EXPECT_TRUE(DirectoryExists(keepDir));
  m.Cleanup();
}

TEST(TempManager, UserRuntimeFolderIsPrivate) {
  TTempDir sys;
  TEnvironmentOverride env({"XDG_RUNTIME_DIR", "XDG_CACHE_HOME"});
  setenv("XDG_RUNTIME_DIR", sys.Path().c_str(), 1);
  EXPECT_EQ(UserRuntimeFolder(), sys.Path());
  // A runtime folder others may enter, or a link, gives way to the cache.
  const std::string shared = sys.Path() + "/shared";
  mkdir(shared.c_str(), 0755);
  chmod(shared.c_str(), 0755);
  const std::string link = sys.Path() + "/link";
  ASSERT_EQ(symlink(sys.Path().c_str(), link.c_str()), 0);
  const std::string cache = sys.Path() + "/cache";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  for (const std::string& run : {shared, link, sys.Path() + "/missing"}) {
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    EXPECT_EQ(UserRuntimeFolder(), cache + "/lumviewer") << run;
    struct stat st;
    ASSERT_EQ(lstat((cache + "/lumviewer").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  // The cache folder planted as a link is refused, not followed.
  RemoveTree(cache + "/lumviewer");
  ASSERT_EQ(symlink(shared.c_str(), (cache + "/lumviewer").c_str()), 0);
  std::string why;
  EXPECT_EQ(UserRuntimeFolder(&why), "");
  EXPECT_NE(why.find("lumviewer"), std::string::npos) << why;
  struct stat st;
  ASSERT_EQ(stat(shared.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

}  // namespace
}  // namespace lum
