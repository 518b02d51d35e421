#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace murvesim {

inline constexpr std::size_t k_eeprom_size = 512;
inline constexpr std::size_t k_read_reply_bytes = 32;

using Eeprom = std::array<std::uint8_t, k_eeprom_size>;

// Ways the simulated console can depart from a well-behaved one.
struct ConsoleQuirks {
  bool crlf = false;               // end reply lines with "\r\n"
  bool upper_hex = false;          // read replies in upper-case hex
  bool banner_names_murve = true;  // the help banner says "MURVE Pro"
  bool echo = false;               // echo every received character, as a console with echo on
  bool nul_in_replies = false;     // put a NUL byte into every reply...
  std::size_t nul_after = 0;       // ...after this many of its bytes (0: at its start)
  std::size_t flood_bytes = 0;     // filler sent after the help banner
  std::size_t reply_size = 0;      // pad the help and read replies to this size, filler first
  std::size_t wake_size = 0;       // pad the answer to an empty line to this size, filler first
  bool garbage = false;            // wrap every reply in bytes 01-ff before it and 00 after it
  // Addresses where a write stores each byte with its lowest bit flipped, as a failing cell.
  std::bitset<k_eeprom_size> corrupt;
};

// The console of a MURVE Pro: it takes the bytes the host sends and gives the bytes it answers.
// It knows nothing of time or ports; the caller paces and delivers what it gives.
class MurveConsole {
 public:
  explicit MurveConsole(const ConsoleQuirks& quirks = {});

  // Takes one received byte; gives what the console sends in return (often nothing).
  std::string receive(char byte);

  // Commands (lines) handled so far, empty ones included.
  std::size_t commands_handled() const { return commands_handled_; }

  // Write commands that stored bytes so far.
  std::size_t writes_stored() const { return writes_stored_; }

  // h commands answered so far.
  std::size_t helps_answered() const { return helps_answered_; }

  // The reply to the last read command answered, or to "eepromex read 80" before any, as the
  // EEPROM now is: what a console that answers twice sends the second time.
  std::string repeated_read_reply() const;

  Eeprom& eeprom() { return eeprom_; }
  const Eeprom& eeprom() const { return eeprom_; }

 private:
  std::string handle_line(std::string_view line);
  // The text as sent: prompt, line ends and the quirks; padded to `size` when that is larger.
  std::string reply(std::string text, std::size_t size = 0) const;
  std::string handle_eepromex(std::string_view arguments);
  std::string read_text(unsigned address) const;

  ConsoleQuirks quirks_;
  Eeprom eeprom_;
  std::string line_;
  bool last_was_cr_ = false;
  std::size_t commands_handled_ = 0;
  std::size_t writes_stored_ = 0;
  std::size_t helps_answered_ = 0;
  unsigned last_read_address_ = 0x80;
};

// The console's help banner; names "MURVE Pro" unless told not to.
std::string help_banner(bool names_murve);

// `size` bytes of filler: full stops in lines of 64.
std::string filler(std::size_t size);

}  // namespace murvesim
