// -port usb:...: the selector's grammar, which adapters it names, and what Windows' strings say.

#include "device/usb_selector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/windows_device_ids.h"

namespace {

using murve::SelectorProblem;

TEST(UsbSelector, Parses) {
  struct Case {
    std::string text;
    SelectorProblem problem;
    std::string result;  // the selector as written back, or the term the problem is in
  };
  const std::vector<Case> cases = {
      {"usb:0403:6001", SelectorProblem::none, "usb:0403:6001"},
      {"usb:1A86:7523", SelectorProblem::none, "usb:1a86:7523"},
      {"usb:serial=A1234,0403:6001", SelectorProblem::none, "usb:0403:6001,serial=A1234"},
      {"usb:if=1,path=1-1.4,1a86:7523", SelectorProblem::none, "usb:1a86:7523,path=1-1.4,if=1"},
      {"usb:path=1.4", SelectorProblem::none, "usb:path=1.4"},
      {"usb:serial=a=b:c d", SelectorProblem::none, "usb:serial=a=b:c d"},
      {"usb:", SelectorProblem::empty, ""},
      {"usb:0403:6001,", SelectorProblem::empty, ""},
      {"usb:zz:yy", SelectorProblem::bad_ids, "zz:yy"},
      {"usb:403:6001", SelectorProblem::bad_ids, "403:6001"},
      {"usb:0403:60011", SelectorProblem::bad_ids, "0403:60011"},
      {"usb:0403", SelectorProblem::unknown_term, "0403"},
      {"usb:A1234", SelectorProblem::unknown_term, "A1234"},
      {"usb:Serial=A1234", SelectorProblem::unknown_term, "Serial=A1234"},
      {"usb:serial=", SelectorProblem::bad_serial, "serial="},
      {"usb:serial=A\x01"
       "B",
       SelectorProblem::bad_serial,
       "serial=A\x01"
       "B"},
      {"usb:serial=A1234\n", SelectorProblem::bad_serial, "serial=A1234\n"},
      {"usb:serial=A\x7f", SelectorProblem::bad_serial, "serial=A\x7f"},
      {"usb:path=", SelectorProblem::bad_path, "path="},
      {"usb:path=1-", SelectorProblem::bad_path, "path=1-"},
      {"usb:path=1..4", SelectorProblem::bad_path, "path=1..4"},
      {"usb:path=1-0", SelectorProblem::bad_path, "path=1-0"},
      {"usb:path=1-1.2.3.4.5.6.7.8", SelectorProblem::bad_path, "path=1-1.2.3.4.5.6.7.8"},
      {"usb:if=256", SelectorProblem::bad_interface, "if=256"},
      {"usb:if=", SelectorProblem::bad_interface, "if="},
      {"usb:0403:6001,1a86:7523", SelectorProblem::repeated_term, "1a86:7523"},
      {"usb:path=1-1,path=1-2", SelectorProblem::repeated_term, "path=1-2"},
  };
  for (const Case& c : cases) {
    const murve::SelectorParse parse = murve::parse_usb_selector(c.text);
    EXPECT_EQ(parse.problem, c.problem) << c.text;
    EXPECT_EQ(parse.selector.has_value(), c.problem == SelectorProblem::none) << c.text;
    EXPECT_EQ(parse.selector ? murve::usb_selector_text(*parse.selector) : parse.term, c.result)
        << c.text;
  }
}

// Adapters as Linux describes them, and one as Windows does, with no bus number.
std::vector<murve::UsbIdentity> adapters() {
  return {
      {0x0403, 0x6001, "A1234", {1, {1}}, 0},  // FTDI FT232R
      {0x1a86, 0x7523, "", {1, {1, 4}}, 0},    // CH340, no serial number, behind a hub
      {0x1a86, 0x7523, "", {1, {2}}, 0},       // another
      {0x10c4, 0xea60, "0001", {3, {1}}, 0},   // CP2102s keep the maker's serial number
      {0x10c4, 0xea60, "0001", {3, {2}}, 0},
      {0x0403, 0x6010, "FT5X7", {1, {3}}, 0},  // FT2232H: two ports, one adapter
      {0x0403, 0x6010, "FT5X7", {1, {3}}, 1},
      {0x1a86, 0x7523, "", {0, {1, 4}}, 0},  // Windows: the CH340 at 1-1.4 agrees with all
      {0x0403,
       0x6015,
       "\x9b"
       "31m",
       {1, {5}},
       0},  // a serial number no one can type
  };
}

TEST(UsbSelector, NamesTheAdaptersThatAgreeWithEveryTerm) {
  struct Case {
    std::string selector;
    std::vector<std::size_t> named;
  };
  const std::vector<Case> cases = {
      {"usb:0403:6001", {0}},
      {"usb:1a86:7523", {1, 2, 7}},
      {"usb:serial=a1234", {0}},
      {"usb:0403:6001,serial=B999", {}},
      {"usb:10c4:ea60,serial=0001", {3, 4}},
      {"usb:serial=0001,path=3-2", {4}},
      {"usb:path=1-1.4", {1}},
      {"usb:path=1.4", {1, 7}},
      {"usb:path=1-1", {0}},
      {"usb:path=2-1.4", {}},
      {"usb:0403:6010,serial=FT5X7", {5, 6}},
      {"usb:0403:6010,if=1", {6}},
  };
  const std::vector<murve::UsbIdentity> all = adapters();
  for (const Case& c : cases) {
    const murve::UsbSelector selector = *murve::parse_usb_selector(c.selector).selector;
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (murve::selector_matches(selector, all[i])) {
        named.push_back(i);
      }
    }
    EXPECT_EQ(named, c.named) << c.selector;
  }
}

