#pragma once

// What Windows' device tree says of a USB serial port, from its strings: the device instance ID
// ("USB\VID_0403&PID_6001\A1234") and the location paths
// ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)"). Pure, so that it is tested on recorded
// strings on every platform; port_enumeration_win32.cpp walks the tree and asks for them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murve {

enum class DeviceNodeKind {
  usb_device,     // USB\VID_v&PID_p\instance: the adapter itself
  usb_interface,  // USB\VID_v&PID_p&MI_nn\instance: one function of a composite adapter
  other,          // anything else (FTDIBUS\..., ACPI\...): its parent may be the adapter
};

struct InstanceIdFields {
  DeviceNodeKind kind = DeviceNodeKind::other;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  int interface_number = -1;  // MI_nn, on an interface
  // The adapter's serial number, which Windows makes the instance part of a USB device's ID;
  // empty when Windows made that part up (an adapter without one: "5&2a8f9c1&0&4").
  std::string serial;
};

InstanceIdFields parse_instance_id(std::string_view instance_id);

// The ports from the root hub down, from a device's location paths (each string of the
// REG_MULTI_SZ, without its ending NULs); empty when none of them is a USB path.
std::vector<int> usb_ports_of_location_paths(const std::vector<std::string>& paths);

}  // namespace murve
