#include "support/environment.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace lum::test {

std::string InstalledFontFile(const std::string& family, const std::string& style) {
  FcPattern* p = FcPatternCreate();
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddString(p, FC_STYLE, reinterpret_cast<const FcChar8*>(style.c_str()));
  FcObjectSet* os = FcObjectSetBuild(FC_FILE, nullptr);
  FcFontSet* set = FcFontList(nullptr, p, os);
  std::string file;
  FcChar8* f = nullptr;
  if (set && set->nfont > 0 && FcPatternGetString(set->fonts[0], FC_FILE, 0, &f) == FcResultMatch)
    file = reinterpret_cast<const char*>(f);
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(os);
  FcPatternDestroy(p);
  return file;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string d; std::getline(dirs, d, ':');)
    if (!d.empty() && access((d + "/" + name).c_str(), X_OK) == 0) return d + "/" + name;
  return "";
}

}  // namespace lum::test
