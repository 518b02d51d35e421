#pragma once

// -port usb:...: the adapter a selector names among the ports this computer has, or why it names
// none, in words both programs say the same way.

#include <optional>
#include <string>
#include <vector>

#include "device/port_enumeration.h"
#include "device/serial_link.h"
#include "device/usb_selector.h"

namespace murve {

// Why -port's value, which begins with usb:, is no selector; "" when it is one.
std::string explain_selector_problem(const std::string& port_name);

// The selector -list shows for each of `ports`, by its place in them: one that names its adapter
// and no other; "" for a port on none, or on one that no selector names alone. Two names of one
// device share a selector.
std::vector<std::string> usb_port_selectors(const std::vector<SerialPortEntry>& ports);

// The port a selector leads to, or the lines that say why it leads nowhere.
struct UsbPortChoice {
  std::optional<PortAddress> address;  // set when exactly one adapter agrees with the selector
  std::string shown;                   // the port as the messages name it: "usb:... (/dev/ttyUSB0)"
  std::vector<std::string> reasons;    // otherwise: why, then each adapter there is, a line each
};

UsbPortChoice choose_usb_port(const std::string& selector_text,
                              const std::vector<SerialPortEntry>& ports);

}  // namespace murve
