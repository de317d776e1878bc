#include "audio/decoders/stream_opener.h"

#include <exception>
#include <mutex>

#include "audio/decoders/media_info.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"

namespace lum {

namespace {

struct TOpener {
  std::mutex lock;
  TStreamOpenFunc open;
  TStreamCloseFunc close;
};

TOpener& Opener() {
  static TOpener opener;
  return opener;
}

constexpr std::string_view kFromDisk = "LoadFromDisk:";

}  // namespace

void InstallStreamOpener(TStreamOpenFunc open, TStreamCloseFunc close) {
  TOpener& o = Opener();
  std::lock_guard guard(o.lock);
  o.open = std::move(open);
  o.close = std::move(close);
}

std::unique_ptr<TStream> OpenSoundStream(const std::string& name, uint32_t windowOffset) {
  TOpener& o = Opener();
  std::unique_ptr<TStream> s;
  {
    std::lock_guard guard(o.lock);
    try {
      if (o.open) {
        s = o.open(name);
      } else {
        std::string path = name;
        if (std::string_view(path).starts_with(kFromDisk)) path.erase(0, kFromDisk.size());
        s = TFileStream::TryOpenRead(path);
      }
    } catch (const std::exception&) {
      s.reset();
    }
  }
  if (s && windowOffset > 0) s = std::make_unique<TMp3ShiftStream>(std::move(s), windowOffset);
  return s;
}

std::unique_ptr<TStream> OpenSourceStream(const std::string& name, TMediaInfo& info) {
  if (info.mpegInWave && info.dataOffset > 0) {
    std::unique_ptr<TStream> s = OpenSoundStream(name, info.dataOffset);
    if (s) info.dataOffset = 0;
    return s;
  }
  return OpenSoundStream(name);
}

void CloseSoundStream(std::unique_ptr<TStream> stream) {
  if (!stream) return;
  if (auto* shift = dynamic_cast<TMp3ShiftStream*>(stream.get())) {
    std::unique_ptr<TStream> inner = shift->TakeInner();
    stream.reset();
    stream = std::move(inner);
  }
  TOpener& o = Opener();
  std::lock_guard guard(o.lock);
  if (o.close) {
    try {
      o.close(std::move(stream));
    } catch (const std::exception&) {
    }
  }
  stream.reset();
}

TMp3ShiftStream::TMp3ShiftStream(std::unique_ptr<TStream> inner, int64_t offset)
    : inner_(std::move(inner)), offset_(offset) {
  inner_->Seek(offset_, TSeekOrigin::Begin);
}

size_t TMp3ShiftStream::Read(void* buffer, size_t count) {
  return inner_->Read(buffer, count);
}

size_t TMp3ShiftStream::Write(const void*, size_t) {
  AssertFailed("Mp3ShiftStream", "Write on a read-only window");
}

int64_t TMp3ShiftStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::Begin:
      return inner_->Seek(offset + offset_, TSeekOrigin::Begin) - offset_;
    case TSeekOrigin::Current:
      return inner_->Seek(offset, TSeekOrigin::Current) - offset_;
    case TSeekOrigin::End:
      return inner_->Seek(offset, TSeekOrigin::End) - offset_;
  }
  return -1;
}

int64_t TMp3ShiftStream::Size() {
  int64_t s = inner_->Size();
  return s < 0 ? s : std::max<int64_t>(0, s - offset_);
}

}  // namespace lum
