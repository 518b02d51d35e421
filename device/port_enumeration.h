#pragma once

// The serial ports this computer has, as the system describes them. One file per platform, like
// the link: port_enumeration_posix.cpp reads /dev and sysfs, port_enumeration_win32.cpp asks the
// DOS device names and SetupAPI.

#include <optional>
#include <string>
#include <vector>

#include "device/usb_selector.h"

namespace murve {

struct SerialPortEntry {
  std::string path;                // what open_port opens: "/dev/ttyUSB0", "\\.\COM5"
  int com_number = 0;              // the COM number that reaches it; 0 when none does
  std::string description;         // what the system says of it; empty when it says nothing
  std::string stable_path;         // POSIX: its name under /dev/serial/by-id, when it has one
  std::string device;              // the same for every name that reaches the same device
  std::optional<UsbIdentity> usb;  // the adapter, when the port is on one
};

// Every port a COM number maps to (in number order), then every serial device no number maps
// to (by name, a number in it by its value: ttyUSB2 before ttyUSB10). POSIX: `root` is put in front
// of /dev and /sys, so that a test can give a tree of its own; the paths in MURVECOLOR_COM<n> are
// taken as they are.
std::vector<SerialPortEntry> list_serial_ports(const std::string& root = "");

}  // namespace murve
