#include "settings/settings_writer.h"

#include <array>
#include <cstdio>

namespace murve {
namespace {

constexpr std::size_t k_values_per_entry = 3;

void append_format(std::string& text, const char* format, unsigned first, unsigned second = 0,
                   unsigned third = 0) {
  std::array<char, 160> line{};
  std::snprintf(line.data(), line.size(), format, first, second, third);
  text += line.data();
}

struct TableLayout {
  const char* keyword;
  const char* title;
  std::size_t offset;
  std::size_t size;
  std::size_t entry_size;  // 4 with a fill byte, 3 without
};

void append_table(std::string& text, const ColorImage& image, const TableLayout& table) {
  const unsigned first_address = k_color_image_address + static_cast<unsigned>(table.offset);
  text += "# ";
  text += table.title;
  append_format(text, ": %u entries of three values (0x%03x-0x%03x)\n",
                static_cast<unsigned>(table.size / table.entry_size), first_address,
                first_address + static_cast<unsigned>(table.size) - 1);
  for (std::size_t k = k_values_per_entry; k < table.size; k += table.entry_size) {
    if (table.entry_size == k_table_entry_size && image.bytes[table.offset + k] != 0x00) {
      append_format(text,
                    "# entry %u: the device holds %02x at its fill byte 0x%03x; murvecolor writes "
                    "00 there\n",
                    static_cast<unsigned>(k / k_table_entry_size), image.bytes[table.offset + k],
                    first_address + static_cast<unsigned>(k));
    }
  }
  text += table.keyword;
  for (std::size_t k = 0; k < table.size; ++k) {
    if (k % table.entry_size < k_values_per_entry) {
      append_format(text, " %02x", image.bytes[table.offset + k]);
    }
  }
  text += '\n';
}

}  // namespace

std::string format_settings_file(const ColorImage& image) {
  std::string text;
  append_format(text, "# colour codes c0-c63 (0x%03x-0x%03x)\n", k_color_image_address,
                k_color_image_address + static_cast<unsigned>(k_color_code_count) - 1);
  for (std::size_t code = 0; code < k_color_code_count; ++code) {
    append_format(text, "c%u %02x\n", static_cast<unsigned>(code),
                  image.bytes[k_color_code_offset + code]);
  }
  append_table(text, image,
               {"c2608", "table 2608", k_table2608_offset, k_table2608_size, k_table_entry_size});
  append_table(text, image,
               {"c2151", "table 2151", k_table2151_offset, k_table2151_size, k_table_entry_size});
  append_table(text, image,
               {"cspec", "spec table", k_spec_offset, k_spec_size, k_values_per_entry});
  return text;
}

}  // namespace murve
