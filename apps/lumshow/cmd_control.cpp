// lumshow control SOCKET REQUEST...: sends JSON requests to a running player's
// control socket, one per argument, and prints each reply line.
#include <cstdio>
#include <string>

#include "commands.h"
#include "foundation/errors.h"
#include "startup/control_client.h"
#include "terminal_text.h"

namespace lum::lumshow {

namespace {
constexpr int kReplyTimeoutMs = 30000;
}  // namespace

int Control(const TControlArgs& args) {
  TControlClient socket;
  if (!socket.Connect(args.socket))
    throw ELumError("no player listens on \"" + args.socket + "\"");
  int status = 0;
  for (const std::string& request : args.requests) {
    if (request.find('\n') != std::string::npos)
      throw TUsageError{"a request is one line of JSON"};
    if (!socket.Send(request + "\n")) throw ELumError("the player closed the connection");
    const std::string reply = socket.ReadLine(kReplyTimeoutMs);
    std::printf("%s\n", JsonForTerminal(reply).c_str());
    if (reply.find("\"ok\":true") == std::string::npos) status = 1;
  }
  return status;
}

}  // namespace lum::lumshow
