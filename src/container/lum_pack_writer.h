#pragma once
// The writing side of show containers (what the authoring tool does): member
// data one after the other, the deflated directory with "$protection$", and
// the short or long trailer. Used by `lumshow pack` and test fixtures.
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/stream.h"
#include "document/ini_file.h"

namespace lum {

struct TPackOptions {
  std::string key;          // scramble key; empty: the program's key
  std::string executable;   // file copied in front of the container (a player)
  int64_t basePadding = 0;  // zero bytes after the executable, before the members
  bool longTrailer = false;
  bool allowModify = false;  // "$protection$" "allowmodify"
  bool protection = true;    // write "$protection$" at all
  std::string lumVersion;    // "$protection$" "lumversion" (omitted when empty)
};

class TLumPackWriter {
 public:
  // Writes the executable and the padding at once. out must be empty and seekable.
  TLumPackWriter(TStream& out, TPackOptions options);

  // Appends a member made of the rest of data. Returns its packed size.
  int64_t AddMember(std::string_view name, TStream& data, int method);
  int64_t AddMember(std::string_view name, std::string_view bytes, int method);
  // Writes the directory and the trailer; the writer is done afterwards.
  void Finish();

  // Bytes before the first member (executable and padding).
  int64_t PrefixSize() const { return prefix_; }
  int64_t MemberCount() const { return members_; }

 private:
  TStream& out_;
  TPackOptions options_;
  TIniFile directory_;
  int64_t prefix_ = 0;
  int64_t members_ = 0;
  bool finished_ = false;
};

}  // namespace lum
