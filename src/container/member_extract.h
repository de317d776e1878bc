#pragma once
// Writing members out as files without ever leaving the target folder.
#include <string>
#include <string_view>

#include "foundation/stream.h"

namespace lum {

// The relative POSIX path a member name is extracted to: "\" as separator,
// drive letters and leading separators dropped, "." and empty parts skipped.
// A ".." part, or nothing left, is refused: false with reason.
bool SafeMemberPath(std::string_view name, std::string& relative, std::string& reason);

struct TExtracted {
  std::string path;      // folder/relative
  bool existed = false;  // something was there and was kept; nothing written
};

// Creates folder/relative (and its parent folders) from data. Never follows a
// symbolic link: a link on the way is refused, and one at the file's own path
// is kept or replaced like a file. Without overwrite an existing file is kept
// (existed); with it the new file replaces it once complete, through a side
// file and a rename. Throws with a clear message on failure, leaving no cut
// file behind.
TExtracted WriteUnderFolder(const std::string& folder, const std::string& relative, TStream& data,
                            bool overwrite = false);

}  // namespace lum
