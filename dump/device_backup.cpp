#include "dump/device_backup.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "device/device_programming.h"
#include "device/readback.h"
#include "settings/settings_writer.h"

namespace murve {
namespace {

constexpr std::array<std::uint8_t, 2> k_signature = {0xaa, 0x55};

std::string formatted(const char* format, unsigned first, unsigned second = 0) {
  std::array<char, 160> text{};
  std::snprintf(text.data(), text.size(), format, first, second);
  return text.data();
}

}  // namespace

bool read_device_backup(SerialLink& link, DeviceBackup& backup, std::string* err) {
  switch (query_identification(link)) {
    case Identification::write_failed:
      *err = "the port does not take the identify command";
      return false;
    case Identification::not_murve:
      *err = "no MURVE device answers (its banner does not say \"MURVE\")";
      return false;
    case Identification::identified:
      break;
  }
  ReadbackImage readback{};
  const ReadBackOutcome outcome = read_back_blocks(link, readback);
  if (outcome.send_failed) {
    *err = "a read command could not be sent";
    return false;
  }
  if (outcome.blocks_accepted != k_read_block_count) {
    *err = formatted("only %u of the %u blocks of 32 bytes were read back whole",
                     static_cast<unsigned>(outcome.blocks_accepted),
                     static_cast<unsigned>(k_read_block_count));
    return false;
  }
  std::memcpy(backup.signature.data(), readback.data() + k_signature_address,
              backup.signature.size());
  std::memcpy(backup.image.bytes.data(), readback.data() + k_color_image_address,
              backup.image.bytes.size());
  return true;
}

std::string format_backup_file(const DeviceBackup& backup, int port_number, std::time_t read_at) {
  std::array<char, 32> when{};
  std::strftime(when.data(), when.size(), "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&read_at));
  std::string text = "# MURVE Pro colour settings, read by murvedump from COM" +
                     std::to_string(port_number) + " on " + when.data() + ".\n";
  text += "# Write them back with: murvecolor -com " + std::to_string(port_number) +
          " -config THIS-FILE\n";
  if (backup.signature != k_signature) {
    text += formatted(
        "# The signature at 0x080 is %02x %02x, not aa 55: the device was never programmed, or "
        "was programmed otherwise.\n",
        backup.signature[0], backup.signature[1]);
  }
  return text + format_settings_file(backup.image);
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string* err) {
  const std::filesystem::path target(path);
  // Hidden and unique beside the target, so that the rename stays within one file system.
  std::string temporary_name = ".";
  temporary_name += target.filename().string();
  temporary_name += ".tmp-";
  temporary_name += std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  const std::filesystem::path temporary = target.parent_path() / temporary_name;
  std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
  if (file == nullptr) {
    *err = "cannot create " + temporary.string() + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  std::error_code renamed;
  if (written && closed) {
    std::filesystem::rename(temporary, target, renamed);
  }
  if (!written || !closed || renamed) {
    *err = "cannot write " + path + (renamed ? ": " + renamed.message() : "");
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return false;
  }
  return true;
}

}  // namespace murve
