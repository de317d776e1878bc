#pragma once
// Finding a file named by a show on this machine. Names keep their Windows
// form ("C:\Photos\a.jpg"); disk lookups turn "\" into "/", fall back to a
// case-insensitive match of each path component, and resolve names without
// their drive letter (and relative names) against a base folder, dropping
// leading folders one by one when the tree was moved ("C:\Show\Photos\a.jpg"
// is found as BASE/Photos/a.jpg).
#include <string>
#include <string_view>

namespace lum {

// "\" -> "/".
std::string ToPosixSeparators(std::string_view name);
// The name without a drive ("C:") or UNC ("\\server\share") prefix and without
// leading separators; empty when nothing is left.
std::string_view StripDriveAndRoot(std::string_view name);
// The existing regular file the name stands for, or "" when there is none.
std::string FindDiskFile(std::string_view name, std::string_view baseFolder);
// Matches an existing POSIX path component by component, case-insensitively
// where the exact name is missing. "" when no match.
std::string MatchPathCaseInsensitive(const std::string& path);

}  // namespace lum
