#include <windows.h>

// After windows.h, which they need; initguid.h first, so that devguid.h defines the class GUID
// here rather than leave it to a library.
#include <initguid.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/port_enumeration.h"
#include "device/windows_device_ids.h"

namespace murve {
namespace {

// The COM numbers Windows gives out.
constexpr int k_highest_com_number = 256;

// "COM5" -> 5; 0 for anything else.
int com_number_of(const std::string& name) {
  if (name.size() < 4 || name.size() > 6 || _strnicmp(name.c_str(), "COM", 3) != 0 ||
      name.find_first_not_of("0123456789", 3) != std::string::npos) {
    return 0;
  }
  return std::stoi(name.substr(3));
}

// How far up the device tree from a port the USB device that carries it may be: FTDI's bus
// node, then the function of a composite device, then the device.
constexpr int k_usb_levels = 4;

std::string instance_id_of(DEVINST node) {
  std::array<char, MAX_DEVICE_ID_LEN + 1> id{};
  return CM_Get_Device_IDA(node, id.data(), id.size() - 1, 0) == CR_SUCCESS ? id.data() : "";
}

// A device's location paths, each string of the REG_MULTI_SZ.
std::vector<std::string> location_paths_of(DEVINST node) {
  std::array<char, 2048> text{};
  ULONG size = text.size() - 2;
  ULONG type = 0;
  std::vector<std::string> paths;
  if (CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_LOCATION_PATHS, &type, text.data(), &size,
                                        0) != CR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return paths;
  }
  for (const char* path = text.data(); *path != '\0'; path += std::strlen(path) + 1) {
    paths.emplace_back(path);
  }
  return paths;
}

// The USB adapter a port's device node is on, walking up to it through the nodes between.
std::optional<UsbIdentity> usb_identity_of(DEVINST node) {
  int interface_number = 0;  // a device that is not composite has one function
  for (int level = 0; level < k_usb_levels; ++level) {
    const InstanceIdFields fields = parse_instance_id(instance_id_of(node));
    if (fields.kind == DeviceNodeKind::usb_device) {
      UsbIdentity identity;
      identity.vendor_id = fields.vendor_id;
      identity.product_id = fields.product_id;
      identity.serial = fields.serial;
      identity.location.ports = usb_ports_of_location_paths(location_paths_of(node));
      identity.interface_number = interface_number;
      return identity;
    }
    if (fields.kind == DeviceNodeKind::usb_interface) {
      interface_number = fields.interface_number;
    }
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
      break;
    }
    node = parent;
  }
  return std::nullopt;
}

struct PortFacts {
  std::string description;
  std::optional<UsbIdentity> usb;
};

// What Device Manager calls each port of the Ports class, by its COM number: the friendly name,
// less the " (COMn)" that repeats the number, and the USB adapter it is on. Empty where SetupAPI
// knows nothing of the port (Wine's ports, some virtual ones).
std::map<int, PortFacts> port_descriptions() {
  std::map<int, PortFacts> descriptions;
  HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) {
    return descriptions;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    // The device's own key names its port; the friendly name only ends in it by custom.
    HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
      continue;
    }
    std::array<char, 32> port_name{};
    DWORD size = port_name.size() - 1;
    DWORD type = 0;
    const LONG read = RegQueryValueExA(key, "PortName", nullptr, &type,
                                       reinterpret_cast<BYTE*>(port_name.data()), &size);
    RegCloseKey(key);
    const int number =
        read == ERROR_SUCCESS && type == REG_SZ ? com_number_of(port_name.data()) : 0;
    if (number == 0) {
      continue;
    }
    descriptions[number].usb = usb_identity_of(device.DevInst);
    std::array<char, 512> friendly{};
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(friendly.data()),
                                           friendly.size() - 1, nullptr)) {
      continue;
    }
    std::string text = friendly.data();
    const std::string suffix = " (COM" + std::to_string(number) + ")";
    if (text.size() > suffix.size() &&
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0) {
      text.resize(text.size() - suffix.size());
    }
    descriptions[number].description = text;
  }
  SetupDiDestroyDeviceInfoList(devices);
  return descriptions;
}

}  // namespace

std::vector<SerialPortEntry> list_serial_ports(const std::string&) {
  const std::map<int, PortFacts> descriptions = port_descriptions();
  std::vector<SerialPortEntry> ports;
  // A COM port exists when its DOS device name does, whoever's driver made it.
  std::array<char, 512> target{};
  for (int number = 1; number <= k_highest_com_number; ++number) {
    const std::string name = "COM" + std::to_string(number);
    const DWORD mapped = QueryDosDeviceA(name.c_str(), target.data(), target.size());
    if (mapped == 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      continue;
    }
    SerialPortEntry port;
    port.path = "\\\\.\\" + name;
    port.com_number = number;
    // Two COM names for one device share the NT device name they are links to.
    port.device = mapped != 0 ? target.data() : port.path;
    if (const auto found = descriptions.find(number); found != descriptions.end()) {
      port.description = found->second.description;
      port.usb = found->second.usb;
    }
    ports.push_back(port);
  }
  return ports;
}

}  // namespace murve
