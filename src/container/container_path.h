#pragma once
// Which file holds a show's container: executables and .lumshow files hold it
// themselves; a bundle folder keeps it in Contents/Resources/slideshow.dat.
#include <string>

namespace lum {

// Set when the program runs inside the bundle layout, so that ".exe" names
// look for a sibling ".app" bundle.
void SetBundleLayout(bool on);
bool BundleLayout();

// The container file for a show path (the path itself, the bundle's
// slideshow.dat, or the path with extension ".lumshow").
std::string ResolveContainerPath(const std::string& path);

// Folder mode records {the project's authoring-time executable name, the
// project path} (one pair per process): a later request to open that
// executable opens the project instead.
struct TReplacePair {
  std::string executableName;
  std::string realPath;

  static void Set(TReplacePair pair);
  static TReplacePair Get();
  // The project path when path names the recorded executable (letter case
  // ignored); "" otherwise.
  static std::string Target(const std::string& path);
};

}  // namespace lum
