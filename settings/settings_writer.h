#pragma once

#include <string>

#include "settings/color_image.h"

namespace murve {

// The image as a settings file that reads back to the same bytes: a line for each colour code,
// then one line each for table 2608, table 2151 and the spec table, values as two lowercase hex
// digits. A fill byte that is not 00 can't be restated, since reading stores 00 there; a
// comment line names each such byte instead.
std::string format_settings_file(const ColorImage& image);

}  // namespace murve
