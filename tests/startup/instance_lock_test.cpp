// The instance name and the lock that tells a second copy of a screen saver
// that one already runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "startup/command_runner.h"
#include "startup/instance_lock.h"
#include "support/environment.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TTempDir;

TEST(InstanceLock, NameHashes) {
  // The standard ELF hash values; wide characters count by their low byte.
  EXPECT_EQ(InstanceHash("printf"), 0x077905A6u);
  EXPECT_EQ(InstanceHash("ab"), 1650u);
  EXPECT_EQ(InstanceHash("abcdefghijklmnopqrstuvwxyz"), 147972106u);
  EXPECT_EQ(InstanceHash("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            999376u);  // é € and a surrogate pair
  EXPECT_EQ(InstanceHash(""), 0u);
  EXPECT_EQ(InstanceName("/opt/shows/My Show"),
            "Instance_ID237309447124424339"
            "79011639My Show");
  EXPECT_EQ(InstanceName("/a"), "Instance_ID" + std::to_string(InstanceHash("/a")) + "0" +
                                    std::to_string(InstanceHash("a")) + "a");
}

// Exit status of a child process that asks for the lock: 1 when it saw
// another copy, 0 when it got the lock itself.
int OtherProcessSees(const std::string& name, const std::string& folder) {
  pid_t child = fork();
  if (child == 0) {
    TInstanceLock lock(name, folder);
    _exit(lock.AnotherRunning() ? 1 : lock.Held() ? 0 : 2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstanceLock, SecondProcessSeesTheFirstUntilItEnds) {
  TTempDir dir;
  const std::string name = InstanceName("/opt/shows/saver.scr");
  EXPECT_EQ(OtherProcessSees(name, dir.Path()), 0);
  {
    TInstanceLock lock(name, dir.Path());
    EXPECT_TRUE(lock.Held());
    EXPECT_FALSE(lock.AnotherRunning());
    EXPECT_EQ(lock.LockPath(), dir.Path() + "/" + name + ".lock");
    EXPECT_EQ(OtherProcessSees(name, dir.Path()), 1);
    // Another executable has a lock of its own.
    EXPECT_EQ(OtherProcessSees(InstanceName("/opt/shows/other.scr"), dir.Path()), 0);
  }
  EXPECT_EQ(OtherProcessSees(name, dir.Path()), 0);
}

TEST(InstanceLock, ProgramsStartedByTheShowDoNotKeepIt) {
  TTempDir dir;
  std::optional<TInstanceLock> lock;
  lock.emplace("Instance_IDkeep", dir.Path());
  ASSERT_TRUE(lock->Held());
  ASSERT_EQ(SpawnDetached({"sleep", {"sleep", "1"}, {}}), 0);
  lock.reset();
  EXPECT_EQ(OtherProcessSees("Instance_IDkeep", dir.Path()), 0);
}

TEST(InstanceLock, FolderAndUnusableFolder) {
  TTempDir dir;
  {
    test::TEnvironmentOverride env({"XDG_RUNTIME_DIR", "XDG_CACHE_HOME"});
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    EXPECT_EQ(InstanceLockFolder(), dir.Path());
    // Without a usable runtime folder the lock goes to a private cache folder.
    setenv("XDG_RUNTIME_DIR", (dir.Path() + "/missing").c_str(), 1);
    setenv("XDG_CACHE_HOME", (dir.Path() + "/cache").c_str(), 1);
    EXPECT_EQ(InstanceLockFolder(), dir.Path() + "/cache/lumviewer");
  }
  // No lock file can be made: nothing is held and no other copy is assumed.
  TInstanceLock lock("Instance_IDx", dir.Path() + "/missing");
  EXPECT_FALSE(lock.Held());
  EXPECT_FALSE(lock.AnotherRunning());
  // Names longer than a directory entry still give a usable lock file.
  TInstanceLock longName(std::string(400, 'n'), dir.Path());
  EXPECT_TRUE(longName.Held());
  // A link or a FIFO planted at the lock's name is not used (nor followed).
  const std::string target = dir / "target";
  ASSERT_EQ(symlink(target.c_str(), (dir / "Instance_IDlink.lock").c_str()), 0);
  TInstanceLock viaLink("Instance_IDlink", dir.Path());
  EXPECT_FALSE(viaLink.Held());
  EXPECT_NE(access(target.c_str(), F_OK), 0);
  ASSERT_EQ(mkfifo((dir / "Instance_IDfifo.lock").c_str(), 0600), 0);
  TInstanceLock viaFifo("Instance_IDfifo", dir.Path());
  EXPECT_FALSE(viaFifo.Held());
}

}  // namespace
}  // namespace lum
