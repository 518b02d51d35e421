#include "device/usb_selector.h"

#include <algorithm>
#include <cstdio>

namespace murve {
namespace {

constexpr std::string_view k_prefix = "usb:";

// Deeper than USB's seven tiers allows.
constexpr std::size_t k_deepest_chain = 7;

// A number of one to three digits from `low` up, or -1.
int small_number(std::string_view text, int low) {
  const int value = small_decimal(text);
  return value >= low ? value : -1;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Four hex digits, or nothing.
std::optional<std::uint16_t> hex4(std::string_view text) {
  if (text.size() != 4) {
    return std::nullopt;
  }
  unsigned value = 0;
  for (const char c : text) {
    const int digit = hex_digit(c);
    if (digit < 0) {
      return std::nullopt;
    }
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<std::uint16_t>(value);
}

// What a serial= term can hold: no control character, no comma, which ends the term.
bool fits_a_term(std::string_view serial) {
  return !serial.empty() && std::none_of(serial.begin(), serial.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f || c == ',';
  });
}

// A serial number -list can show as it is, for a person to type back.
bool typeable(std::string_view serial) {
  return !serial.empty() && std::all_of(serial.begin(), serial.end(),
                                        [](char c) { return c > ' ' && c <= '~' && c != ','; });
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

SelectorParse refused(SelectorProblem problem, std::string_view term) {
  return {std::nullopt, problem, std::string(term)};
}

}  // namespace

int small_decimal(std::string_view text) {
  if (text.empty() || text.size() > 3 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return -1;
  }
  int value = 0;
  for (const char c : text) {
    value = value * 10 + (c - '0');
  }
  return value;
}

bool is_usb_selector(std::string_view port_name) {
  return port_name.substr(0, k_prefix.size()) == k_prefix;
}

std::optional<UsbLocation> parse_usb_location(std::string_view text) {
  UsbLocation location;
  if (const std::size_t dash = text.find('-'); dash != std::string_view::npos) {
    location.bus = small_number(text.substr(0, dash), 1);
    if (location.bus < 0) {
      return std::nullopt;
    }
    text.remove_prefix(dash + 1);
  }
  while (true) {
    const std::size_t dot = text.find('.');
    const int port = small_number(text.substr(0, dot), 1);
    if (port < 0 || location.ports.size() == k_deepest_chain) {
      return std::nullopt;
    }
    location.ports.push_back(port);
    if (dot == std::string_view::npos) {
      return location;
    }
    text.remove_prefix(dot + 1);
  }
}

SelectorParse parse_usb_selector(std::string_view text) {
  if (!is_usb_selector(text)) {
    return refused(SelectorProblem::unknown_term, text);
  }
  text.remove_prefix(k_prefix.size());
  UsbSelector selector;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view term = text.substr(0, comma);
    const std::size_t equals = term.find('=');
    const std::string_view key = term.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : term.substr(equals + 1);
    if (term.empty()) {
      return refused(SelectorProblem::empty, term);
    }
    if (equals == std::string_view::npos && term.find(':') != std::string_view::npos) {
      const std::size_t colon = term.find(':');
      const auto vendor = hex4(term.substr(0, colon));
      const auto product = hex4(term.substr(colon + 1));
      if (!vendor || !product) {
        return refused(SelectorProblem::bad_ids, term);
      }
      if (selector.ids_given) {
        return refused(SelectorProblem::repeated_term, term);
      }
      selector.ids_given = true;
      selector.vendor_id = *vendor;
      selector.product_id = *product;
    } else if (equals != std::string_view::npos && key == "serial") {
      // A comma ends the term, so only a control character can be in the way.
      if (!fits_a_term(value)) {
        return refused(SelectorProblem::bad_serial, term);
      }
      if (selector.serial) {
        return refused(SelectorProblem::repeated_term, term);
      }
      selector.serial = std::string(value);
    } else if (equals != std::string_view::npos && key == "path") {
      const auto location = parse_usb_location(value);
      if (!location) {
        return refused(SelectorProblem::bad_path, term);
      }
      if (selector.location) {
        return refused(SelectorProblem::repeated_term, term);
      }
      selector.location = *location;
    } else if (equals != std::string_view::npos && key == "if") {
      const int number = small_number(value, 0);
      if (number < 0 || number > 255) {
        return refused(SelectorProblem::bad_interface, term);
      }
      if (selector.interface_number) {
        return refused(SelectorProblem::repeated_term, term);
      }
      selector.interface_number = number;
    } else {
      return refused(SelectorProblem::unknown_term, term);
    }
    if (comma == std::string_view::npos) {
      return {selector, SelectorProblem::none, ""};
    }
    text.remove_prefix(comma + 1);
  }
}

bool selector_matches(const UsbSelector& selector, const UsbIdentity& identity) {
  if (selector.ids_given &&
      (selector.vendor_id != identity.vendor_id || selector.product_id != identity.product_id)) {
    return false;
  }
  if (selector.serial &&
      (identity.serial.empty() || !same_ignoring_case(*selector.serial, identity.serial))) {
    return false;
  }
  if (selector.location) {
    // A bus named where the system numbers none can't be told to agree.
    if (identity.location.ports.empty() || selector.location->ports != identity.location.ports ||
        (selector.location->bus != 0 && selector.location->bus != identity.location.bus)) {
      return false;
    }
  }
  return !selector.interface_number || *selector.interface_number == identity.interface_number;
}

std::string usb_location_text(const UsbLocation& location) {
  std::string text = location.bus != 0 ? std::to_string(location.bus) + "-" : "";
  for (std::size_t i = 0; i < location.ports.size(); ++i) {
    if (i != 0) {
      text += '.';
    }
    text += std::to_string(location.ports[i]);
  }
  return text;
}

std::string usb_selector_text(const UsbSelector& selector) {
  std::string terms;
  const auto add = [&terms](const std::string& term) {
    if (!terms.empty()) {
      terms += ',';
    }
    terms += term;
  };
  if (selector.ids_given) {
    char ids[10];
    std::snprintf(ids, sizeof ids, "%04x:%04x", selector.vendor_id, selector.product_id);
    add(ids);
  }
  if (selector.serial) {
    add("serial=" + *selector.serial);
  }
  if (selector.location) {
    add("path=" + usb_location_text(*selector.location));
  }
  if (selector.interface_number) {
    add("if=" + std::to_string(*selector.interface_number));
  }
  return std::string(k_prefix) + terms;
}

std::optional<UsbSelector> selector_naming(const std::vector<UsbIdentity>& identities,
                                           std::size_t index) {
  const UsbIdentity& self = identities[index];
  const bool by_serial = typeable(self.serial);
  const bool placed = !self.location.ports.empty();
  const auto make = [&](bool serial, bool place, bool interface) {
    UsbSelector selector;
    selector.ids_given = true;
    selector.vendor_id = self.vendor_id;
    selector.product_id = self.product_id;
    if (serial) {
      selector.serial = self.serial;
    }
    if (place) {
      selector.location = self.location;
    }
    if (interface) {
      selector.interface_number = self.interface_number;
    }
    return selector;
  };
  const auto alone = [&](const UsbSelector& selector) {
    for (std::size_t i = 0; i < identities.size(); ++i) {
      if (i != index && selector_matches(selector, identities[i])) {
        return false;
      }
    }
    return true;
  };
  // From the most lasting to the fullest: a serial number goes with the adapter to any socket.
  const std::vector<UsbSelector> tried = {
      make(by_serial, !by_serial && placed, false),
      make(by_serial, !by_serial && placed, true),
      make(by_serial, placed, false),
      make(by_serial, placed, true),
  };
  for (const UsbSelector& selector : tried) {
    if (alone(selector)) {
      return selector;
    }
  }
  return std::nullopt;
}

}  // namespace murve
