#include "device/port_enumeration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace murve_test {
namespace {

namespace fs = std::filesystem;

// A /dev and /sys as Linux has them for a PC's own UART, a ttyS node without one, port B of a
// two-port FTDI adapter, an Arduino without a serial number behind a hub, and two nodes sysfs
// knows nothing of, whose names sort otherwise as text: "path=contents" is a file, "path>target"
// a symbolic link.
void make_tree(const fs::path& root) {
  const std::string usb = "sys/devices/usb1/";
  for (const std::string& entry : std::vector<std::string>{
           "dev/ttyS0=",
           "dev/ttyS1=",
           "dev/ttyUSB0=",
           "dev/ttyACM0=",
           "dev/ttyUSB10=",
           "dev/ttyUSB2=",
           "dev/serial/by-id/usb-FTDI_Dual_RS232-HS_FT5X7-if01-port0>../../ttyUSB0",
           "sys/class/tty/ttyS0/type=4",
           "sys/class/tty/ttyS1/type=0",
           "sys/devices/pnp0/00:04/x=",
           "sys/bus/pnp/drivers/serial/x=",
           "sys/devices/pnp0/00:04/driver>../../../bus/pnp/drivers/serial",
           "sys/class/tty/ttyS0/device>../../../devices/pnp0/00:04",
           usb + "1-1/idVendor=0403",
           usb + "1-1/idProduct=6010",
           usb + "1-1/manufacturer=FTDI",
           usb + "1-1/product=Dual RS232-HS",
           usb + "1-1/serial=FT5X7",
           usb + "1-1/1-1:1.0/x=",
           usb + "1-1/1-1:1.1/ttyUSB0/x=",
           usb + "1-3/1-3.2/idVendor=2341",
           usb + "1-3/1-3.2/idProduct=0043",
           usb + "1-3/1-3.2/product=Arduino Uno",
           usb + "1-3/1-3.2/1-3.2:1.0/x=",
           "sys/class/tty/ttyUSB0/device>../../../devices/usb1/1-1/1-1:1.1/ttyUSB0",
           "sys/class/tty/ttyACM0/device>../../../devices/usb1/1-3/1-3.2/1-3.2:1.0"}) {
    const std::size_t split = entry.find_first_of("=>");
    const fs::path path = root / entry.substr(0, split);
    fs::create_directories(path.parent_path());
    if (entry[split] == '>') {
      fs::create_symlink(entry.substr(split + 1), path);
    } else {
      write_file(path.string(), entry.substr(split + 1) + "\n");
    }
  }
}

TEST(ListSerialPorts, ReadsDevAndSysfs) {
  TempDir dir;
  make_tree(dir.path());
  const std::string usb = dir.file("dev/ttyUSB0");
  const std::string ftdi = "FTDI Dual RS232-HS, serial FT5X7, USB 0403:6010";
  const std::string by_id =
      "/dev/serial/by-id/usb-FTDI_Dual_RS232-HS_FT5X7-if01-port0 "
      "usb:0403:6010,serial=FT5X7,path=1-1,if=1";
  const std::string arduino = "Arduino Uno, USB 2341:0043  usb:2341:0043,path=1-3.2,if=0";
  struct Case {
    const char* name;
    bool com9_maps_the_adapter;       // MURVECOLOR_COM9 names /dev/ttyUSB0
    std::vector<std::string> listed;  // "COM path description stable-path adapter" a port
  };
  const std::vector<Case> cases = {
      {"no variable: the UART as COM1, then the adapters",
       false,
       {"1 /dev/ttyS0 UART 16550A (serial)  -", "0 /dev/ttyACM0 " + arduino,
        "0 /dev/ttyUSB0 " + ftdi + " " + by_id, "0 /dev/ttyUSB2   -", "0 /dev/ttyUSB10   -"}},
      {"an adapter that COM9 maps to is listed once, as COM9",
       true,
       {"1 /dev/ttyS0 UART 16550A (serial)  -", "9 " + usb + " " + ftdi + " " + by_id,
        "0 /dev/ttyACM0 " + arduino, "0 /dev/ttyUSB2   -", "0 /dev/ttyUSB10   -"}},
  };
  for (int number = 1; number <= 16; ++number) {
    unsetenv(("MURVECOLOR_COM" + std::to_string(number)).c_str());
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.com9_maps_the_adapter) {
      setenv("MURVECOLOR_COM9", usb.c_str(), 1);
    }
    std::vector<std::string> listed;
    for (const murve::SerialPortEntry& port : murve::list_serial_ports(dir.path())) {
      murve::UsbSelector whole;  // every field the enumeration filled in
      if (port.usb) {
        whole = {true,
                 port.usb->vendor_id,
                 port.usb->product_id,
                 port.usb->serial,
                 port.usb->location,
                 port.usb->interface_number};
        if (port.usb->serial.empty()) {
          whole.serial.reset();
        }
      }
      listed.push_back(std::to_string(port.com_number) + " " + port.path + " " + port.description +
                       " " + port.stable_path + " " +
                       (port.usb ? murve::usb_selector_text(whole) : "-"));
    }
    EXPECT_EQ(listed, c.listed);
  }
  unsetenv("MURVECOLOR_COM9");
}

}  // namespace
}  // namespace murve_test
