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

// Creates folder/relative (and its parent folders) from data. Never follows a
// symbolic link: an existing link on the way is refused. Throws with a clear
// message on failure; returns the written path.
std::string WriteUnderFolder(const std::string& folder, const std::string& relative, TStream& data);

}  // namespace lum
