#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "device/serial_link.h"
#include "settings/color_image.h"

namespace murve {

enum class Identification { identified, not_murve, write_failed };

// Wakes the console and asks for its banner, printing nothing; the banner is left as the link's
// reply, and identifies the device when it names "MURVE".
Identification query_identification(SerialLink& link);

// The same, printing the banner; gives true when it names "MURVE". Prints "write error." or
// "MURVE(6183) not found." otherwise.
bool identify_device(SerialLink& link);

// Writes the image in seven "eepromex" commands, echoing each one sent. A failed command ends
// its group of commands; the next group is still sent.
void write_color_image(SerialLink& link, const ColorImage& image);

// Writes the signature aa 55 at 0x080; false, having printed "write error.", when it fails.
bool write_signature(SerialLink& link);

// The bytes as two lowercase hex digits each, joined by single spaces.
std::string hex_byte_list(std::span<const std::uint8_t> bytes);

}  // namespace murve
