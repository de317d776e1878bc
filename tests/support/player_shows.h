#pragma once
// Shows for the player's tests: slides of flat colours with optional
// dissolves, served from memory or written to a folder.
#include <memory>
#include <string>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "document/ini_file.h"
#include "project/lum_source.h"

namespace lum::test {

// A project of count slides of slideMs each (dissolves of transitionMs when
// above 0), 320 x 240 design units in a borderless window of that size. The
// slide numbered broken (0-based) holds brokenObjects; endActions[i] is the
// "Pers_EndAction" of slide i when given. mainExtra goes into [Main].
std::string SlideShowText(int count, int slideMs, int transitionMs, bool repeat, int broken = -1,
                          const std::string& brokenObjects = "", const std::string& mainExtra = "",
                          const std::vector<std::string>& endActions = {});

// The flat colour of slide i (0xRRGGBB) in such a show.
uint32_t SlideColor(int i);

// A show project over a document, with no files.
class TShowFiles {
 public:
  explicit TShowFiles(const std::string& text);
  TLumSource& Source() { return *source_; }
  TIniFile& Document() { return doc_; }
  const TRef<TFileAccessor>& Accessor() const { return accessor_; }

 private:
  TIniFile doc_;
  TRef<TFileAccessor> accessor_;
  std::unique_ptr<TLumSource> source_;
};

}  // namespace lum::test
