#include "container/file_accessor.h"

#include "container/disk_path.h"
#include "container/member_stream.h"
#include "container/path_modifiers.h"
#include "foundation/paths.h"

namespace lum {

TFileAccessor::TFileAccessor(TRef<TFileSource> source, std::string showFolder)
    : source_(std::move(source)), showFolder_(std::move(showFolder)) {}

std::unique_ptr<TStream> TFileAccessor::OpenMember(std::string_view name, int* rotation) const {
  std::unique_ptr<TStream> s = source_->Open(name);
  if (!s && fallback_) s = fallback_(name);
  if (!s) return nullptr;
  if (rotation) *rotation = source_->Rotation(name);
  std::unique_ptr<TStream> wrapped = WrapForAccessor(std::move(s));
  if (afterOpen_) wrapped = afterOpen_(std::move(wrapped), name);
  return wrapped;
}

std::string TFileAccessor::FindFileOnDisk(std::string_view name) const {
  std::string_view file = name.substr(0, name.find('|'));
  if (std::string p = FindDiskFile(file, {}); !p.empty()) return p;
  if (std::string p = FindDiskFile(ApplyPathModifiers(file), {}); !p.empty()) return p;
  if (!showFolder_.empty()) {
    std::string_view part = ExtractFileName(file);
    if (!part.empty()) return FindDiskFile(part, showFolder_);
  }
  return {};
}

TRef<TFileAccessor> TFileAccessor::Clone() const {
  auto copy = MakeRef<TFileAccessor>(source_, showFolder_);
  copy->afterOpen_ = afterOpen_;
  copy->fallback_ = fallback_;
  return copy;
}

}  // namespace lum
