#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

#include "device/device_programming.h"
#include "device/dialogue.h"
#include "device/readback.h"
#include "settings/color_image.h"

namespace murve {

// What a device holds at 0x080-0x151: the signature and the colour settings.
struct DeviceBackup {
  std::array<std::uint8_t, k_signature_bytes.size()> signature{};
  ColorImage image;
};

// How reading a backup went: the identification, and each block of the read-back when the
// device identified.
struct BackupReading {
  Identification identification;
  ReadBackOutcome readback;

  bool complete() const {
    return identification.result == IdentifyResult::identified && readback.all_accepted();
  }
};

// Identifies the device and reads its settings back with murvecolor's own dialogue, by the
// backup's policy. `backup` is filled when the reading is complete.
BackupReading read_device_backup(Dialogue& dialogue, DeviceBackup& backup);

// The backup as a settings file for murvecolor, under a comment header that says where and when
// it was read and what the device held that murvecolor can't write back. `port` names the port
// ("COM5", "/dev/ttyUSB0"), `reach` the option that reaches it again ("-com 5").
std::string format_backup_file(const DeviceBackup& backup, const std::string& port,
                               const std::string& reach, std::time_t read_at);

}  // namespace murve
