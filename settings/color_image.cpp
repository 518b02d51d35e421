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

ValueBytes default_spec_entry(std::size_t entry) {
  static constexpr std::array<ValueBytes, 4> k_by_quarter = {
      {{0x00, 0x00, 0xff}, {0x00, 0xff, 0x00}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0x00}}};
  return k_by_quarter[entry / 4];
}

void set_table_byte(ColorImage& image, std::size_t offset, std::size_t size, std::size_t k,
                    std::uint8_t value) {
  if (k >= size) {
    return;
  }
  image.bytes[offset + k] = k % k_table_entry_size == k_table_fill_position ? 0x00 : value;
}

void set_table_entry(ColorImage& image, std::size_t offset, std::size_t entry,
                     const ValueBytes& values) {
  const std::size_t first = offset + entry * k_table_entry_size;
  std::copy(values.begin(), values.end(), image.bytes.begin() + static_cast<std::ptrdiff_t>(first));
  image.bytes[first + k_table_fill_position] = 0x00;
}

}  // namespace

void build_default_image(ColorImage& image) {
  image.bytes.fill(0x00);
  std::copy(k_default_color_codes.begin(), k_default_color_codes.end(), image.bytes.begin());
  for (std::size_t entry = 0; entry < k_table2608_size / k_table_entry_size; ++entry) {
    set_table_entry(image, k_table2608_offset, entry, default_table2608_entry(entry));
  }
  for (std::size_t entry = 0; entry < k_table2151_size / k_table_entry_size; ++entry) {
    set_table_entry(image, k_table2151_offset, entry, {0x20, 0x20, 0x3f});
  }
  for (std::size_t entry = 0; entry < k_spec_size / 3; ++entry) {
    const ValueBytes values = default_spec_entry(entry);
    std::copy(values.begin(), values.end(),
              image.bytes.begin() + static_cast<std::ptrdiff_t>(k_spec_offset + entry * 3));
  }
}

void set_color_code(ColorImage& image, std::size_t code, std::uint8_t value) {
  if (code < k_color_code_count) {
    image.bytes[k_color_code_offset + code] = value;
  }
}

void set_table2608_byte(ColorImage& image, std::size_t k, std::uint8_t value) {
  set_table_byte(image, k_table2608_offset, k_table2608_size, k, value);
}

void set_table2151_byte(ColorImage& image, std::size_t k, std::uint8_t value) {
  set_table_byte(image, k_table2151_offset, k_table2151_size, k, value);
}

void set_spec_byte(ColorImage& image, std::size_t k, std::uint8_t value) {
  if (k < k_spec_size) {
    image.bytes[k_spec_offset + k] = value;
  }
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
