#pragma once

// The command-line pieces murvecolor and murvedump share: -com N or -port PORT, and -baud RATE.

#include <cstdint>
#include <string>

#include "device/serial_link.h"

namespace murve {

// A -baud value: plain decimal digits ("9600x" is no rate) naming a rate the port layer sets.
bool read_baud_rate(const char* text, unsigned& baud);

// The rates -baud takes, as a list for a message: "50, 75, ... 4000000".
std::string supported_rates_text();

// Where -com `port_number` or, when it is not empty, -port `port_name` leads.
PortAddress port_address_of(std::int32_t port_number, const std::string& port_name);

// The option that reaches the same port again: "-com 5", "-port /dev/ttyUSB0".
std::string port_option_text(std::int32_t port_number, const std::string& port_name);

}  // namespace murve
