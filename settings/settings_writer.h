#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "settings/color_image.h"

namespace murve {

// The comment lines of a written settings file, in the words of the program that writes it. Each
// gives the text of one line, without its "# " and its line feed, and with nothing in it that
// ends a line.
struct SettingsFileComments {
  // Heads the lines of `table`: k_color_codes, k_table2608, k_table2151 or k_spec_table.
  std::function<std::string(const ColorTable& table)> heading;
  // Entry `entry` holds `value` at its fill byte `address`, where reading the file stores 00.
  std::function<std::string(std::size_t entry, unsigned address, std::uint8_t value)> fill_byte;
};

// The image as a settings file that reads back to the same bytes: a line for each colour code,
// then one line each for table 2608, table 2151 and the spec table, values as two lowercase hex
// digits, each part under its heading. A fill byte that is not 00 can't be restated, since
// reading stores 00 there; a comment line names each such byte instead.
std::string format_settings_file(const ColorImage& image, const SettingsFileComments& comments);

}  // namespace murve
