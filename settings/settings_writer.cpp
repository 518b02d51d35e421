#include "settings/settings_writer.h"

#include "settings/text_format.h"

namespace murve {
namespace {

void append_table(std::string& text, const ColorImage& image, const char* keyword,
                  const char* title, const ColorTable& table) {
  text += format_text("# %s: %u entries of three values (0x%03x-0x%03x)\n", title,
                      static_cast<unsigned>(table.entries), table.address, table.end() - 1);
  for (std::size_t byte_index = 0; byte_index < table.size(); ++byte_index) {
    const unsigned address = table.address + static_cast<unsigned>(byte_index);
    if (is_fill_byte(table, byte_index) && image.at(address) != 0x00) {
      text += format_text(
          "# entry %u: the device holds %02x at its fill byte 0x%03x; murvecolor writes 00 "
          "there\n",
          static_cast<unsigned>(byte_index / table.entry_size), image.at(address), address);
    }
  }
  text += keyword;
  for (std::size_t byte_index = 0; byte_index < table.size(); ++byte_index) {
    if (!is_fill_byte(table, byte_index)) {
      text += format_text(" %02x", image.at(table.address + static_cast<unsigned>(byte_index)));
    }
  }
  text += '\n';
}

}  // namespace

std::string format_settings_file(const ColorImage& image) {
  std::string text = format_text("# colour codes c0-c63 (0x%03x-0x%03x)\n", k_color_codes.address,
                                 k_color_codes.end() - 1);
  for (std::size_t code = 0; code < k_color_codes.entries; ++code) {
    text += format_text("c%u %02x\n", static_cast<unsigned>(code),
                        image.at(k_color_codes.address + static_cast<unsigned>(code)));
  }
  append_table(text, image, "c2608", "table 2608", k_table2608);
  append_table(text, image, "c2151", "table 2151", k_table2151);
  append_table(text, image, "cspec", "spec table", k_spec_table);
  return text;
}

}  // namespace murve
