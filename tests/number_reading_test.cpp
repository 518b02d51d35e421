// Decimal and hexadecimal number reading: white space, signs, prefixes and saturation.

#include "settings/number_reading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t k_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t k_min = std::numeric_limits<std::int32_t>::min();

struct NumberCase {
  std::string text;
  std::int32_t expected;
};

TEST(NumberReading, Decimal) {
  const std::vector<NumberCase> cases = {
      {"0", 0},
      {"5", 5},
      {"007", 7},
      {"16", 16},
      {"5x", 5},
      {"12 34", 12},
      {"x5", 0},
      {"", 0},
      {"-", 0},
      {"+", 0},
      {"0x10", 0},
      {"1f", 1},
      {"a", 0},
      {"+7", 7},
      {"-7", -7},
      {"-0", 0},
      {"--7", 0},
      {"+-7", 0},
      {"- 7", 0},
      {" 9", 9},
      {"\t\n\v\f\r 9", 9},
      {"  -12", -12},
      {"\xa0"
       "9",
       0},  // only the six ASCII white-space characters are skipped
      {"2147483647", k_max},
      {"2147483648", k_max},
      {"4294967297", k_max},
      {"99999999999999999999999", k_max},
      {"-2147483647", -2147483647},
      {"-2147483648", k_min},
      {"-2147483649", k_min},
      {"-4294967297", k_min},
      {"00000000000000000000000000012", 12},
  };
  for (const NumberCase& c : cases) {
    EXPECT_EQ(murve::read_decimal(c.text.c_str()), c.expected) << "[" << c.text << "]";
  }
}

TEST(NumberReading, Hex) {
  const std::vector<NumberCase> cases = {
      {"0", 0},
      {"e0", 0xe0},
      {"E0", 0xe0},
      {"aBcDeF", 0xabcdef},
      {"0x20", 0x20},
      {"0X2a", 0x2a},
      {"0x", 0},
      {"0xg", 0},
      {"0xx5", 0},
      {"x5", 0},
      {"00x5", 0},
      {"1ff", 0x1ff},
      {"1fg5", 0x1f},
      {"zz", 0},
      {"", 0},
      {"#", 0},
      {"-1", -1},
      {"+ff", 0xff},
      {"-0x10", -0x10},
      {"+0X10", 0x10},
      {"- 1", 0},
      {"\t\n\v\f\r 3f", 0x3f},
      {" 0x 3f", 0},
      {"\x1c"
       "3f",
       0},
      {"7fffffff", k_max},
      {"80000000", k_max},
      {"100000000", k_max},
      {"0x123456789abcdef", k_max},
      {"-7fffffff", -k_max},
      {"-80000000", k_min},
      {"-80000001", k_min},
      {"-100000000", k_min},
  };
  for (const NumberCase& c : cases) {
    EXPECT_EQ(murve::read_hex(c.text.c_str()), c.expected) << "[" << c.text << "]";
  }
}

}  // namespace
