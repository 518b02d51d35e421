#pragma once

// Windows only.

#include <windows.h>

#include <memory>

#include "device/serial_link.h"

namespace murve {

// The link over a port handle already open: it bounds the port's writes while it has it, and
// gives the port its own timeouts back and closes the handle in close_port. open_port makes its
// link so; a test can watch the port through a duplicate of the handle.
std::unique_ptr<SerialLink> link_over_handle(HANDLE handle);

}  // namespace murve
