#pragma once
// Path helpers. Names that come from a show keep their Windows form, so the
// name helpers accept both "\" and "/" as separators.
#include <string>
#include <string_view>

namespace lum {

// The running executable's full path and folder (with trailing "/").
const std::string& ExecutablePath();
std::string ExecutableFolder();

// Part after the last "\", "/" or drive colon.
std::string_view ExtractFileName(std::string_view path);
// Everything up to and including the last separator (empty when none).
std::string_view ExtractFilePath(std::string_view path);
// Extension of the file part with its dot ("" when none).
std::string_view ExtractFileExt(std::string_view path);
// The path with the extension of its file part replaced (ext includes the dot).
std::string ChangeFileExt(std::string_view path, std::string_view ext);
std::string IncludeTrailingSlash(std::string_view folder);

// The working folder with trailing "/".
std::string CurrentFolder();

bool FileExists(const std::string& path);       // a regular file (links followed)
bool DirectoryExists(const std::string& path);  // a folder (links followed)
// Something that is neither a regular file nor a folder: a FIFO, device or
// socket (links followed). Shows are never read from one.
bool SpecialFileExists(const std::string& path);
// Creates the folder and any missing parents (as "mkdir -p"); true when the
// folder exists afterwards.
bool ForceDirectories(const std::string& path);
// Absolute form of a POSIX path relative to base (no normalisation beyond joining).
std::string ResolveAgainst(std::string_view path, std::string_view baseFolder);

}  // namespace lum
