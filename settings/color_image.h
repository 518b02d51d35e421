#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace murve {

// Device EEPROM addresses of what the tool writes.
inline constexpr unsigned k_signature_address = 0x080;
inline constexpr unsigned k_color_image_address = 0x082;
inline constexpr std::size_t k_color_image_size = 208;

// Where each table starts within the image, and its size in bytes.
inline constexpr std::size_t k_color_code_offset = 0;
inline constexpr std::size_t k_color_code_count = 64;
inline constexpr std::size_t k_table2608_offset = 64;
inline constexpr std::size_t k_table2608_size = 64;
inline constexpr std::size_t k_table2151_offset = 128;
inline constexpr std::size_t k_table2151_size = 32;
inline constexpr std::size_t k_spec_offset = 160;
inline constexpr std::size_t k_spec_size = 48;

// Tables 2608 and 2151 hold entries of three value bytes and a fill byte that is always 0x00.
inline constexpr std::size_t k_table_entry_size = 4;
inline constexpr std::size_t k_table_fill_position = 3;

// The 208 bytes for device addresses 0x082-0x151: byte i belongs at address 0x082 + i.
struct ColorImage {
  std::array<std::uint8_t, k_color_image_size> bytes{};
};

void build_default_image(ColorImage& image);

// Setters by table; an index outside its table changes nothing. The table 2608 and 2151 setters
// count fill bytes in `k` and always store 0x00 at a fill position, whatever `value` says.
void set_color_code(ColorImage& image, std::size_t code, std::uint8_t value);
void set_table2608_byte(ColorImage& image, std::size_t k, std::uint8_t value);
void set_table2151_byte(ColorImage& image, std::size_t k, std::uint8_t value);
void set_spec_byte(ColorImage& image, std::size_t k, std::uint8_t value);

// The image bytes for `length` consecutive device addresses from `address`, which must lie within
// 0x082-0x151; a range reaching outside it is cut to what lies inside.
std::span<const std::uint8_t> image_bytes(const ColorImage& image, unsigned address,
                                          std::size_t length);

}  // namespace murve
