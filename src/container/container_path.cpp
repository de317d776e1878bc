#include "container/container_path.h"

#include <atomic>
#include <mutex>

#include "foundation/case_fold.h"
#include "foundation/paths.h"

namespace lum {

namespace {
std::atomic<bool> gBundleLayout{false};
std::mutex gPairMutex;
std::string gPairExe, gPairReal;
}  // namespace

void SetBundleLayout(bool on) { gBundleLayout = on; }
bool BundleLayout() { return gBundleLayout; }

void SetReplacePair(std::string executableName, std::string realPath) {
  std::lock_guard<std::mutex> lock(gPairMutex);
  gPairExe = std::move(executableName);
  gPairReal = std::move(realPath);
}

std::string ReplacePairTarget(const std::string& path) {
  std::lock_guard<std::mutex> lock(gPairMutex);
  if (!gPairReal.empty() && FoldedEquals(path, gPairExe)) return gPairReal;
  return {};
}

std::string ResolveContainerPath(const std::string& path) {
  if (!ReplacePairTarget(path).empty()) return path;  // the locator redirects it
  std::string_view ext = ExtractFileExt(path);
  std::string bundle;
  if (FoldedEquals(ext, ".exe")) {
    if (!BundleLayout()) return path;
    std::string app = ChangeFileExt(path, ".app");
    if (DirectoryExists(app)) bundle = app;
  } else if (ext == ".app") {
    bundle = path;
  } else {
    return path;
  }
  if (!bundle.empty()) {
    std::string dat = IncludeTrailingSlash(bundle) + "Contents/Resources/slideshow.dat";
    if (FileExists(dat)) return dat;
  }
  return ChangeFileExt(path, ".lumshow");
}

}  // namespace lum
