#pragma once
// Where the files of a show come from: the disk (TRealFileSource), the disk
// with the project's FileMap and RotationState tables (TMappedFileSource), or
// the members of a container (TPackedFileSource, no fallback to disk).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "container/lum_unpack.h"
#include "foundation/case_fold.h"
#include "foundation/ref_object.h"
#include "foundation/stream.h"

namespace lum {

class TIniFile;

class TFileSource : public TRefObject {
 public:
  // A unique number from a global counter (picture cache keys use it).
  uint64_t Sequence() const { return sequence_; }
  // Opens a file of the show by name; nothing when there is none.
  virtual std::unique_ptr<TStream> Open(std::string_view name) = 0;
  // EXIF orientation to apply to the picture of that name (1: none).
  virtual int Rotation(std::string_view) const { return 1; }

 protected:
  TFileSource();
  std::mutex lock_;

 private:
  uint64_t sequence_;
};

// Opens name (the part before any "|", path modifiers applied) on disk;
// relative and drive-letter names resolve against baseFolder.
std::unique_ptr<TStream> OpenDiskFile(std::string_view name, std::string_view baseFolder);

class TRealFileSource : public TFileSource {
 public:
  explicit TRealFileSource(std::string baseFolder = {}) : base_(std::move(baseFolder)) {}
  std::unique_ptr<TStream> Open(std::string_view name) override;

 private:
  std::string base_;
};

class TMappedFileSource : public TFileSource {
 public:
  explicit TMappedFileSource(std::string baseFolder = {}) : base_(std::move(baseFolder)) {}

  // Reads the [FileMap] and [RotationState] sections of a project document.
  void LoadMaps(const TIniFile& document);
  void AddFileMap(std::string_view from, std::string_view to);
  void AddRotation(std::string_view name, int code);
  // The name after following FileMap entries; "" when they loop.
  std::string MapName(std::string_view name) const;

  std::unique_ptr<TStream> Open(std::string_view name) override;
  int Rotation(std::string_view name) const override;

 protected:
  // Opens a name that FileMap has already been applied to.
  virtual std::unique_ptr<TStream> OpenMapped(std::string_view name);

 private:
  std::string base_;
  std::unordered_map<std::string, std::string, TFoldedHash, TFoldedEqual> fileMap_;
  std::unordered_map<std::string, int, TFoldedHash, TFoldedEqual> rotations_;
};

class TPackedFileSource : public TMappedFileSource {
 public:
  explicit TPackedFileSource(std::unique_ptr<TLumUnpack> unpack) : unpack_(std::move(unpack)) {}
  const TLumUnpack& Unpack() const { return *unpack_; }

 protected:
  std::unique_ptr<TStream> OpenMapped(std::string_view name) override;

 private:
  std::unique_ptr<TLumUnpack> unpack_;
};

// One [FileMap] comment line (;"from"="to") -> the two names; false when malformed.
bool ParseFileMapLine(std::string_view line, std::string& from, std::string& to);
// One [RotationState] comment line (;"name"=N) -> name and code 1, 3, 6 or 8.
bool ParseRotationLine(std::string_view line, std::string& name, int& code);

}  // namespace lum
