// murvedump: saves the colour settings a MURVE Pro holds as a settings file that murvecolor can
// write back.

#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "common/atomic_file.h"
#include "common/device_backup.h"
#include "common/device_messages.h"
#include "common/message.h"
#include "common/port_options.h"
#include "common/process_setup.h"
#include "common/report.h"
#include "common/usb_port.h"
#include "device/dialogue.h"
#include "device/port_enumeration.h"
#include "device/serial_link.h"
#include "settings/text_format.h"

// The version is set once, by project() in CMakeLists.txt.
#ifndef MURVECOLOR_VERSION
#error "MURVECOLOR_VERSION is defined by the build"
#endif

namespace {

constexpr const char* k_program = "murvedump";
constexpr int k_exit_failed = 1;
constexpr int k_exit_usage = 2;

constexpr const char* k_usage =
    N_("usage: murvedump -com N | -port PORT [-baud RATE] [-o FILE]\n"
       "       murvedump --help | --version\n"
       "Reads the colour settings of the MURVE Pro on COM port N (1-16), or on PORT, and writes\n"
       "them as a settings file to FILE, or to standard output. murvecolor -com N -config FILE\n"
       "writes them back. PORT may be usb:... naming a USB adapter, as murvecolor -list shows\n"
       "it. -baud runs the line at RATE for the reading. Nothing is written unless the device\n"
       "answered and every byte was read.\n");

struct DumpOptions {
  murve::PortOptions port;
  std::string output_path;  // empty: standard output
};

// Why the command line is refused, or "" when it is not.
std::string parse_options(int argc, char** argv, DumpOptions& options) {
  using murve::message;
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    const bool valued = std::strcmp(option, "-com") == 0 || std::strcmp(option, "-port") == 0 ||
                        std::strcmp(option, "-baud") == 0 || std::strcmp(option, "-o") == 0;
    if (!valued) {
      return message("unknown option {option}", {{"option", murve::quoted_word(option)}});
    }
    if (i + 1 == argc) {
      return message("{option} needs a value", {{"option", option}});
    }
    const char* value = argv[++i];
    if (std::strcmp(option, "-port") == 0 && *value == '\0') {
      return message("-port needs a port");
    }
    if (std::strcmp(option, "-port") == 0) {
      if (const std::string why = murve::explain_selector_problem(value); !why.empty()) {
        return why;
      }
    }
    switch (murve::take_port_option(option, value, options.port)) {
      case murve::PortOptionUse::taken:
        break;
      case murve::PortOptionUse::baud_unsupported:
        return message(
            "-baud takes one of {rates}, not {value}",
            {{"rates", murve::supported_rates_text()}, {"value", murve::quoted_word(value)}});
      case murve::PortOptionUse::not_a_port_option:
        if (*value == '\0') {
          return message("-o needs a file name");
        }
        options.output_path = value;
        break;
    }
  }
  if (options.port.named || murve::is_port_number(options.port.port_number)) {
    return "";
  }
  if (options.port.number_text == nullptr) {
    return message("-com N or -port PORT names the port to read");
  }
  return message("-com needs a port number from 1 to 16, not {value}",
                 {{"value", murve::quoted_word(options.port.number_text)}});
}

int fail(const std::string& why) {
  murve::report_problem(k_program, murve::message("{reason}; nothing written", {{"reason", why}}));
  return k_exit_failed;
}

// Why the reading is not a backup to write.
std::string explain_reading(const murve::BackupReading& reading, const murve::PortLabel& port) {
  if (reading.identification.result != murve::IdentifyResult::identified) {
    return murve::explain_identification(reading.identification, port);
  }
  for (std::size_t block = 0; block < reading.readback.blocks.size(); ++block) {
    const std::string why = murve::explain_block(reading.readback.blocks[block],
                                                 murve::read_block_address(block), port);
    if (!why.empty()) {
      return why;
    }
  }
  return murve::message("the read-back did not complete");
}

// The whole of murvedump after its set-up; gives the exit status.
int run_murvedump(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    murve::print_output("%s", murve::message(k_usage).c_str());
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    murve::print_output("murvedump (murvecolor) %s\n", MURVECOLOR_VERSION);
    return 0;
  }
  DumpOptions options;
  if (const std::string why = parse_options(argc, argv, options); !why.empty()) {
    murve::report_problem(k_program, why);
    murve::print_error(murve::message(k_usage));
    return k_exit_usage;
  }
  // Before the device is read: a name that can't take the backup is known at once.
  if (options.output_path.empty() && murve::standard_output_was_closed()) {
    return fail(murve::message("standard output is closed: give the backup a file with -o FILE"));
  }
  std::optional<murve::AtomicFileWriter> output;
  if (!options.output_path.empty()) {
    output.emplace(options.output_path);
    if (const murve::FileWriteError& error = output->preparation(); error.failed()) {
      return fail(murve::explain_file_write(error));
    }
  }
  const murve::PortOptions& port_options = options.port;
  murve::PortAddress address =
      murve::port_address_of(port_options.port_number, port_options.port_name);
  // The header names the port as the user did: a selector with the path it led to.
  std::string source =
      port_options.named ? address.path : murve::format_text("COM%d", port_options.port_number);
  if (port_options.named && murve::is_usb_selector(port_options.port_name)) {
    const murve::UsbPortChoice choice =
        murve::choose_usb_port(port_options.port_name, murve::list_serial_ports());
    if (!choice.address) {
      for (const std::string& reason : choice.reasons) {
        murve::report_problem(k_program, reason);
      }
      return k_exit_failed;
    }
    address = *choice.address;
    source = choice.shown;
  }
  murve::PortLabel port;
  port.address = address;
  murve::DeviceBackup backup;
  {
    const murve::PortOpening opening = murve::open_port(address, {port_options.baud});
    if (!opening.link) {
      murve::report_problem(k_program, murve::explain_open_failure(opening, port));
      return k_exit_failed;
    }
    port.flow_control = opening.link->hardware_flow_control();
    murve::Dialogue dialogue(*opening.link);
    const murve::BackupReading reading = murve::read_device_backup(dialogue, backup);
    if (!reading.complete()) {
      return fail(explain_reading(reading, port));
    }
  }
  const std::string text = murve::format_backup_file(
      backup, {source, port_options.port_number, port_options.port_name, port_options.baud},
      std::time(nullptr));
  if (!output) {
    // The backup is a file's bytes, the same as with -o, and not converted as messages are.
    murve::print_output_bytes("%s", text.c_str());
    return 0;
  }
  if (const murve::FileWriteError error = output->commit(text); error.failed()) {
    const std::string why = murve::explain_file_write(error);
    if (error.replaced) {
      murve::report_problem(
          k_program, murve::message("{reason}; the backup is written, but may not survive a crash",
                                    {{"reason", why}}));
      return k_exit_failed;
    }
    return fail(why);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  murve::prepare_process(k_program);
  int status = run_murvedump(argc, argv);
  // The backup, --help and --version are all standard output has: losing them is a failure.
  if (const int error = murve::output_failure(); error != 0) {
    murve::report_problem(k_program,
                          murve::message("cannot write to standard output: {reason}",
                                         {{"reason", murve::sentence_of(std::strerror(error))}}));
    status = k_exit_failed;
  }
  murve::finish_process(k_program);
  return status;
}
