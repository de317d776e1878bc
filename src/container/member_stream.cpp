#include "container/member_stream.h"

#include "container/crypt_stream.h"
#include "container/load_yield.h"
#include "container/z_stream.h"
#include "foundation/file_stream.h"

namespace lum {

namespace {
constexpr size_t kRequestedPiece = 32768;
}

std::unique_ptr<TStream> OpenMemberStream(const std::string& containerPath, int method,
                                          std::string_view key, int64_t offset,
                                          int64_t packedSize) {
  std::unique_ptr<TFileStream> file = TFileStream::TryOpenRead(containerPath);
  if (!file) return nullptr;
  auto window = std::make_unique<TPartialStream>(std::move(file), offset, packedSize);
  if (method == kMethodDeflate) {
    window->SetPosition(0);
    std::unique_ptr<TMemoryStream> memory =
        InflateToMemory(*window, kMemberUnpackLimit, "The member unpacks to more than 1 GiB");
    window.reset();
    int64_t size = memory->Size();
    auto member = std::make_unique<TPartialStream>(std::move(memory), 0, size);
    member->SetHook(LoadYieldHook, kRequestedPiece);
    return member;
  }
  window->SetHook(LoadYieldHook, kRequestedPiece);
  if (method == kMethodScramble) return std::make_unique<TCryptStream>(std::move(window), key);
  return window;
}

std::unique_ptr<TPartialStream> WrapForAccessor(std::unique_ptr<TStream> stream) {
  int64_t size = stream->Size();
  auto wrapped = std::make_unique<TPartialStream>(std::move(stream), 0, size);
  wrapped->SetHook(LoadYieldHook, kRequestedPiece);
  return wrapped;
}

const char* MethodName(int method) {
  switch (method) {
    case kMethodStored:
      return "stored";
    case kMethodDeflate:
      return "deflate";
    case kMethodScramble:
      return "scramble";
    default:
      return nullptr;
  }
}

}  // namespace lum
