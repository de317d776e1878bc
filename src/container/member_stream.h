#pragma once
// Opening a member of a show container as an ordinary stream: a window over
// its own handle on the container file, inflated into memory (method 1),
// unscrambled on the fly (method 2) or read as stored (method 0 and others).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "container/partial_stream.h"
#include "foundation/stream.h"

namespace lum {

enum TMemberMethod : int { kMethodStored = 0, kMethodDeflate = 1, kMethodScramble = 2 };

// A deflated member that unpacks to more than this is refused (decompression bombs).
inline constexpr int64_t kMemberUnpackLimit = int64_t(1) << 30;

// Opens the member with its own file handle. No handle: nothing. A window that
// does not fit the file throws "Insufficient Source Size"; damaged deflate data
// throws EZDecompressionError. The result carries the load-yield hook.
std::unique_ptr<TStream> OpenMemberStream(const std::string& containerPath, int method,
                                          std::string_view key, int64_t offset, int64_t packedSize);

// The accessor's wrapping: a hooked window over the whole stream.
std::unique_ptr<TPartialStream> WrapForAccessor(std::unique_ptr<TStream> stream);

const char* MethodName(int method);

}  // namespace lum
