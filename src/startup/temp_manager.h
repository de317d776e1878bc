#pragma once
// Temporary folders of a run (libraries extracted from a show, and the like).
// Each folder ROOT/[GUID] has a sibling lock file ROOT/[GUID].lock held with an
// exclusive lock while the program runs. Leftovers of ended runs are swept on
// first use: a folder goes only when its lock can be taken.
#include <mutex>
#include <string>
#include <vector>

namespace lum {

class TTempManager {
 public:
  // systemTemp: the system temporary folder; empty means $TMPDIR, else /tmp.
  explicit TTempManager(std::string systemTemp = {});
  ~TTempManager();
  TTempManager(const TTempManager&) = delete;
  TTempManager& operator=(const TTempManager&) = delete;

  // The process-wide manager.
  static TTempManager& Instance();

  // A new, empty folder of this run. Throws ELumError ("VendorTemp Create
  // Error: ...", "Temp Path not Found") when the root cannot be made.
  std::string NewFolder(bool trailingSlash);
  // Removes the folders of this run; a folder that cannot be removed keeps a
  // lock file so that a later run sweeps it.
  void Cleanup();
  // ROOT (system temporary folder + "ORVAK_TEMP_ROOT").
  std::string Root() const;

 private:
  void FirstUse();
  void Sweep();

  struct TOwned {
    std::string folder;
    std::string lockPath;
    int lockFd;
  };
  std::string systemTemp_;
  std::string root_;
  bool ready_ = false;
  std::vector<TOwned> owned_;
  std::mutex mutex_;
};

// A fresh GUID in upper-case hexadecimal groups, without braces.
std::string NewGuidText();
// Removes a folder and everything in it without following links.
bool RemoveTree(const std::string& path);

}  // namespace lum
