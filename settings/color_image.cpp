#include "settings/color_image.h"

#include <algorithm>

namespace murve {
namespace {

constexpr std::array<std::uint8_t, 18> k_default_color_codes = {
    0xff, 0xff, 0xfc, 0xe0, 0x1c, 0xf8, 0xe0, 0xf8, 0x1c,
    0x1f, 0x3f, 0x3f, 0x3f, 0xff, 0x03, 0xc0, 0x92, 0xe0};  // codes 18-63 default to 00

using ValueBytes = std::array<std::uint8_t, 3>;

ValueBytes default_table2608_entry(std::size_t entry) {
  if (entry <= 5) {
    return {0x20, 0x20, 0x3f};
  }
  if (entry <= 8) {
    return {0x20, 0x3f, 0x20};
  }
  if (entry <= 14) {
    return {0x3f, 0x20, 0x00};
  }
  return {0x3f, 0x3f, 0x3f};
}

ValueBytes default_table2151_entry(std::size_t) {
  return {0x20, 0x20, 0x3f};
}

ValueBytes default_spec_entry(std::size_t entry) {
  static constexpr std::array<ValueBytes, 4> k_by_quarter = {
      {{0x00, 0x00, 0xff}, {0x00, 0xff, 0x00}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0x00}}};
  return k_by_quarter[entry / 4];
}

void set_default_entries(ColorImage& image, const ColorTable& table,
                         ValueBytes (*entry_values)(std::size_t)) {
  for (std::size_t entry = 0; entry < table.entries; ++entry) {
    const ValueBytes values = entry_values(entry);
    for (std::size_t byte = 0; byte < table.entry_size; ++byte) {
      set_table_byte(image, table, entry * table.entry_size + byte,
                     byte < values.size() ? values[byte] : 0x00);
    }
  }
}

}  // namespace

ColorImage build_default_image() {
  ColorImage image;
  for (std::size_t code = 0; code < k_default_color_codes.size(); ++code) {
    set_color_code(image, code, k_default_color_codes[code]);
  }
  set_default_entries(image, k_table2608, default_table2608_entry);
  set_default_entries(image, k_table2151, default_table2151_entry);
  set_default_entries(image, k_spec_table, default_spec_entry);
  return image;
}

void set_table_byte(ColorImage& image, const ColorTable& table, std::size_t byte_index,
                    std::uint8_t value) {
  if (byte_index < table.size()) {
    image.at(table.address + static_cast<unsigned>(byte_index)) =
        is_fill_byte(table, byte_index) ? 0x00 : value;
  }
}

void set_color_code(ColorImage& image, std::size_t code, std::uint8_t value) {
  set_table_byte(image, k_color_codes, code, value);
}

std::span<const std::uint8_t> image_bytes(const ColorImage& image, unsigned address,
                                          std::size_t length) {
  if (address < k_color_image_address || address >= k_color_image_address + k_color_image_size) {
    return {};
  }
  const std::size_t first = address - k_color_image_address;
  return std::span<const std::uint8_t>(image.bytes)
      .subspan(first, std::min(length, k_color_image_size - first));
}

}  // namespace murve
