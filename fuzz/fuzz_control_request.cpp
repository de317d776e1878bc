// Control socket request lines: any bytes give a request or an error, and
// every reply, whatever the text in it, is one line of valid JSON.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "startup/control_request.h"

namespace {

void CheckLine(const std::string& line) {
  if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) __builtin_trap();
  auto reply = nlohmann::json::parse(line, nullptr, false);
  if (!reply.is_object() || !reply["ok"].is_boolean()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  lum::TControlParse parsed = lum::ParseControlRequest(text);
  if (parsed.request.has_value() == !parsed.error.empty()) __builtin_trap();
  if (parsed.request && parsed.request->virtualKey > 255) __builtin_trap();
  CheckLine(lum::ReplyError(parsed.request ? text : parsed.error));
  // Replies echo whatever the dispatcher gives them, the request itself included.
  auto fields = nlohmann::json::parse(text, nullptr, false);
  if (fields.is_object()) CheckLine(lum::ReplyOk(fields));
  return 0;
}
