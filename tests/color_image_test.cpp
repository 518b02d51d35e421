// The colour image: built-in defaults, the setters by table, and runs of bytes by device address.

#include "settings/color_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using murve_test::hex_bytes;

Bytes repeated(const std::string& entry, int count) {
  Bytes bytes;
  const Bytes one = hex_bytes(entry);
  for (int i = 0; i < count; ++i) {
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  return bytes;
}

Bytes image_of(const murve::ColorImage& image) {
  return Bytes(image.bytes.begin(), image.bytes.end());
}

// The defaults spelled out table by table, independently of how the image is built.
Bytes expected_default_image() {
  Bytes image = hex_bytes("ff ff fc e0 1c f8 e0 f8 1c 1f 3f 3f 3f ff 03 c0 92 e0");
  const Bytes zeros(46, 0x00);
  image.insert(image.end(), zeros.begin(), zeros.end());
  for (const Bytes& part :
       {repeated("20 20 3f 00", 6), repeated("20 3f 20 00", 3), repeated("3f 20 00 00", 6),
        repeated("3f 3f 3f 00", 1), repeated("20 20 3f 00", 8), repeated("00 00 ff", 4),
        repeated("00 ff 00", 4), repeated("00 ff ff", 4), repeated("ff ff 00", 4)}) {
    image.insert(image.end(), part.begin(), part.end());
  }
  return image;
}

murve::ColorImage default_image() {
  return murve::build_default_image();
}

TEST(ColorImage, DefaultsMatchTheTables) {
  const Bytes expected = expected_default_image();
  ASSERT_EQ(expected.size(), murve::k_color_image_size);
  EXPECT_EQ(image_of(default_image()), expected);
}

TEST(ColorImage, SettersTouchOnlyTheirByteAndKeepFillBytesZero) {
  struct SetterCase {
    const char* name;
    const murve::ColorTable& table;
    std::size_t index;
    std::size_t changed_offset;  // image byte changed, or k_color_image_size for none
    std::uint8_t stored;
  };
  constexpr std::size_t none = murve::k_color_image_size;
  const std::vector<SetterCase> cases = {
      {"code 0", murve::k_color_codes, 0, 0, 0xab},
      {"code 63", murve::k_color_codes, 63, 63, 0xab},
      {"code 64", murve::k_color_codes, 64, none, 0},
      {"2608 k0", murve::k_table2608, 0, 64, 0xab},
      {"2608 k2", murve::k_table2608, 2, 66, 0xab},
      {"2608 k3 fill", murve::k_table2608, 3, none, 0},
      {"2608 k39 fill", murve::k_table2608, 39, none, 0},
      {"2608 k62", murve::k_table2608, 62, 126, 0xab},
      {"2608 k63 fill", murve::k_table2608, 63, none, 0},
      {"2608 k64", murve::k_table2608, 64, none, 0},
      {"2151 k0", murve::k_table2151, 0, 128, 0xab},
      {"2151 k7 fill", murve::k_table2151, 7, none, 0},
      {"2151 k30", murve::k_table2151, 30, 158, 0xab},
      {"2151 k31 fill", murve::k_table2151, 31, none, 0},
      {"2151 k32", murve::k_table2151, 32, none, 0},
      {"spec k0", murve::k_spec_table, 0, 160, 0xab},
      {"spec k3", murve::k_spec_table, 3, 163, 0xab},
      {"spec k47", murve::k_spec_table, 47, 207, 0xab},
      {"spec k48", murve::k_spec_table, 48, none, 0},
  };
  for (const SetterCase& c : cases) {
    murve::ColorImage image = default_image();
    murve::set_table_byte(image, c.table, c.index, 0xab);
    Bytes expected = expected_default_image();
    if (c.changed_offset != none) {
      expected[c.changed_offset] = c.stored;
    }
    EXPECT_EQ(image_of(image), expected) << c.name;
  }
}

TEST(ColorImage, FillBytesStayZeroWhateverIsWritten) {
  murve::ColorImage image = default_image();
  for (std::size_t k = 0; k < 64; ++k) {
    murve::set_table_byte(image, murve::k_table2608, k, 0xff);
  }
  for (std::size_t k = 0; k < 32; ++k) {
    murve::set_table_byte(image, murve::k_table2151, k, 0x80);
  }
  for (std::size_t i = 64; i < 160; ++i) {
    const bool fill = i % 4 == 3;
    const std::uint8_t value = i < 128 ? 0xff : 0x80;
    EXPECT_EQ(image.bytes[i], fill ? 0x00 : value) << "image byte " << i;
  }
}

TEST(ColorImage, ImageBytesRanges) {
  const murve::ColorImage image = default_image();
  struct RangeCase {
    unsigned address;
    std::size_t length;
    std::size_t first;  // image byte the run starts at
    std::size_t size;   // bytes in the run
  };
  const std::vector<RangeCase> cases = {
      {0x082, 208, 0, 208}, {0x082, 32, 0, 32},  {0x0a2, 32, 32, 32},  {0x142, 16, 192, 16},
      {0x151, 1, 207, 1},   {0x150, 32, 206, 2}, {0x082, 500, 0, 208}, {0x082, 0, 0, 0},
      {0x152, 1, 0, 0},     {0x15f, 1, 0, 0},    {0x081, 2, 0, 0},     {0x080, 16, 0, 0},
      {0x000, 208, 0, 0},
  };
  for (const RangeCase& c : cases) {
    const auto run = murve::image_bytes(image, c.address, c.length);
    ASSERT_EQ(run.size(), c.size) << std::hex << c.address << " +" << std::dec << c.length;
    if (c.size > 0) {
      EXPECT_EQ(run.data(), image.bytes.data() + c.first) << std::hex << c.address;
    }
  }
}

}  // namespace
