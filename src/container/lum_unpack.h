#pragma once
// Reader of a show container: trailer, directory and "$protection$" checks,
// and member lookup by name.
//
// Layout: member data, then the directory (raw deflate of a project-format
// document, one section per member), then a trailer: int64 D + ".dne" (short
// form), or int64 D + ".dne" + int64 L (long form, base = end - L).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/file_stream.h"
#include "document/ini_file.h"

namespace lum {

enum class TTrailerForm { None, Short, Long };

struct TContainerTrailer {
  TTrailerForm form = TTrailerForm::None;
  int64_t end = 0;             // E: where the container ends (before the long form's int64)
  int64_t base = 0;            // B
  int64_t storedPosition = 0;  // D as stored
  int64_t directoryPos = 0;    // D + B
  int64_t directorySize = 0;   // packed bytes from D + B up to the int64 D
};

// Reads the trailer; form None when the file carries none. Values are not validated.
TContainerTrailer ReadTrailer(TStream& file);

// Directory section name of a member name: "[" -> "<", "]" -> ">", characters
// below 32 -> "#" + two upper-case hex digits.
std::string DirectoryName(std::string_view memberName);
// The member name behind a directory section name. Control characters stay in
// their "#XX" form unless decodeControls is set (lookups accept that form too).
std::string MemberNameOf(std::string_view sectionName, bool decodeControls);

inline constexpr const char* kProtectionSection = "$protection$";

// The parsed directory: one section per member ("_ps", "_sz", "_pm") and "$protection$".
using TUnpackStruc = TIniFile;

struct TMemberEntry {
  std::string sectionName;
  int64_t position = -1;  // after the shift
  int64_t size = -1;
  int method = 0;
};

class TLumUnpack {
 public:
  TLumUnpack() = default;
  TLumUnpack(const TLumUnpack&) = delete;
  TLumUnpack& operator=(const TLumUnpack&) = delete;

  // Opens and checks a container. On failure Error() holds the user message
  // (empty when the file has no trailer) and ErrorDetail() the cause.
  bool Open(const std::string& path);

  const std::string& Error() const { return error_; }
  const std::string& ErrorDetail() const { return detail_; }
  const std::string& Path() const { return path_; }
  const TContainerTrailer& Trailer() const { return trailer_; }
  int64_t Shift() const { return shift_; }
  const std::string& LumVersion() const { return lumVersion_; }
  const TUnpackStruc& Directory() const { return directory_; }
  const std::string& Key() const { return key_; }
  void SetKey(std::string key) { key_ = std::move(key); }

  // Looks a member up by name (case-insensitive); false when it does not exist.
  bool FindMember(std::string_view name, TMemberEntry& entry) const;
  // Every existing member in directory order.
  std::vector<TMemberEntry> Members() const;
  // Opens a member (own file handle); nothing when it does not exist or has no
  // handle. Entries pointing outside the file throw.
  std::unique_ptr<TStream> OpenMember(std::string_view name) const;
  std::unique_ptr<TStream> OpenEntry(const TMemberEntry& entry) const;

 private:
  bool Fail(const char* message, std::string detail);
  bool ReadDirectory();
  bool ApplyProtection();
  bool EntryOf(const TIniSection* section, TMemberEntry& entry) const;

  std::string path_;
  std::unique_ptr<TFileStream> file_;  // held for the locator's lifetime
  TContainerTrailer trailer_;
  TUnpackStruc directory_;
  int64_t shift_ = 0;
  std::string lumVersion_;
  std::string key_;
  std::string error_;
  std::string detail_;
};

}  // namespace lum
