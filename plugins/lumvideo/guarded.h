#pragma once
// Exported functions let nothing escape into the caller: an allocation
// failure becomes the function's failure value.
#include <new>

namespace lumvideo {

template <typename Fn, typename R>
R Guarded(R failure, Fn fn) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return failure;
  }
}

}  // namespace lumvideo
