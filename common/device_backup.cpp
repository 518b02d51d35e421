#include "common/device_backup.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/port_options.h"
#include "common/report.h"
#include "settings/settings_writer.h"
#include "settings/text_format.h"

namespace murve {
namespace {

#ifdef _WIN32
constexpr CommandShell k_native_shell = CommandShell::cmd;
#else
constexpr CommandShell k_native_shell = CommandShell::posix;
#endif

// What every backup's first line begins with, whichever program read it.
constexpr std::string_view k_header_start = "# MURVE Pro colour settings, read by ";

}  // namespace

BackupReading read_device_backup(Dialogue& dialogue, DeviceBackup& backup) {
  BackupReading reading;
  reading.identification = identify_device(dialogue);
  if (reading.identification.result != IdentifyResult::identified) {
    return reading;
  }
  reading.readback = read_identified_backup(dialogue, backup);
  return reading;
}

ReadBackOutcome read_identified_backup(Dialogue& dialogue, DeviceBackup& backup) {
  ReadbackImage readback{};
  const ReadBackOutcome outcome = read_back(dialogue, readback, ReadBackPolicy::backup);
  if (outcome.all_accepted()) {
    std::copy_n(readback.begin() + k_signature_address, backup.signature.size(),
                backup.signature.begin());
    std::copy_n(readback.begin() + k_color_image_address, backup.image.bytes.size(),
                backup.image.bytes.begin());
  }
  return outcome;
}

std::string quoted_for_shell(std::string_view word, CommandShell shell) {
  const auto is_control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
  const bool has_control = std::any_of(word.begin(), word.end(), is_control);
  if (shell == CommandShell::posix) {
    if (has_control) {
      std::string quoted = "$'";
      for (const char c : word) {
        quoted += c == '\\' || c == '\'' ? std::string{'\\', c}
                                         : printable({&c, 1}, PrintableFor::file_comment);
      }
      return quoted + "'";
    }
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
             std::strchr("_-./:@%+=,", c) != nullptr;
    });
    if (plain) {
      return std::string(word);
    }
    std::string quoted = "'";
    for (const char c : word) {
      quoted += c == '\'' ? "'\\''" : std::string(1, c);
    }
    return quoted + "'";
  }
  const std::string text =
      has_control ? printable(word, PrintableFor::file_comment) : std::string(word);
  if (!text.empty() && text.find_first_of(" \t&|<>^(),;=\"") == std::string::npos) {
    return text;
  }
  // As the C runtime splits a command line: backslashes double only before a quote.
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  return quoted.append(backslashes * 2, '\\') + "\"";
}

std::string format_backup_file(const DeviceBackup& backup, const BackupSource& source,
                               std::time_t read_at) {
  std::array<char, 32> when{};
  std::strftime(when.data(), when.size(), "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&read_at));
  std::string restore = port_option_text(
      source.port_number,
      source.port_name.empty() ? "" : quoted_for_shell(source.port_name, k_native_shell));
  if (source.baud != 0) {
    restore += " -baud " + std::to_string(source.baud);
  }
  std::string text = std::string(k_header_start) +
                     format_text(
                         "%s from %s on %s.\n"
                         "# Write them back with: murvecolor %s -config THIS-FILE\n",
                         source.program, printable(source.port, PrintableFor::file_comment).c_str(),
                         when.data(), restore.c_str());
  if (backup.signature != k_signature_bytes) {
    text += format_text(
        "# The signature at 0x%03x is %02x %02x, not %s: the device was never programmed, or "
        "was programmed otherwise.\n",
        k_signature_address, backup.signature[0], backup.signature[1],
        hex_byte_list(k_signature_bytes).c_str());
  }
  return text + format_settings_file(backup.image);
}

bool begins_as_backup(std::string_view text) {
  return text.starts_with(k_header_start);
}

std::size_t backup_header_start_size() {
  return k_header_start.size();
}

}  // namespace murve
