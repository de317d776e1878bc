#pragma once
// Small helpers shared by the stream and container tests.
#include <exception>
#include <memory>
#include <string>

#include "foundation/stream.h"

namespace lum::test {

// The message of the exception f raises, or "(no error)".
template <class F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

// The rest of a stream, read in uneven pieces.
inline std::string ReadAll(TStream& s) {
  std::string out;
  char buf[777];
  while (size_t n = s.Read(buf, sizeof buf)) out.append(buf, n);
  return out;
}

// The whole of an opened stream, or "(missing)" when nothing was opened.
inline std::string ReadAll(const std::unique_ptr<TStream>& s) {
  return s ? ReadAll(*s) : "(missing)";
}

}  // namespace lum::test
