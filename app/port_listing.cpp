#include "app/port_listing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "common/message.h"
#include "common/report.h"
#include "common/usb_port.h"
#include "device/device_programming.h"
#include "device/dialogue.h"
#include "device/port_enumeration.h"
#include "device/serial_link.h"
#include "settings/text_format.h"

namespace murve {
namespace {

struct Probe {
  bool murve = false;
  std::string outcome;
};

// A string from the system or the device as -list shows it, to a terminal or a pipe alike: an
// adapter names itself, and its name may hold escape sequences meant for whoever reads it.
std::string shown(std::string_view text) {
  return printable(text);
}

// The line of the answer that names the device, as one line of plain text.
std::string identity_line(const char* answer) {
  const char* name = std::strstr(answer, "MURVE");
  const char* start = name;
  while (start > answer && start[-1] != '\n' && start[-1] != '\r') {
    --start;
  }
  const std::size_t length = std::strcspn(name, "\r\n");
  return printable({start, static_cast<std::size_t>(name + length - start)}, PrintableFor::listing);
}

std::string open_outcome(const PortOpening& opening, unsigned baud) {
  switch (opening.failure) {
    case OpenFailure::in_use:
      return message("in use by another program");
    case OpenFailure::permission_denied:
      return message("permission denied");
    case OpenFailure::no_such_device:
      return message("not there");
    case OpenFailure::no_hardware:
      return message("no serial hardware behind it");
    case OpenFailure::not_a_serial_port:
      return message("not a serial port");
    case OpenFailure::baud_refused:
      return message("does not run at {baud} baud", {{"baud", std::to_string(baud)}});
    case OpenFailure::other:
    case OpenFailure::none:
      break;
  }
  return message("cannot open it: {reason}", {{"reason", opening.error.text}});
}

Probe probe(const SerialPortEntry& port, unsigned baud) {
  PortAddress address = port_named(port.path);
  address.com_number = port.com_number;
  const PortOpening opening = open_port(address, {baud});
  if (!opening.link) {
    return {false, open_outcome(opening, baud)};
  }
  Dialogue dialogue(*opening.link);
  const Identification identification = identify_device(dialogue);
  Probe result;
  switch (identification.result) {
    case IdentifyResult::identified:
      result = {true, shown(identity_line(dialogue.reply()))};
      break;
    case IdentifyResult::not_murve:
      result.outcome = message("answers, not a MURVE Pro");
      break;
    case IdentifyResult::late_reply:
      result.outcome = message("answers late");
      break;
    case IdentifyResult::no_reply:
      result.outcome = message("no answer within 1 s");
      break;
    case IdentifyResult::hung_up:
      result.outcome = message("hung up");
      break;
    case IdentifyResult::send_failed:
      result.outcome = identification.send.stalled
                           ? message("cannot send to it: the port took no byte")
                           : message("cannot send to it: {reason}",
                                     {{"reason", identification.send.error.text}});
      break;
  }
  opening.link->close_port();
  return result;
}

}  // namespace

int list_serial_ports_for_murve(const char* program, unsigned baud) {
  const std::vector<SerialPortEntry> ports = list_serial_ports();
  // Each device once, by the first of its names: a second probe would find it held by the first.
  std::vector<std::size_t> first_name(ports.size());
  std::map<std::string, std::size_t> first_of_device;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    first_name[i] = first_of_device.emplace(ports[i].device, i).first->second;
  }
  std::vector<Probe> probes(ports.size());
  {
    // All at once: a silent port takes about 2 s, and so does the whole listing.
    std::vector<std::thread> probing;
    probing.reserve(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
      if (first_name[i] != i) {
        continue;
      }
      try {
        probing.emplace_back([&, i] { probes[i] = probe(ports[i], baud); });
      } catch (const std::system_error&) {
        probes[i] = probe(ports[i], baud);  // no thread to be had: this one in turn
      }
    }
    for (std::thread& thread : probing) {
      thread.join();
    }
  }
  const std::vector<std::string> selectors = usb_port_selectors(ports);
  std::vector<std::array<std::string, 4>> columns;
  std::array<std::size_t, 4> widths{};
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const SerialPortEntry& port = ports[i];
    std::array<std::string, 4> row = {
        port.com_number > 0 ? format_text("COM%d", port.com_number) : "-", shown(port.path),
        selectors[i].empty() ? "-" : shown(selectors[i]),
        port.description.empty() ? "-" : shown(port.description)};
    for (std::size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], row[column].size());
    }
    columns.push_back(std::move(row));
  }
  bool any_murve = false;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const Probe& found = probes[first_name[i]];
    // The name that lasts longest: the adapter's selector, its name under by-id, its path.
    const std::string& lasting = !selectors[i].empty()           ? selectors[i]
                                 : !ports[i].stable_path.empty() ? ports[i].stable_path
                                                                 : ports[i].path;
    const std::string outcome = found.murve && ports[i].com_number == 0
                                    ? message("{banner}; reach it with -port {path}",
                                              {{"banner", found.outcome}, {"path", shown(lasting)}})
                                    : found.outcome;
    print_output("%-*s  %-*s  %-*s  %-*s  %s\n", static_cast<int>(widths[0]), columns[i][0].c_str(),
                 static_cast<int>(widths[1]), columns[i][1].c_str(), static_cast<int>(widths[2]),
                 columns[i][2].c_str(), static_cast<int>(widths[3]), columns[i][3].c_str(),
                 outcome.c_str());
    any_murve = any_murve || found.murve;
  }
  if (ports.empty()) {
    report_problem(program, message("no serial port found"));
  } else if (!any_murve) {
    report_problem(program, message("no MURVE Pro answered on any serial port"));
  }
  return any_murve ? 0 : 1;
}

}  // namespace murve
