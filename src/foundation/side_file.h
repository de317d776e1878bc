#pragma once
// A whole-file write that replaces its target only once complete. The bytes
// go to a new file with a random name beside the target, created exclusively
// and never through a link, then renamed over the target: a link planted at a
// guessable name cannot redirect the write, and a failed write never leaves a
// cut file where a whole one stood.
#include <sys/types.h>

#include <memory>
#include <string>

#include "foundation/file_stream.h"

namespace lum {

class TSideFile {
 public:
  // Creates ".NAME.part-XXXXXX" in the target's folder with permissions mode
  // (less the umask); throws EFOpenError when it cannot.
  explicit TSideFile(const std::string& target, mode_t mode = 0644);
  // Removes the side file unless it was committed.
  ~TSideFile();
  TSideFile(const TSideFile&) = delete;
  TSideFile& operator=(const TSideFile&) = delete;

  // Where the bytes are written.
  TFileStream& Stream() { return *stream_; }
  // The side file's path.
  const std::string& Path() const { return path_; }
  const std::string& Target() const { return target_; }
  // Flushes, syncs and renames the side file over the target (a link at the
  // target is replaced, not followed); throws EStreamError/EFOpenError.
  void Commit();

 private:
  std::string target_;
  std::string path_;
  std::unique_ptr<TFileStream> stream_;
  bool committed_ = false;
};

}  // namespace lum
