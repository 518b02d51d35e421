#pragma once

// The MURVE Pro's EEPROM as murvecolor uses it: every address, size and command range the tools
// know of is here, and everything else derives from it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace murve {

inline constexpr std::size_t k_eeprom_size = 512;  // addresses 0x000-0x1ff

// Written last, once the colours are in place: it marks the device as programmed.
inline constexpr unsigned k_signature_address = 0x080;
inline constexpr std::array<std::uint8_t, 2> k_signature_bytes = {0xaa, 0x55};

// A table of the colour image: `entries` entries of `values_per_entry` value bytes, each entry
// taking `entry_size` bytes; a fourth byte after three values is a fill byte, always 0x00.
struct ColorTable {
  unsigned address;
  std::size_t entries;
  std::size_t entry_size;
  std::size_t values_per_entry;

  constexpr std::size_t size() const { return entries * entry_size; }
  constexpr unsigned end() const { return address + static_cast<unsigned>(size()); }
  // How many values one settings line may give: one for each value byte.
  constexpr std::size_t max_values() const { return entries * values_per_entry; }
  constexpr bool has_fill_bytes() const { return entry_size > values_per_entry; }
};

// The four tables follow one another without gaps, in this order.
inline constexpr ColorTable k_color_codes = {0x082, 64, 1, 1};
inline constexpr ColorTable k_table2608 = {0x0c2, 16, 4, 3};
inline constexpr ColorTable k_table2151 = {0x102, 8, 4, 3};
inline constexpr ColorTable k_spec_table = {0x122, 16, 3, 3};

inline constexpr unsigned k_color_image_address = k_color_codes.address;
inline constexpr std::size_t k_color_image_size = k_spec_table.end() - k_color_image_address;
static_assert(k_color_codes.end() == k_table2608.address &&
              k_table2608.end() == k_table2151.address &&
              k_table2151.end() == k_spec_table.address && k_color_image_size == 208);
static_assert(k_signature_address + k_signature_bytes.size() == k_color_image_address);

// What the settings file calls the byte at a device address: the signature, a colour code
// (its number is the entry), or a byte of a table entry.
enum class SettingKind { none, signature, color_code, table2608, table2151, spec_table };

struct SettingByte {
  SettingKind kind = SettingKind::none;  // none: the address is neither the signature nor image
  std::size_t entry = 0;
  std::size_t byte = 0;  // within the entry, from 0
  bool fill = false;     // the entry's fill byte, which murvecolor always writes as 00
};

// The byte at `address` as the settings file names it, for the lines that say where a device
// differs.
constexpr SettingByte setting_byte_at(unsigned address) {
  if (address >= k_signature_address && address < k_color_image_address) {
    return {SettingKind::signature, 0, address - k_signature_address, false};
  }
  struct Named {
    SettingKind kind;
    ColorTable table;
  };
  for (const Named& named :
       {Named{SettingKind::color_code, k_color_codes}, Named{SettingKind::table2608, k_table2608},
        Named{SettingKind::table2151, k_table2151}, Named{SettingKind::spec_table, k_spec_table}}) {
    if (address >= named.table.address && address < named.table.end()) {
      const std::size_t offset = address - named.table.address;
      const std::size_t byte = offset % named.table.entry_size;
      return {named.kind, offset / named.table.entry_size, byte,
              byte >= named.table.values_per_entry};
    }
  }
  return {};
}

// A command writes at most this many bytes.
inline constexpr std::size_t k_write_command_bytes = 32;

// One "eepromex ADDR BYTE..." command: its start address and how many bytes it carries.
struct WriteCommand {
  unsigned address;
  std::size_t byte_count;
};

// The commands that write `size` bytes from `address`, 32 at a time, the last one the rest.
template <std::size_t N>
constexpr std::array<WriteCommand, N> write_commands(unsigned address, std::size_t size) {
  std::array<WriteCommand, N> commands{};
  for (std::size_t i = 0; i < N; ++i) {
    const std::size_t done = i * k_write_command_bytes;
    commands[i] = {address + static_cast<unsigned>(done),
                   size - done < k_write_command_bytes ? size - done : k_write_command_bytes};
  }
  return commands;
}

// Two groups of commands: a failed command ends only its own group. The colour codes are one
// group; tables 2608, 2151 and spec the other.
inline constexpr auto k_color_code_writes =
    write_commands<2>(k_color_codes.address, k_color_codes.size());
inline constexpr auto k_table_writes =
    write_commands<5>(k_table2608.address, k_spec_table.end() - k_table2608.address);
static_assert(k_table_writes.back().address + k_table_writes.back().byte_count ==
              k_spec_table.end());

// The read-back: seven blocks of 32 bytes from the signature on, which also lists the 14 bytes
// after the image that the tools never write.
inline constexpr std::size_t k_read_block_size = 32;
inline constexpr std::size_t k_read_block_count = 7;
inline constexpr unsigned k_read_first_address = k_signature_address;
inline constexpr unsigned k_read_end_address =
    k_read_first_address + static_cast<unsigned>(k_read_block_size * k_read_block_count);
static_assert(k_read_end_address >= k_spec_table.end() && k_read_end_address <= k_eeprom_size);

constexpr unsigned read_block_address(std::size_t block) {
  return k_read_first_address + static_cast<unsigned>(block * k_read_block_size);
}

}  // namespace murve
