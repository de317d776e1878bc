#pragma once
// The player's side of the control socket: each request runs on the window
// thread exactly as the matching user input would, and is answered there.
#include "startup/control_socket.h"

namespace lum {

class TMainForm;

// A dispatcher for TControlServer that drives form; the form must outlive
// the server.
TControlDispatcher PlayerDispatcher(TMainForm& form);

// Runs one request on the window thread (tests call it directly).
void RunControlRequest(TMainForm& form, const TControlRequest& request, TControlReply reply);

}  // namespace lum
