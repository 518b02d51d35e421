#include "common/port_options.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/message.h"

#include "settings/number_reading.h"

namespace murve {

PortOptionUse take_port_option(const char* option, const char* value, PortOptions& options) {
  if (std::strcmp(option, "-com") == 0) {
    options.port_number = read_decimal(value);
    options.number_text = value;
    options.port_name.clear();
    options.named = false;
  } else if (std::strcmp(option, "-port") == 0) {
    options.port_name = value;
    options.named = true;
  } else if (std::strcmp(option, "-baud") == 0) {
    if (!read_baud_rate(value, options.baud)) {
      return PortOptionUse::baud_unsupported;
    }
  } else {
    return PortOptionUse::not_a_port_option;
  }
  return PortOptionUse::taken;
}

bool read_baud_rate(const char* text, unsigned& baud) {
  if (*text == '\0' || std::strspn(text, "0123456789") != std::strlen(text) ||
      std::strlen(text) > 9) {
    return false;
  }
  baud = static_cast<unsigned>(std::strtoul(text, nullptr, 10));
  return is_supported_baud_rate(baud);
}

std::string supported_rates_text() {
  std::vector<std::string> rates;
  for (const unsigned rate : supported_baud_rates()) {
    rates.push_back(std::to_string(rate));
  }
  return join_values(rates);
}

PortAddress port_address_of(std::int32_t port_number, const std::string& port_name) {
  return port_name.empty() ? port_for_number(port_number) : port_named(port_name);
}

std::string port_option_text(std::int32_t port_number, const std::string& port_name) {
  return port_name.empty() ? "-com " + std::to_string(port_number) : "-port " + port_name;
}

}  // namespace murve
