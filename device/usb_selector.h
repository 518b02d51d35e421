#pragma once

// A USB serial adapter named by what it is rather than by the name the system gave its port
// (-port usb:...): the selector's grammar, and which adapters a selector names. The enumeration
// fills in each port's identity (port_enumeration.h); the programs say what a choice came to.
//
//   selector = "usb:" term *("," term)
//   term     = VVVV ":" PPPP          vendor and product ID, four hex digits each (lsusb's form)
//            / "serial=" SERIAL       the adapter's serial number: no control character, no comma
//            / "path=" [BUS "-"] PORT *("." PORT)   its place on the USB tree (Linux's 1-1.4)
//            / "if=" N                which of the adapter's ports, by its USB interface number
//
// Each term at most once; an adapter is named when it agrees with every term given.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murve {

// Where an adapter is plugged in: the ports from the root hub down, and the bus where the system
// numbers its buses.
struct UsbLocation {
  int bus = 0;             // Linux's USB bus number; 0 where the system has none (Windows)
  std::vector<int> ports;  // from the root hub down; empty when the system does not say

  bool operator==(const UsbLocation&) const = default;
};

// A USB serial port as the system describes its adapter.
struct UsbIdentity {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::string serial;  // the adapter's serial number; empty when it has none
  UsbLocation location;
  int interface_number = 0;  // the USB interface of this port: 0 on a single-port adapter
};

struct UsbSelector {
  bool ids_given = false;  // vendor_id and product_id, which are given together
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::optional<std::string> serial;
  std::optional<UsbLocation> location;
  std::optional<int> interface_number;
};

enum class SelectorProblem {
  none,
  empty,          // nothing after "usb:", or an empty term ("usb:0403:6001,")
  unknown_term,   // `term` is none of the four kinds
  bad_ids,        // `term` has a colon but is not four hex digits, a colon, four hex digits
  bad_serial,     // serial= is empty or holds a control character
  bad_path,       // path= is not [BUS-]PORT.PORT...
  bad_interface,  // if= is not a number from 0 to 255
  repeated_term,  // `term` is of a kind given before it
};

// A selector, or why its text is none.
struct SelectorParse {
  std::optional<UsbSelector> selector;
  SelectorProblem problem = SelectorProblem::none;
  std::string term;  // the term the problem is in
};

// Whether a -port value is a selector rather than a path: it begins with "usb:".
bool is_usb_selector(std::string_view port_name);

// A number of one to three decimal digits, as a bus, a port or an interface is written, or -1.
int small_decimal(std::string_view text);

SelectorParse parse_usb_selector(std::string_view text);

// Serial numbers agree without regard to ASCII case: Windows compares instance IDs so.
bool selector_matches(const UsbSelector& selector, const UsbIdentity& identity);

// The selector as the programs write it: "usb:", then the IDs, serial=, path= and if= terms,
// hex digits in lower case.
std::string usb_selector_text(const UsbSelector& selector);

// "1-1.4" (bus 1, port 1, then port 4 of the hub there), or "1.4" without a bus.
std::string usb_location_text(const UsbLocation& location);

std::optional<UsbLocation> parse_usb_location(std::string_view text);

// The selector that names `identities[index]` and none other of them, as lasting as can be: the
// IDs with the serial number, or with the place on the tree when there is no serial number a
// person can type (printable ASCII, no space, no comma); the place, the interface or both added
// where that is not yet enough. Nothing when no selector names it alone.
std::optional<UsbSelector> selector_naming(const std::vector<UsbIdentity>& identities,
                                           std::size_t index);

}  // namespace murve
