#pragma once
// The action record every control of a show ends in, and the action texts of
// the project document that name one.
#include <cstdint>
#include <string>
#include <string_view>

namespace lum {

enum TLumActionType : uint8_t {
  kActionNone = 0,
  kActionExit = 1,
  kActionPrevSlide = 2,
  kActionNextSlide = 3,
  kActionHelp = 4,
  kActionPause = 5,
  kActionPrint = 6,
  kActionGotoSlide = 7,
  kActionOpenWebSite = 8,
  kActionWriteEmail = 9,
  kActionRunApp = 10,
  kActionRunAppAndExit = 11,
  kActionRunPresentation = 12,
  kActionStop = 13,
  kActionRunPresentationAndReturn = 14,
  kActionOpenDialog = 15,
  kActionCloseDialog = 16,
  kActionSaveSlide = 17,
  kActionChangePrinter = 18,
  kActionSeek = 19,
  kActionPanelPointer = 20,
};

struct TLumActionInfo {
  uint8_t type = kActionNone;
  int32_t intArg = 0;
  std::string textArg;

  bool operator==(const TLumActionInfo&) const = default;
};

// The record of an action text; anything unknown gives type 0.
TLumActionInfo ParseActionText(std::string_view text);

// Name of an action type ("none", "exit", ..., "gotoslide"), for listings.
const char* ActionTypeName(uint8_t type);

}  // namespace lum
