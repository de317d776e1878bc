#pragma once
// Temporary folders of a run (libraries extracted from a show, and the like).
// Each folder ROOT/[GUID] has a sibling lock file ROOT/[GUID].lock held with an
// exclusive lock while the program runs. Leftovers of ended runs are swept on
// first use: a folder goes only when its lock can be taken. ROOT lives in the
// user's private runtime folder and is worked on through its descriptor, so
// nothing in it is reached through a link.
#include <mutex>
#include <string>
#include <vector>

namespace lum {

class TTempManager {
 public:
  // base: the folder that holds ROOT; empty means UserRuntimeFolder(),
  // resolved on first use.
  explicit TTempManager(std::string base = {});
  ~TTempManager();
  TTempManager(const TTempManager&) = delete;
  TTempManager& operator=(const TTempManager&) = delete;

  // The process-wide manager.
  static TTempManager& Instance();

  // A new, empty folder of this run. Throws ELumError ("VendorTemp Create
  // Error: ...", "Temp Path not Found") when the root cannot be made or is a
  // link, not a folder, or someone else's.
  std::string NewFolder(bool trailingSlash);
  // Removes the folders of this run; a folder that cannot be removed keeps a
  // lock file so that a later run sweeps it.
  void Cleanup();
  // ROOT (base + "/ORVAK_TEMP_ROOT"); empty before first use when no base was given.
  std::string Root() const;

 private:
  void FirstUse();
  void Sweep();
  // Leaves an unlocked lock file so that a later sweep retries the folder.
  void KeepForSweep(const std::string& lockName);

  struct TOwned {
    std::string name;  // "[GUID]" in the root
    int lockFd;
  };
  std::string base_;
  std::string root_;
  int rootFd_ = -1;
  std::vector<TOwned> owned_;
  std::mutex mutex_;
};

// A fresh GUID in upper-case hexadecimal groups, without braces.
std::string NewGuidText();
// Removes a folder and everything in it without following links.
bool RemoveTree(const std::string& path);

}  // namespace lum
