#pragma once

// The command-line pieces murvecolor and murvedump share: -com N or -port PORT, and -baud RATE.

#include <cstdint>
#include <string>

#include "device/serial_link.h"

namespace murve {

// What -com, -port and -baud have given so far.
struct PortOptions {
  std::int32_t port_number = 0;       // -com N, read as a decimal number; outside 1-16 until given
  const char* number_text = nullptr;  // the last -com's value as given, or nullptr
  std::string port_name;              // -port PORT, when it stands; may be empty, as given
  bool named = false;                 // -port is the later of -com and -port, which stands
  unsigned baud = 0;                  // -baud RATE; 0 keeps the port's own rate
};

enum class PortOptionUse {
  not_a_port_option,  // `option` is none of -com, -port and -baud
  taken,
  baud_unsupported,  // -baud's value is no rate the port layer sets
};

// Takes `option` and its `value` into `options` when it is -com, -port or -baud; the later of
// -com and -port stands.
PortOptionUse take_port_option(const char* option, const char* value, PortOptions& options);

// A -baud value: plain decimal digits ("9600x" is no rate) naming a rate the port layer sets.
bool read_baud_rate(const char* text, unsigned& baud);

// The rates -baud takes, as a list for a message: "50, 75, ... 4000000".
std::string supported_rates_text();

// Where -com `port_number` or, when it is not empty, -port `port_name` leads.
PortAddress port_address_of(std::int32_t port_number, const std::string& port_name);

// The option that reaches the same port again: "-com 5", "-port /dev/ttyUSB0".
std::string port_option_text(std::int32_t port_number, const std::string& port_name);

}  // namespace murve
