#pragma once

// Windows only.

#include <windows.h>

#include "device/serial_link.h"

namespace murve {

// The link over a port handle already open, which it owns from here on: it saves the line and
// the timeouts it finds, sets the rate asked for and timeouts of its own, and gives the port back
// as found and closes the handle in close_port (or at once, when it fails). open_port makes its
// link so; a test can watch the port through a duplicate of the handle.
PortOpening link_over_handle(HANDLE handle, const LineRequest& request = {});

}  // namespace murve
