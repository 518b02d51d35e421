#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "device/serial_link.h"
#include "settings/number_reading.h"

namespace murve {
namespace {

enum class Expecting { option, port_number, settings_path };

}  // namespace

bool parse_command_line(int argc, const char* const* argv, RunOptions& options) {
  Expecting expecting = Expecting::option;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    switch (expecting) {
      case Expecting::option:
        if (std::strcmp(argument, "-com") == 0) {
          expecting = Expecting::port_number;
        } else if (std::strcmp(argument, "-config") == 0) {
          expecting = Expecting::settings_path;
        } else {
          std::printf("invalid option [%s]\n", argument);
          return false;
        }
        break;
      case Expecting::port_number:
        options.port_number = read_decimal(argument);
        expecting = Expecting::option;
        break;
      case Expecting::settings_path:
        options.settings_path = argument;
        expecting = Expecting::option;
        break;
    }
  }
  if (expecting != Expecting::option) {
    return false;
  }
  return !options.settings_path.empty() && is_port_number(options.port_number);
}

}  // namespace murve
