#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "settings/memory_map.h"

namespace murve {

// The 208 bytes for device addresses 0x082-0x151: byte i belongs at address 0x082 + i.
struct ColorImage {
  std::array<std::uint8_t, k_color_image_size> bytes{};

  // The byte for a device address within the image.
  std::uint8_t& at(unsigned address) { return bytes[address - k_color_image_address]; }
  std::uint8_t at(unsigned address) const { return bytes[address - k_color_image_address]; }
};

ColorImage build_default_image();

// Sets byte `byte_index` of a table; an index outside the table changes nothing. For tables 2608
// and 2151, `byte_index` counts fill bytes too, and a fill byte is always stored as 0x00, whatever
// `value` says.
void set_table_byte(ColorImage& image, const ColorTable& table, std::size_t byte_index,
                    std::uint8_t value);
void set_color_code(ColorImage& image, std::size_t code, std::uint8_t value);

// Whether byte `byte_index` of `table` is a fill byte.
constexpr bool is_fill_byte(const ColorTable& table, std::size_t byte_index) {
  return byte_index % table.entry_size >= table.values_per_entry;
}

// The image bytes for `length` consecutive device addresses from `address`, which must lie within
// 0x082-0x151; a range reaching outside it is cut to what lies inside.
std::span<const std::uint8_t> image_bytes(const ColorImage& image, unsigned address,
                                          std::size_t length);

}  // namespace murve
