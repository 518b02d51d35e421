#include "dump/device_backup.h"

#include <algorithm>

#include "settings/settings_writer.h"
#include "settings/text_format.h"

namespace murve {

BackupReading read_device_backup(Dialogue& dialogue, DeviceBackup& backup) {
  BackupReading reading;
  reading.identification = identify_device(dialogue);
  if (reading.identification.result != IdentifyResult::identified) {
    return reading;
  }
  ReadbackImage readback{};
  reading.readback = read_back(dialogue, readback, ReadBackPolicy::backup);
  if (reading.complete()) {
    std::copy_n(readback.begin() + k_signature_address, backup.signature.size(),
                backup.signature.begin());
    std::copy_n(readback.begin() + k_color_image_address, backup.image.bytes.size(),
                backup.image.bytes.begin());
  }
  return reading;
}

std::string format_backup_file(const DeviceBackup& backup, const std::string& port,
                               const std::string& reach, std::time_t read_at) {
  std::array<char, 32> when{};
  std::strftime(when.data(), when.size(), "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&read_at));
  std::string text = format_text(
      "# MURVE Pro colour settings, read by murvedump from %s on %s.\n"
      "# Write them back with: murvecolor %s -config THIS-FILE\n",
      port.c_str(), when.data(), reach.c_str());
  if (backup.signature != k_signature_bytes) {
    text += format_text(
        "# The signature at 0x%03x is %02x %02x, not %s: the device was never programmed, or "
        "was programmed otherwise.\n",
        k_signature_address, backup.signature[0], backup.signature[1],
        hex_byte_list(k_signature_bytes).c_str());
  }
  return text + format_settings_file(backup.image);
}

}  // namespace murve
