#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

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

// The same reading of a device already identified; `backup` is filled when every block was read.
ReadBackOutcome read_identified_backup(Dialogue& dialogue, DeviceBackup& backup);

// Where a backup was read: what its header names, and the options that reach the port again.
struct BackupSource {
  std::string port;                   // as the header names it: "COM5", "/dev/ttyUSB0"
  int port_number = 0;                // -com N, when there is no port_name
  std::string port_name;              // -port PATH
  unsigned baud = 0;                  // -baud RATE, when it was given
  const char* program = "murvedump";  // the program that read it
};

// The shells a restore command is written for: the POSIX shell's words, or cmd.exe's.
enum class CommandShell { posix, cmd };

// `word` as one word of a command line for `shell`, quoted only when it needs to be. A control
// character, which neither shell takes as it is inside a quote, is written as an escape: $'...'
// for the POSIX shell, \xNN (not pasteable, but one line) for cmd.exe.
std::string quoted_for_shell(std::string_view word, CommandShell shell);

// The backup as a settings file for murvecolor, under a comment header that says where and when
// it was read, the command that writes it back, and what the device held that murvecolor can't
// write back. The comments are in the messages' language and character set, but for the first
// line, which names the file a backup; it, the settings lines and the command are the same bytes
// in every locale. Nothing a comment quotes can end its line.
std::string format_backup_file(const DeviceBackup& backup, const BackupSource& source,
                               std::time_t read_at);

// Whether `text`, a file's beginning, is the beginning of a backup's header.
bool begins_as_backup(std::string_view text);

// How many bytes of a file begins_as_backup needs to see.
std::size_t backup_header_start_size();

}  // namespace murve
