#include "imaging/color_management.h"

#include "foundation/case_fold.h"
#include "foundation/file_stream.h"
#include "foundation/log.h"
#include "imaging/icc_profiles.h"
#include "document/ini_file.h"

namespace lum {

TRef<TColorProfile> ResolveDisplayProfile(std::string_view value) {
  if (value.empty() || value == "?" || FoldedEquals(value, "auto"))
    return MakeRef<TColorProfile>(BuiltinProfile("sRGB"), "sRGB");
  if (IsBuiltinProfileName(value))
    return MakeRef<TColorProfile>(BuiltinProfile(value), std::string(value));
  try {
    TFileStream f(std::string(value), TFileStream::TMode::OpenRead);
    std::string bytes = ReadRest(f, 64 << 20, "Colour profile too large");
    return MakeRef<TColorProfile>(std::move(bytes), std::string(value));
  } catch (const ELumError& e) {
    Log().Line("Colour profile \"" + std::string(value) + "\" not read: " + e.what());
    return nullptr;
  }
}

void TColorManagement::SetCommandLine(bool noIcc, std::optional<std::string> icc) {
  noIcc_ = noIcc;
  iccOverride_ = std::move(icc);
}

void TColorManagement::Apply(std::string_view value) {
  TRef<TColorProfile> display;
  bool active = false;
  if (noIcc_ || value.empty()) {
  } else if (value == "*" && !iccOverride_) {
    // The wrong-colour profile: pictures converted at authoring time show
    // right through it, others visibly not.
    display = MakeRef<TColorProfile>(BuiltinProfile("FunkyRGB"), "FunkyRGB");
  } else if (loader_ ? loader_() : ColorEngineAvailable()) {
    display = ResolveDisplayProfile(iccOverride_ ? std::string_view(*iccOverride_) : value);
    active = display != nullptr;
  }
  std::lock_guard g(lock_);
  display_ = std::move(display);
  active_ = active;
}

bool TColorManagement::Active() const {
  std::lock_guard g(lock_);
  return active_;
}

TRef<TColorProfile> TColorManagement::DisplayProfile() const {
  std::lock_guard g(lock_);
  return display_;
}

void TColorManagement::Apply(const TIniFile& document) {
  Apply(document.ReadString("Main", "ColorManagement", ""));
}

bool TColorManagement::ConvertToDisplay(TBitmap& bitmap, const std::string& icc,
                                        const std::string& name) const {
  const TRef<TColorProfile> display = DisplayProfile();
  if (!Active() || !display || icc.empty()) return false;
  TRef<TColorProfile> source = MakeRef<TColorProfile>(icc, name);
  TRef<TColorTransform> t = MakeColorTransform(*source, *display);
  if (!t) return false;
  return t->TransformRect(bitmap, {0, 0, bitmap.Width(), bitmap.Height()}, bitmap, 0, 0);
}

TColorManagement& ColorManagement() {
  static TColorManagement* m = new TColorManagement;
  return *m;
}

}  // namespace lum
