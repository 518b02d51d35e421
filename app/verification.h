#pragma once

#include <span>
#include <string>
#include <vector>

#include "device/readback.h"
#include "settings/color_image.h"

namespace murve {

// The byte at `address` in the settings file's own terms, entries and bytes from 0: "colour code
// 14", "c2608 entry 1, byte 0"; "" outside the signature and the image.
std::string setting_name(unsigned address);

// Prints "Verify.." and the fourteen hex-and-text lines of 0x080-0x15F.
void print_verify_listing(const ReadbackImage& image);

// The bytes -verify compares: the signature and the image, 0x080-0x151.
inline constexpr unsigned k_verified_first_address = k_signature_address;
inline constexpr unsigned k_verified_end_address = k_spec_table.end();

// How many differing bytes the verdict names one by one.
inline constexpr std::size_t k_listed_differences = 16;

// What the verdict says the bytes it compares are.
enum class VerdictWording {
  as_written,   // -verify: the bytes this run wrote
  as_expected,  // -check: the bytes the settings file gives; nothing was written
};

struct Verdict {
  bool verified = false;
  std::vector<std::string> lines;  // for standard output, each without its line feed
};

// Compares the bytes the listing shows with what was written: the signature and the image, less
// the blocks that were not read back. A write command that was not sent fails the verdict too,
// and so does a settings file that was not read whole, whose image is only its first lines.
Verdict verify_readback(const ColorImage& written, const ReadbackImage& read,
                        const ReadBackOutcome& outcome, std::span<const WriteCommand> not_written,
                        VerdictWording wording = VerdictWording::as_written,
                        bool settings_read_whole = true);

}  // namespace murve
