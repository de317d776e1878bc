#pragma once
// Exceptions of the player. Every failure that reaches a user carries one of
// the system's own message texts; broken internal contracts raise EAssertion.
#include <stdexcept>
#include <string>
#include <string_view>

namespace lum {

// Base of every exception the player raises on purpose.
class ELumError : public std::runtime_error {
 public:
  explicit ELumError(const std::string& message) : std::runtime_error(message) {}
};

// Stream misuse or failed stream I/O ("Stream read error", "Incorrect Position", ...).
class EStreamError : public ELumError {
 public:
  using ELumError::ELumError;
};

// A file could not be opened or created.
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// Inflating failed, or a decompression stream was used in a way it cannot serve.
class EZDecompressionError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// A broken internal contract; the message names the module.
class EAssertion : public ELumError {
 public:
  EAssertion(std::string_view module, std::string_view message);
  const std::string& Module() const { return module_; }

 private:
  std::string module_;
};

// Raises EAssertion naming the module.
[[noreturn]] void AssertFailed(std::string_view module, std::string_view message);

inline constexpr const char* kStreamReadError = "Stream read error";
inline constexpr const char* kStreamWriteError = "Stream write error";

}  // namespace lum
