#pragma once
// One running copy per show executable (screen-saver runs): a named lock that
// is an exclusive flock on a lock file named after the instance name.
#include <cstdint>
#include <string>
#include <string_view>

namespace lum {

// The classic ELF string hash over the low byte of each UTF-16 unit of text.
uint32_t InstanceHash(std::string_view utf8);
// "Instance_ID" + the decimal hashes of the full path, of its folder (without
// trailing separator) and of its file name, then the file name.
std::string InstanceName(std::string_view executablePath);
// Where lock files go: the user's private runtime folder (UserRuntimeFolder);
// empty when there is none.
std::string InstanceLockFolder();

class TInstanceLock {
 public:
  // Takes the lock named name in folder (empty: InstanceLockFolder()) when no
  // other holder has it; keeps it for the life of the object.
  explicit TInstanceLock(std::string_view name, std::string folder = {});
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // True when another holder (another copy of the program) has the lock.
  // A lock file that cannot be opened counts as no other copy.
  bool AnotherRunning() const { return anotherRunning_; }
  bool Held() const { return fd_ >= 0; }
  const std::string& LockPath() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool anotherRunning_ = false;
};

}  // namespace lum
