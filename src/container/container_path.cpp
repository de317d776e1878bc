#include "container/container_path.h"

#include <atomic>
#include <mutex>

#include "foundation/case_fold.h"
#include "foundation/paths.h"

namespace lum {

namespace {
std::atomic<bool> gBundleLayout{false};
std::mutex gPairMutex;
TReplacePair gPair;
}  // namespace

void SetBundleLayout(bool on) {
  gBundleLayout = on;
}
bool BundleLayout() {
  return gBundleLayout;
}

void TReplacePair::Set(TReplacePair pair) {
  std::lock_guard<std::mutex> lock(gPairMutex);
  gPair = std::move(pair);
}

TReplacePair TReplacePair::Get() {
  std::lock_guard<std::mutex> lock(gPairMutex);
  return gPair;
}

std::string TReplacePair::Target(const std::string& path) {
  std::lock_guard<std::mutex> lock(gPairMutex);
  if (!gPair.realPath.empty() && FoldedEquals(path, gPair.executableName)) return gPair.realPath;
  return {};
}

std::string ResolveContainerPath(const std::string& path) {
  if (!TReplacePair::Target(path).empty()) return path;  // the locator redirects it
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
