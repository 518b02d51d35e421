#include "common/device_backup.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/message.h"
#include "common/platform.h"
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

// A backup's first line, after its "# ", and what it begins with whichever program read it.
constexpr const char* k_first_line =
    N_("MURVE Pro colour settings, read by {program} from {port} on {time}.");
constexpr std::string_view k_header_start = "# MURVE Pro colour settings, read by ";
static_assert(std::string_view(k_first_line).starts_with(k_header_start.substr(2)));

// Text in the user's language for a comment line, which nothing in it can end.
std::string comment_text(const std::string& text) {
  return printable(text, PrintableFor::file_comment);
}

std::string comment_line(const std::string& text) {
  return "# " + comment_text(text) + "\n";
}

SettingsFileComments backup_comments() {
  SettingsFileComments comments;
  comments.heading = [](const ColorTable& table) {
    const std::string first = hex_address(table.address);
    const std::string last = hex_address(table.end() - 1);
    const std::string entries = std::to_string(table.entries);
    if (table.address == k_color_codes.address) {
      return comment_text(
          message("colour codes c0-c63 ({first}-{last})", {{"first", first}, {"last", last}}));
    }
    if (table.address == k_spec_table.address) {
      return comment_text(message("spec table: {entries} entries of three values ({first}-{last})",
                                  {{"entries", entries}, {"first", first}, {"last", last}}));
    }
    return comment_text(message("table {table}: {entries} entries of three values ({first}-{last})",
                                {{"table", table.address == k_table2608.address ? "2608" : "2151"},
                                 {"entries", entries},
                                 {"first", first},
                                 {"last", last}}));
  };
  comments.fill_byte = [](std::size_t entry, unsigned address, std::uint8_t value) {
    return comment_text(message(
        "entry {entry}: the device holds {value} at its fill byte {address}; murvecolor writes "
        "00 there",
        {{"entry", std::to_string(entry)},
         {"value", format_text("%02x", value)},
         {"address", hex_address(address)}}));
  };
  return comments;
}

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
  // The first line names the file a backup (begins_as_backup) and is the same in every language;
  // a translation of what it says follows it.
  const std::string port = printable(source.port, PrintableFor::file_comment);
  const std::initializer_list<MessagePart> read_from = {
      {"program", source.program}, {"port", port}, {"time", when.data()}};
  std::string text = "# " + fill_message(k_first_line, read_from) + "\n";
  if (translated(k_first_line) != k_first_line) {
    text += comment_line(message(k_first_line, read_from));
  }
  // The command too, on a line of its own.
  text += comment_line(
      message("To write them back, run this command with this file's name in place of THIS-FILE:"));
  text += "#   murvecolor " + restore + " -config THIS-FILE\n";
  if (backup.signature != k_signature_bytes) {
    text += comment_line(
        message("The signature at {address} is {found}, not {expected}: the device was never "
                "programmed, or was programmed otherwise.",
                {{"address", hex_address(k_signature_address)},
                 {"found", hex_byte_list(backup.signature)},
                 {"expected", hex_byte_list(k_signature_bytes)}}));
  }
  return text + format_settings_file(backup.image, backup_comments());
}

bool begins_as_backup(std::string_view text) {
  return text.starts_with(k_header_start);
}

std::size_t backup_header_start_size() {
  return k_header_start.size();
}

}  // namespace murve
