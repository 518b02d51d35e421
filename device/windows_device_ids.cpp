#include "device/windows_device_ids.h"

#include <algorithm>

#include "device/usb_selector.h"

namespace murve {
namespace {

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether `text` begins with `prefix` (upper case), whatever the case of `text`: Windows writes
// "VID_" in some IDs and "Vid_" in others.
bool begins_with(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(),
                                                    [](char p, char t) { return p == upper(t); });
}

// `digits` hex digits, or -1.
long hex_value(std::string_view text, std::size_t digits) {
  if (text.size() != digits) {
    return -1;
  }
  long value = 0;
  for (const char c : text) {
    const char u = upper(c);
    const int digit = u >= '0' && u <= '9' ? u - '0' : u >= 'A' && u <= 'F' ? u - 'A' + 10 : -1;
    if (digit < 0) {
      return -1;
    }
    value = value * 16 + digit;
  }
  return value;
}

std::vector<int> usb_ports_of(std::string_view path) {
  constexpr std::string_view root = "#USBROOT(";
  const std::size_t at = path.find(root);
  if (at == std::string_view::npos) {
    return {};
  }
  path.remove_prefix(at + root.size());
  const std::size_t close = path.find(')');
  if (close == std::string_view::npos) {
    return {};
  }
  path.remove_prefix(close + 1);
  std::vector<int> ports;
  constexpr std::string_view hop = "#USB(";
  while (path.substr(0, hop.size()) == hop) {
    path.remove_prefix(hop.size());
    const std::size_t end = path.find(')');
    const int port = small_decimal(path.substr(0, end));
    if (end == std::string_view::npos || port < 1) {
      return {};
    }
    ports.push_back(port);
    path.remove_prefix(end + 1);
  }
  // A function of a composite device ends in "#USBMI(n)", past its device's place.
  if (ports.empty() || !(path.empty() || path.substr(0, 7) == "#USBMI(")) {
    return {};
  }
  return ports;
}

}  // namespace

InstanceIdFields parse_instance_id(std::string_view instance_id) {
  InstanceIdFields fields;
  const std::size_t first = instance_id.find('\\');
  const std::size_t second =
      first == std::string_view::npos ? first : instance_id.find('\\', first + 1);
  if (second == std::string_view::npos ||
      instance_id.find('\\', second + 1) != std::string_view::npos || first != 3 ||
      !begins_with(instance_id, "USB")) {
    return fields;
  }
  std::string_view device = instance_id.substr(first + 1, second - first - 1);
  const std::string_view instance = instance_id.substr(second + 1);
  long vendor = -1;
  long product = -1;
  long interface = -1;
  while (!device.empty()) {
    const std::size_t amp = device.find('&');
    const std::string_view part = device.substr(0, amp);
    if (begins_with(part, "VID_")) {
      vendor = hex_value(part.substr(4), 4);
    } else if (begins_with(part, "PID_")) {
      product = hex_value(part.substr(4), 4);
    } else if (begins_with(part, "MI_")) {
      interface = hex_value(part.substr(3), 2);
      if (interface < 0) {
        return fields;
      }
    }
    device.remove_prefix(amp == std::string_view::npos ? device.size() : amp + 1);
  }
  if (vendor < 0 || product < 0) {
    return fields;
  }
  fields.vendor_id = static_cast<std::uint16_t>(vendor);
  fields.product_id = static_cast<std::uint16_t>(product);
  if (interface >= 0) {
    fields.kind = DeviceNodeKind::usb_interface;
    fields.interface_number = static_cast<int>(interface);
    return fields;
  }
  fields.kind = DeviceNodeKind::usb_device;
  // Windows makes an instance part of its own, with '&' in it, for an adapter without a serial
  // number (or with one it does not take); a serial number it takes has none.
  if (instance.find('&') == std::string_view::npos) {
    fields.serial = std::string(instance);
  }
  return fields;
}

std::vector<int> usb_ports_of_location_paths(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (std::vector<int> ports = usb_ports_of(path); !ports.empty()) {
      return ports;
    }
  }
  return {};
}

}  // namespace murve
