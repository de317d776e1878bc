#pragma once
// The one object the rest of the player opens show files through: a member
// of the container or a disk file, by name, as a stream.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "container/file_source.h"
#include "foundation/ref_object.h"
#include "foundation/stream.h"

namespace lum {

class TFileAccessor : public TRefObject {
 public:
  // May replace a freshly opened stream (for example by a decoded form).
  using TAfterOpenHook =
      std::function<std::unique_ptr<TStream>(std::unique_ptr<TStream>, std::string_view name)>;
  // Asked when the source has no file of that name.
  using TFallbackOpener = std::function<std::unique_ptr<TStream>(std::string_view name)>;

  // showFolder: the folder of the show, with trailing "/".
  TFileAccessor(TRef<TFileSource> source, std::string showFolder);

  // Opens a file of the show: the source, else the fallback opener; the result
  // is wrapped in a hooked window and passed through the after-open hook.
  // Nothing when the file is missing; a damaged container entry throws
  // (EStreamError, EZDecompressionError). rotation (optional) receives the
  // picture orientation recorded for the name.
  std::unique_ptr<TStream> OpenMember(std::string_view name, int* rotation = nullptr) const;
  // The existing disk file for a name: as given, with path modifiers, or the
  // name's file part in the show folder; "" when none exists.
  std::string FindFileOnDisk(std::string_view name) const;
  // A new accessor over the same source, folder and hooks.
  TRef<TFileAccessor> Clone() const;

  TFileSource& Source() const { return *source_; }
  const std::string& ShowFolder() const { return showFolder_; }
  void SetAfterOpenHook(TAfterOpenHook hook) { afterOpen_ = std::move(hook); }
  void SetFallbackOpener(TFallbackOpener opener) { fallback_ = std::move(opener); }

 private:
  TRef<TFileSource> source_;
  std::string showFolder_;
  TAfterOpenHook afterOpen_;
  TFallbackOpener fallback_;
};

}  // namespace lum
