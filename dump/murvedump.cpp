// murvedump: saves the colour settings a MURVE Pro holds as a settings file that murvecolor can
// write back.

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "app/diagnostics.h"
#include "device/serial_link.h"
#include "dump/device_backup.h"
#include "settings/files.h"
#include "settings/number_reading.h"
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
    "usage: murvedump -com N [-o FILE]\n"
    "       murvedump --help | --version\n"
    "Reads the colour settings of the MURVE Pro on COM port N (1-16) and writes them as a\n"
    "settings file to FILE, or to standard output. murvecolor -com N -config FILE writes them\n"
    "back. Nothing is written unless the device answered and every byte was read.\n";

struct DumpOptions {
  int port_number = 0;
  std::string output_path;  // empty: standard output
};

bool parse_options(int argc, char** argv, DumpOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "-com") == 0 && has_value) {
      options.port_number = murve::read_decimal(argv[++i]);
    } else if (std::strcmp(argv[i], "-o") == 0 && has_value && argv[i + 1][0] != '\0') {
      options.output_path = argv[++i];
    } else {
      return false;
    }
  }
  return murve::is_port_number(options.port_number);
}

int fail(const std::string& why) {
  murve::report_problem(k_program, why + "; nothing written");
  return k_exit_failed;
}

// Why the reading is not a backup to write.
std::string explain_reading(const murve::BackupReading& reading, const std::string& port,
                            const std::string& path) {
  if (reading.identification.result != murve::IdentifyResult::identified) {
    return murve::explain_identification(reading.identification, port, path);
  }
  for (std::size_t block = 0; block < reading.readback.blocks.size(); ++block) {
    const std::string why = murve::explain_block(reading.readback.blocks[block],
                                                 murve::read_block_address(block), port);
    if (!why.empty()) {
      return why;
    }
  }
  return "the read-back did not complete";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::printf("%s", k_usage);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("murvedump (murvecolor) %s\n", MURVECOLOR_VERSION);
    return 0;
  }
  DumpOptions options;
  if (!parse_options(argc, argv, options)) {
    std::fprintf(stderr, "%s", k_usage);
    return k_exit_usage;
  }
  murve::DeviceBackup backup;
  {
    const murve::PortOpening opening = murve::open_port(options.port_number);
    const std::string port =
        murve::format_text("COM%d (%s)", options.port_number, opening.path.c_str());
    if (!opening.link) {
      murve::report_problem(k_program, murve::explain_open_failure(opening, port));
      return k_exit_failed;
    }
    const murve::BackupReading reading = murve::read_device_backup(*opening.link, backup);
    if (!reading.complete()) {
      return fail(explain_reading(reading, port, opening.path));
    }
  }
  const std::string text =
      murve::format_backup_file(backup, options.port_number, std::time(nullptr));
  if (options.output_path.empty()) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
      murve::report_problem(k_program, "cannot write to standard output");
      return k_exit_failed;
    }
    return 0;
  }
  if (const murve::FileWriteError error = murve::write_file_atomically(options.output_path, text);
      error.failed()) {
    const std::string why = "cannot " + error.step + ": " + error.reason;
    if (error.replaced) {
      murve::report_problem(k_program,
                            why + "; the backup is written, but may not survive a crash");
      return k_exit_failed;
    }
    return fail(why);
  }
  return 0;
}
