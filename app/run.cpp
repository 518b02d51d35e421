#include "app/run.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/usage_text.h"
#include "device/device_programming.h"
#include "device/readback.h"
#include "device/serial_link.h"
#include "settings/color_image.h"
#include "settings/settings_file.h"

namespace murve {
namespace {

constexpr const char* k_banner = "murve pro color setting utility v 1.1 2023/1/14\n";

// Identifies the device, writes the image and the signature, and reads them back.
void program_device(SerialLink& link, const ColorImage& image) {
  if (!identify_device(link)) {
    return;
  }
  write_color_image(link, image);
  if (!write_signature(link)) {
    return;
  }
  ReadbackImage readback{};
  read_back(link, readback);
  print_verify_listing(readback);
}

}  // namespace

int run_murvecolor(int argc, const char* const* argv) {
  std::printf("%s", k_banner);
  RunOptions options;
  if (!parse_command_line(argc, argv, options)) {
    print_usage_text();
    return 0;
  }
  ColorImage image;
  build_default_image(image);
  if (!load_settings_file(options.settings_path, image)) {
    return 0;
  }
  std::unique_ptr<SerialLink> link = open_port(options.port_number);
  if (link) {
    program_device(*link, image);
    link->close_port();
  } else {
    std::printf("\n");
  }
  std::printf("\n");
  return 0;
}

}  // namespace murve
