// murvedump: saves the colour settings a MURVE Pro holds as a settings file that murvecolor can
// write back.

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "device/serial_link.h"
#include "dump/device_backup.h"
#include "settings/number_reading.h"

namespace {

constexpr int k_exit_failed = 1;
constexpr int k_exit_usage = 2;

constexpr const char* k_usage =
    "usage: murvedump -com N [-o FILE]\n"
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::printf("%s", k_usage);
    return 0;
  }
  DumpOptions options;
  if (!parse_options(argc, argv, options)) {
    std::fprintf(stderr, "%s", k_usage);
    return k_exit_usage;
  }
  murve::DeviceBackup backup;
  std::string err;
  {
    std::unique_ptr<murve::SerialLink> link = murve::open_port(options.port_number);
    if (!link) {
      std::fprintf(stderr, "murvedump: cannot open COM%d (%s)\n", options.port_number,
                   murve::port_device_path(options.port_number).c_str());
      return k_exit_failed;
    }
    if (!murve::read_device_backup(*link, backup, &err)) {
      std::fprintf(stderr, "murvedump: COM%d: %s; nothing written\n", options.port_number,
                   err.c_str());
      return k_exit_failed;
    }
  }
  const std::string text =
      murve::format_backup_file(backup, options.port_number, std::time(nullptr));
  if (options.output_path.empty()) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
      std::fprintf(stderr, "murvedump: cannot write to standard output\n");
      return k_exit_failed;
    }
    return 0;
  }
  if (!murve::write_file_atomically(options.output_path, text, &err)) {
    std::fprintf(stderr, "murvedump: %s\n", err.c_str());
    return k_exit_failed;
  }
  return 0;
}
