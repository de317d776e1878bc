#pragma once
// Path modifiers: %token% spans in file names ("%styles%\Blue\btn.ini") that
// stand for folders. One global list, guarded by a mutex; a project opened in
// folder mode may replace it with its [PathModifiers] section.
#include <string>
#include <string_view>
#include <vector>

namespace lum {

class TIniList;

struct TPathModifier {
  std::string token;   // "%styles%", compared case-insensitively
  std::string folder;  // POSIX folder, no trailing separator
  bool isDefault = false;
};

// Expands a folder token at the very start of a folder ("%LOCALAPPDATA%\Orvak")
// to its counterpart here; the token absorbs one separator after it and the
// expansion ends with "/". Unknown tokens stay.
std::string ExpandFolderToken(std::string_view folder);

// The built-in list: %styles% and %effects% in the program's folder and in the
// user's data folder (the latter default).
std::vector<TPathModifier> BuiltInPathModifiers();
std::vector<TPathModifier> PathModifiers();
void SetPathModifiers(std::vector<TPathModifier> list);
// Reads a [PathModifiers] section (Count, Env<i>, Path<i>, Def<i>); folders are
// resolved against the program's folder.
std::vector<TPathModifier> ReadPathModifiers(const TIniList& section);

// Replaces each %token% span with the folder of the first modifier whose file
// exists (the part before any "|"), else of the default one; with neither the
// span stays.
std::string ApplyPathModifiers(std::string_view name);

}  // namespace lum
