#pragma once
// The player's side of the control socket: each request runs on the window
// thread exactly as the matching user input would, and is answered there.
#include "startup/control_socket.h"

namespace lum {

class TMainForm;

// A dispatcher for TControlServer that drives form; the form must outlive
// the server.
TControlDispatcher PlayerDispatcher(TMainForm& form);

// A dispatcher for a player without main window (it failed at start): the
// status shows the open message box, keys go to it, quit closes it, and
// every other request is refused.
TControlDispatcher MessageBoxDispatcher();

// Runs one request on the window thread (tests call it directly).
void RunControlRequest(TMainForm& form, const TControlRequest& request, TControlReply reply);

}  // namespace lum
