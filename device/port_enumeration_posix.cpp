#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "device/port_enumeration.h"
#include "device/serial_link.h"

namespace murve {
namespace {

// How far up from a tty's device the USB device that carries it may be (interface, then device).
constexpr int k_usb_levels = 4;

// The serial nodes looked for in /dev besides those a COM number maps to.
constexpr const char* k_node_prefixes[] = {"ttyUSB", "ttyACM", "ttyS"};

bool exists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

std::string real_path(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A sysfs attribute's first line, or "" without one.
std::string attribute(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    return "";
  }
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  std::string text = read ? line : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// Names in the order people count them: the name less its number, then the number by its value
// (ttyUSB2 before ttyUSB10).
bool in_natural_order(const std::string& a, const std::string& b) {
  const auto key = [](std::string_view name) {
    const std::size_t number = name.find_last_not_of("0123456789") + 1;  // npos + 1 is 0
    const std::size_t value = std::min(name.find_first_not_of('0', number), name.size());
    return std::make_tuple(name.substr(0, number), name.size() - value, name.substr(value), name);
  };
  return key(a) < key(b);
}

std::vector<std::string> folder_entries(const std::string& path) {
  std::vector<std::string> names;
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) {
    return names;
  }
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  closedir(folder);
  std::sort(names.begin(), names.end());
  return names;
}

// What tells two names of one device apart from two devices: the device number of a node, or
// the resolved path of anything else (a fake tree's plain files).
std::string identity_of(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return "path:" + path;
  }
  if (S_ISCHR(status.st_mode)) {
    return "char:" + std::to_string(status.st_rdev);
  }
  return "path:" + real_path(path);
}

// The names 8250_core gives its UART types in /proc/tty/driver/serial, by sysfs "type".
std::string uart_name(int type) {
  switch (type) {
    case 1:
      return "8250";
    case 2:
      return "16450";
    case 3:
      return "16550";
    case 4:
      return "16550A";
    case 6:
      return "16650";
    case 7:
      return "16650V2";
    case 8:
      return "16750";
    case 10:
      return "16C950/954";
    default:
      return "type " + std::to_string(type);
  }
}

class SysfsReader {
 public:
  explicit SysfsReader(const std::string& root) : root_(root) {}

  std::string dev(const std::string& name) const { return root_ + "/dev/" + name; }

  // A /dev/ttyS node has a UART behind it when the serial core found one there (type not 0).
  bool has_uart(const std::string& name) const {
    const std::string type = attribute(class_folder(name) + "/type");
    return !type.empty() && std::atoi(type.c_str()) != 0;
  }

  // The USB device's maker, product, serial number and IDs, or the UART and its driver.
  std::string describe(const std::string& name) const {
    const std::string device = class_folder(name) + "/device";
    if (real_path(device).empty()) {
      return "";
    }
    if (const UsbFolders usb = usb_folders(name); !usb.device.empty()) {
      return describe_usb(usb.device);
    }
    const std::string driver = base_name(real_path(device + "/driver"));
    const std::string type = attribute(class_folder(name) + "/type");
    std::string text;
    if (!type.empty() && std::atoi(type.c_str()) != 0) {
      text = "UART " + uart_name(std::atoi(type.c_str()));
    }
    if (!driver.empty()) {
      text += text.empty() ? "driver " + driver : " (" + driver + ")";
    }
    return text;
  }

  // The adapter a tty is on: its IDs and serial number, and its place and interface from the
  // names sysfs gives them ("1-1.4", and "1-1.4:1.0" for its configuration 1, interface 0).
  std::optional<UsbIdentity> usb_identity(const std::string& name) const {
    const UsbFolders usb = usb_folders(name);
    if (usb.device.empty()) {
      return std::nullopt;
    }
    UsbIdentity identity;
    identity.vendor_id = hex_attribute(usb.device + "/idVendor");
    identity.product_id = hex_attribute(usb.device + "/idProduct");
    identity.serial = attribute(usb.device + "/serial");
    const std::string device_name = base_name(usb.device);
    if (const auto location = parse_usb_location(device_name)) {
      identity.location = *location;
    }
    const std::string interface = base_name(usb.interface);
    if (interface.rfind(device_name + ":", 0) == 0) {
      const std::size_t dot = interface.find('.', device_name.size());
      if (dot != std::string::npos) {
        identity.interface_number = std::atoi(interface.c_str() + dot + 1);
      }
    }
    return identity;
  }

 private:
  struct UsbFolders {
    std::string device;     // the USB device's folder; empty when the tty is on none
    std::string interface;  // the folder below it, the interface the tty is on
  };

