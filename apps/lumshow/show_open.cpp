#include "show_open.h"

#include <cstdio>

#include "commands.h"
#include "foundation/errors.h"
#include "project/show_options.h"

namespace lum::lumshow {

std::unique_ptr<TLumShowLocator> OpenShow(const std::string& path) {
  std::string message;
  auto loc = TLumShowLocator::OpenAny(path, message);
  if (!loc) throw ELumError(message);
  return loc;
}

std::unique_ptr<TLumShowLocator> OpenShowToPlay(const std::string& path,
                                                const std::optional<std::string>& password) {
  auto loc = OpenShow(path);
  if (!ShowPasswordRequired(loc->Document())) return loc;
  if (!password) throw ELumError("the show is protected by a password; give it with --password");
  if (!ShowPasswordMatches(loc->Document(), *password))
    throw ELumError("wrong password for the show (--password)");
  return loc;
}

std::unique_ptr<TLumUnpack> OpenContainerReader(const std::string& path) {
  std::string message;
  for (const std::string& candidate : TLumShowLocator::ContainerCandidates(path)) {
    auto unpack = std::make_unique<TLumUnpack>();
    if (unpack->Open(candidate)) return unpack;
    if (message.empty() && !unpack->Error().empty()) {
      message = unpack->Error();
      if (!unpack->ErrorDetail().empty()) message += " (" + unpack->ErrorDetail() + ")";
    }
  }
  if (!message.empty()) throw ELumError(message);
  OpenShow(path);  // no container at all: the full opener says what it is
  throw ELumError("\"" + path + "\" is a project document, not a show container");
}

std::unique_ptr<TStream> TMemberSource::Open(const std::string& name) const {
  return show ? show->Accessor()->OpenMember(name) : container->OpenMember(name);
}

TMemberSource OpenMembers(const std::string& path) {
  TMemberSource members;
  try {
    members.show = OpenShow(path);
  } catch (const ELumError& showError) {
    try {
      members.container = OpenContainerReader(path);
    } catch (const ELumError&) {
      throw showError;
    }
    std::fprintf(stderr, "lumshow: %s\nlumshow: reading members without the show's file map\n",
                 ForTerminal(showError.what()).c_str());
  }
  return members;
}

std::pair<int32_t, int32_t> ParseSize(const std::string& text, int limit) {
  int w = 0, h = 0;
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || (x != 'x' && x != 'X') ||
      w <= 0 || h <= 0 || w > limit || h > limit)
    throw TUsageError{"--size wants WxH with positive numbers up to " + std::to_string(limit) +
                      ", such as 1920x1080"};
  return {w, h};
}

}  // namespace lum::lumshow
