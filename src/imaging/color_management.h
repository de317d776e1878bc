#pragma once
// Whether pictures are colour-managed, and for which display profile: the
// command line ("noicc", "icc") and the show's "ColorManagement" value.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/color_transform.h"

namespace lum {

class TIniFile;

// A display profile named as on the command line or in a project: the
// built-in "sRGB", "AdobeRGB", "FunkyRGB" (any case), "?", "" or "auto" for
// the system's display profile (the built-in sRGB here), else an ICC file
// read whole. Nothing when the file cannot be read.
TRef<TColorProfile> ResolveDisplayProfile(std::string_view value);

class TColorManagement {
 public:
  // Command line: "noicc" given; the "icc" value when given.
  void SetCommandLine(bool noIcc, std::optional<std::string> icc);
  // Loads the colour engine when management is to be active; tests and the
  // start-up hook (extracting the library from the container) replace it.
  void SetEngineLoader(std::function<bool()> loader) { loader_ = std::move(loader); }

  // Applies a show's "ColorManagement" value after it was opened.
  void Apply(std::string_view value);
  // Reads [Main] "ColorManagement" and applies it.
  void Apply(const TIniFile& document);

  // Any thread: the player applies a new show's setting while the previous
  // show's pictures may still be decoding.
  bool Active() const;
  // The display profile: installed also when management stays off ("*").
  TRef<TColorProfile> DisplayProfile() const;

  // Converts a bitmap with an embedded profile to the display profile, in
  // place; false (pixels unchanged) when management is off, the profile is
  // empty or no transform exists.
  bool ConvertToDisplay(TBitmap& bitmap, const std::string& icc, const std::string& name) const;

 private:
  mutable std::mutex lock_;  // over active_ and display_
  bool noIcc_ = false;
  std::optional<std::string> iccOverride_;
  std::function<bool()> loader_;
  bool active_ = false;
  TRef<TColorProfile> display_;
};

// The process-wide setting the player uses.
TColorManagement& ColorManagement();

}  // namespace lum