  UsbFolders usb_folders(const std::string& name) const {
    std::string folder = real_path(class_folder(name) + "/device");
    std::string below;
    for (int level = 0; level < k_usb_levels && folder.size() > 1; ++level) {
      if (exists(folder + "/idVendor")) {
        return {folder, below};
      }
      below = folder;
      folder = folder.substr(0, folder.find_last_of('/'));
    }
    return {};
  }

  static std::uint16_t hex_attribute(const std::string& path) {
    return static_cast<std::uint16_t>(std::strtoul(attribute(path).c_str(), nullptr, 16));
  }

  std::string class_folder(const std::string& name) const {
    return root_ + "/sys/class/tty/" + name;
  }

  static std::string describe_usb(const std::string& folder) {
    std::string text = attribute(folder + "/manufacturer");
    const std::string product = attribute(folder + "/product");
    if (!product.empty()) {
      text += (text.empty() ? "" : " ") + product;
    }
    if (const std::string serial = attribute(folder + "/serial"); !serial.empty()) {
      text += (text.empty() ? "serial " : ", serial ") + serial;
    }
    text += (text.empty() ? "USB " : ", USB ") + attribute(folder + "/idVendor") + ":" +
            attribute(folder + "/idProduct");
    return text;
  }

  std::string root_;
};

// A port's description, wherever its path leads.
std::string describe_path(const SysfsReader& sysfs, const std::string& path) {
  const std::string node = real_path(path);
  if (node.rfind("/dev/pts/", 0) == 0) {
    return "pseudo-terminal";
  }
  return node.empty() ? "" : sysfs.describe(base_name(node));
}

std::optional<UsbIdentity> usb_of_path(const SysfsReader& sysfs, const std::string& path) {
  const std::string node = real_path(path);
  return node.empty() ? std::nullopt : sysfs.usb_identity(base_name(node));
}

}  // namespace

std::vector<SerialPortEntry> list_serial_ports(const std::string& root) {
  const SysfsReader sysfs(root);
  // Each adapter's stable name, by the device it leads to.
  std::map<std::string, std::string> by_id;
  const std::string by_id_folder = root + "/dev/serial/by-id";
  for (const std::string& name : folder_entries(by_id_folder)) {
    by_id.emplace(identity_of(by_id_folder + "/" + name), "/dev/serial/by-id/" + name);
  }

  std::vector<SerialPortEntry> ports;
  std::vector<std::string> listed;  // identities of the devices in `ports`
  const auto add = [&](const std::string& path, int com_number, std::string description,
                       const std::string& identity, std::optional<UsbIdentity> usb) {
    SerialPortEntry entry;
    entry.path = path;
    entry.com_number = com_number;
    entry.description = std::move(description);
    entry.device = identity;
    entry.usb = std::move(usb);
    if (const auto alias = by_id.find(identity); alias != by_id.end()) {
      entry.stable_path = alias->second;
    }
    listed.push_back(identity);
    ports.push_back(std::move(entry));
  };
  for (int number = 1; number <= k_port_count; ++number) {
    const PortAddress address = port_for_number(number);
    const bool mapped = address.origin == PortOrigin::variable;
    const std::string on_disk = mapped ? address.path : root + address.path;
    if (mapped || (exists(on_disk) && sysfs.has_uart(base_name(address.path)))) {
      add(address.path, number, describe_path(sysfs, on_disk), identity_of(on_disk),
          usb_of_path(sysfs, on_disk));
    }
  }

  std::vector<std::string> nodes;
  for (const std::string& name : folder_entries(root + "/dev")) {
    for (const char* prefix : k_node_prefixes) {
      const std::string start = prefix;
      if (name.size() > start.size() && name.compare(0, start.size(), start) == 0 &&
          (start != "ttyS" || sysfs.has_uart(name))) {
        nodes.push_back("/dev/" + name);
      }
    }
  }
  // Adapters whose driver names its nodes otherwise are still under by-id.
  for (const auto& [identity, stable] : by_id) {
    const std::string node = real_path(root + stable);
    if (!node.empty()) {
      nodes.push_back(root.empty() ? node : "/dev/" + base_name(node));
    }
  }
  std::sort(nodes.begin(), nodes.end(), in_natural_order);
  for (const std::string& node : nodes) {
    const std::string identity = identity_of(root + node);
    if (std::find(listed.begin(), listed.end(), identity) == listed.end()) {
      add(node, 0, sysfs.describe(base_name(node)), identity, sysfs.usb_identity(base_name(node)));
    }
  }
  return ports;
}

}  // namespace murve