TEST(UsbSelector, ListsOneThatNamesEachAdapterAlone) {
  const std::vector<std::string> expected = {
      "usb:0403:6001,serial=A1234",
      "usb:1a86:7523,path=1-1.4",
      "usb:1a86:7523,path=1-2",
      "usb:10c4:ea60,serial=0001,path=3-1",
      "usb:10c4:ea60,serial=0001,path=3-2",
      "usb:0403:6010,serial=FT5X7,if=0",
      "usb:0403:6010,serial=FT5X7,if=1",
      "",
      "usb:0403:6015,path=1-5",
  };
  const std::vector<murve::UsbIdentity> all = adapters();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const auto naming = murve::selector_naming(all, i);
    EXPECT_EQ(naming ? murve::usb_selector_text(*naming) : "", expected[i]) << i;
  }
}

TEST(WindowsDeviceIds, InstanceIds) {
  using murve::DeviceNodeKind;
  struct Case {
    std::string id;
    DeviceNodeKind kind;
    std::string fields;  // "vvvv:pppp interface serial"
  };
  const std::vector<Case> cases = {
      {R"(USB\VID_0403&PID_6001\A1234)", DeviceNodeKind::usb_device, "0403:6001 -1 A1234"},
      {R"(USB\Vid_0403&Pid_6010\FTS3IQH4)", DeviceNodeKind::usb_device, "0403:6010 -1 FTS3IQH4"},
      {R"(USB\VID_10C4&PID_EA60\0001)", DeviceNodeKind::usb_device, "10c4:ea60 -1 0001"},
      // CH340: no serial number, so Windows made the instance part up.
      {R"(USB\VID_1A86&PID_7523\5&2A8F9C1&0&4)", DeviceNodeKind::usb_device, "1a86:7523 -1 "},
      {R"(USB\VID_2341&PID_8036&MI_00\6&3A1B2C4D&0&0000)", DeviceNodeKind::usb_interface,
       "2341:8036 0 "},
      {R"(USB\VID_0403&PID_6010&MI_01\7&1F2E3D4C&0&0001)", DeviceNodeKind::usb_interface,
       "0403:6010 1 "},
      // FTDI's own bus: the serial number with the port's letter, and the adapter its parent.
      {R"(FTDIBUS\VID_0403+PID_6001+A1234A\0000)", DeviceNodeKind::other, "0000:0000 -1 "},
      {R"(USB\ROOT_HUB30\4&2A6B1C9D&0&0)", DeviceNodeKind::other, "0000:0000 -1 "},
      {R"(ACPI\PNP0501\1)", DeviceNodeKind::other, "0000:0000 -1 "},
      {R"(USB\VID_04O3&PID_6001\A1234)", DeviceNodeKind::other, "0000:0000 -1 "},
      {R"(USB\VID_2341&PID_8036&MI_0G\6&3A1B2C4D&0&0000)", DeviceNodeKind::other, "0000:0000 -1 "},
  };
  for (const Case& c : cases) {
    const murve::InstanceIdFields fields = murve::parse_instance_id(c.id);
    char ids[10];
    std::snprintf(ids, sizeof ids, "%04x:%04x", fields.vendor_id, fields.product_id);
    EXPECT_EQ(fields.kind, c.kind) << c.id;
    EXPECT_EQ(
        std::string(ids) + " " + std::to_string(fields.interface_number) + " " + fields.serial,
        c.fields)
        << c.id;
  }
}

TEST(WindowsDeviceIds, LocationPaths) {
  const std::string acpi = "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)";
  const std::string xhci = "PCIROOT(0)#PCI(1400)#USBROOT(0)";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{xhci + "#USB(1)#USB(4)"}, "1.4"},
      {{acpi, xhci + "#USB(3)"}, "3"},
      {{xhci + "#USB(2)#USBMI(0)"}, "2"},
      {{xhci}, ""},
      {{xhci + "#USB(x)"}, ""},
      {{xhci + "#USB(0)"}, ""},
      {{}, ""},
  };
  for (const auto& [paths, ports] : cases) {
    EXPECT_EQ(murve::usb_location_text({0, murve::usb_ports_of_location_paths(paths)}), ports)
        << (paths.empty() ? "" : paths.back());
  }
}

}  // namespace
