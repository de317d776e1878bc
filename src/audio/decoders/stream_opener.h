#pragma once
// Process-wide opener of sound streams. The music player installs open and
// close functions (container members, "LoadFromDisk:" files); without them
// names are disk files. Both are called under one lock.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/stream.h"

namespace lum {

using TStreamOpenFunc = std::function<std::unique_ptr<TStream>(const std::string& name)>;
using TStreamCloseFunc = std::function<void(std::unique_ptr<TStream> stream)>;

// Installs the pair; empty functions restore the default file opener.
void InstallStreamOpener(TStreamOpenFunc open, TStreamCloseFunc close);

// Opens the named stream, or nullptr when it cannot be opened (never throws).
// With windowOffset > 0 the stream is wrapped in a TMp3ShiftStream starting
// there (data at a known offset, MPEG inside WAVE).
std::unique_ptr<TStream> OpenSoundStream(const std::string& name, uint32_t windowOffset = 0);
// Opens the stream a decoder of info reads: MPEG inside WAVE gets a window
// starting at its data, and info.dataOffset becomes 0 accordingly.
struct TMediaInfo;
std::unique_ptr<TStream> OpenSourceStream(const std::string& name, TMediaInfo& info);
// Releases a stream opened by OpenSoundStream through the close function.
void CloseSoundStream(std::unique_ptr<TStream> stream);

// Read-only window of a stream starting at an offset: position and size are
// the underlying ones minus the offset. Writing is the assertion of
// "Mp3ShiftStream".
class TMp3ShiftStream : public TStream {
 public:
  TMp3ShiftStream(std::unique_ptr<TStream> inner, int64_t offset);
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  std::unique_ptr<TStream> TakeInner() { return std::move(inner_); }

 private:
  std::unique_ptr<TStream> inner_;
  int64_t offset_;
};

}  // namespace lum
