#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

#include "device/serial_link.h"
#include "settings/color_image.h"

namespace murve {

// What a device holds at 0x080-0x151: the signature and the colour settings.
struct DeviceBackup {
  std::array<std::uint8_t, 2> signature{};
  ColorImage image;
};

// Identifies the device and reads its settings back with murvecolor's own dialogue. Gives false,
// with what failed in `err`, unless the device identified and every block was read.
bool read_device_backup(SerialLink& link, DeviceBackup& backup, std::string* err);

// The backup as a settings file for murvecolor, under a comment header that says where and when
// it was read and what the device held that murvecolor can't write back.
std::string format_backup_file(const DeviceBackup& backup, int port_number, std::time_t read_at);

// Writes `text` to a temporary file beside `path`, then renames it over `path`, so that an
// interrupted run never leaves half a file in place of an older one.
bool write_file_atomically(const std::string& path, const std::string& text, std::string* err);

}  // namespace murve
