#include "common/usb_port.h"

#include <map>

#include "common/message.h"
#include "common/report.h"

namespace murve {
namespace {

// The first of each device's names that is on a USB adapter, by its place in `ports`.
std::vector<std::size_t> usb_devices(const std::vector<SerialPortEntry>& ports) {
  std::vector<std::size_t> firsts;
  std::map<std::string, bool> seen;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (ports[i].usb && seen.emplace(ports[i].device, true).second) {
      firsts.push_back(i);
    }
  }
  return firsts;
}

std::string adapter_line(const std::string& selector, const SerialPortEntry& port) {
  if (selector.empty()) {
    return message(
        "no selector names the adapter on {port} ({description}) alone: -port {port} "
        "names its port",
        {{"port", printable(port.path)},
         {"description", printable(port.description.empty() ? "-" : port.description)}});
  }
  if (port.description.empty()) {
    return message("{selector} names the adapter on {port}",
                   {{"selector", printable(selector)}, {"port", printable(port.path)}});
  }
  return message("{selector} names the adapter on {port} ({description})",
                 {{"selector", printable(selector)},
                  {"port", printable(port.path)},
                  {"description", printable(port.description)}});
}

}  // namespace

std::string explain_selector_problem(const std::string& port_name) {
  if (!is_usb_selector(port_name)) {
    return "";
  }
  const SelectorParse parse = parse_usb_selector(port_name);
  const std::initializer_list<MessagePart> parts = {{"selector", quoted_word(port_name)},
                                                    {"term", quoted_word(parse.term)}};
  switch (parse.problem) {
    case SelectorProblem::none:
      break;
    case SelectorProblem::empty:
      return message(
          "-port {selector}: a USB selector is usb: and then terms separated by commas, none of "
          "them empty, such as usb:1a86:7523 or usb:0403:6001,serial=A1234",
          parts);
    case SelectorProblem::unknown_term:
      return message(
          "-port {selector}: {term} is no term of a USB selector, which are VVVV:PPPP (the "
          "vendor and product IDs), serial=, path= and if=",
          parts);
    case SelectorProblem::bad_ids:
      return message(
          "-port {selector}: {term} is not a vendor and a product ID, which are four hex digits "
          "each, as in usb:1a86:7523",
          parts);
    case SelectorProblem::bad_serial:
      return message(
          "-port {selector}: the serial number in {term} is empty or has a control "
          "character",
          parts);
    case SelectorProblem::bad_path:
      return message(
          "-port {selector}: {term} is not a place on the USB tree, which is the bus, a dash and "
          "the ports from the root hub down separated by full stops, as in path=1-1.4, or the "
          "ports alone, as in path=1.4",
          parts);
    case SelectorProblem::bad_interface:
      return message("-port {selector}: {term} is not an interface number from 0 to 255", parts);
    case SelectorProblem::repeated_term:
      return message("-port {selector}: {term} is of a kind given before it", parts);
  }
  return "";
}

std::vector<std::string> usb_port_selectors(const std::vector<SerialPortEntry>& ports) {
  const std::vector<std::size_t> devices = usb_devices(ports);
  std::vector<UsbIdentity> identities;
  for (const std::size_t i : devices) {
    identities.push_back(*ports[i].usb);
  }
  std::map<std::string, std::string> by_device;
  for (std::size_t k = 0; k < devices.size(); ++k) {
    const std::optional<UsbSelector> naming = selector_naming(identities, k);
    by_device[ports[devices[k]].device] = naming ? usb_selector_text(*naming) : "";
  }
  std::vector<std::string> selectors;
  for (const SerialPortEntry& port : ports) {
    selectors.push_back(port.usb ? by_device[port.device] : "");
  }
  return selectors;
}

UsbPortChoice choose_usb_port(const std::string& selector_text,
                              const std::vector<SerialPortEntry>& ports) {
  UsbPortChoice choice;
  const UsbSelector selector = parse_usb_selector(selector_text).selector.value_or(UsbSelector{});
  const std::vector<std::string> selectors = usb_port_selectors(ports);
  std::vector<std::size_t> named;
  for (const std::size_t i : usb_devices(ports)) {
    if (selector_matches(selector, *ports[i].usb)) {
      named.push_back(i);
    }
  }
  const std::string shown = printable(selector_text);
  if (named.size() == 1) {
    choice.address = port_named(ports[named[0]].path);
    choice.address->com_number = ports[named[0]].com_number;
    choice.shown = selector_text + " (" + ports[named[0]].path + ")";
    return choice;
  }
  choice.shown = selector_text;
  std::vector<std::size_t> listed = named;
  if (named.empty()) {
    listed = usb_devices(ports);
    choice.reasons.push_back(
        listed.empty()
            ? message("-port {selector} names no adapter: no USB serial adapter is attached",
                      {{"selector", shown}})
            : message("-port {selector} names none of the USB serial adapters attached, which "
                      "follow",
                      {{"selector", shown}}));
  } else {
    choice.reasons.push_back(
        message("-port {selector} names {count} USB serial adapters, not one: each of those "
                "that follow names one alone",
                {{"selector", shown}, {"count", std::to_string(named.size())}}));
  }
  for (const std::size_t i : listed) {
    choice.reasons.push_back(adapter_line(selectors[i], ports[i]));
  }
  return choice;
}

}  // namespace murve
