#include "settings/settings_writer.h"

#include "settings/text_format.h"

namespace murve {
namespace {

std::string comment_line(const std::string& text) {
  return "# " + text + "\n";
}

void append_table(std::string& text, const ColorImage& image, const char* keyword,
                  const ColorTable& table, const SettingsFileComments& comments) {
  text += comment_line(comments.heading(table));
  for (std::size_t byte_index = 0; byte_index < table.size(); ++byte_index) {
    const unsigned address = table.address + static_cast<unsigned>(byte_index);
    if (is_fill_byte(table, byte_index) && image.at(address) != 0x00) {
      text += comment_line(
          comments.fill_byte(byte_index / table.entry_size, address, image.at(address)));
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

std::string format_settings_file(const ColorImage& image, const SettingsFileComments& comments) {
  std::string text = comment_line(comments.heading(k_color_codes));
  for (std::size_t code = 0; code < k_color_codes.entries; ++code) {
    text += format_text("c%u %02x\n", static_cast<unsigned>(code),
                        image.at(k_color_codes.address + static_cast<unsigned>(code)));
  }
  append_table(text, image, "c2608", k_table2608, comments);
  append_table(text, image, "c2151", k_table2151, comments);
  append_table(text, image, "cspec", k_spec_table, comments);
  return text;
}

}  // namespace murve
