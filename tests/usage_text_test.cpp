// The usage text in UTF-8 and in code page 932, and what print_usage_text writes.

#include "app/usage_text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The lines as written here are UTF-8 (the build reads and writes sources as UTF-8); the
// full-width spaces and the runs of ASCII spaces before "..." are spelled out in bytes.
const std::vector<std::string> k_usage_lines = {
    "option error",
    "使い方例：murvecolor -com 5 -config murve_color.cfg",
    "\xe3\x80\x80-com n" + std::string(13, ' ') + "... 使用するCOMポートを指定します。",
    "\xe3\x80\x80-config filename" + std::string(3, ' ') + "... 設定用ファイル名を指定します。",
    "",
    "このツールはeepromexコマンドを使い、MURVE ProのEEPROMデータを書き換えます。",
    "ツールを使わなくても、シリアルコンソールで直接書き換えることもできます。",
    "",
};

std::string joined_usage_lines() {
  std::string text;
  for (const std::string& line : k_usage_lines) {
    text += line + "\n";
  }
  return text;
}

// Converts with glibc's iconv; gives "<iconv failed>" on any error.
std::string convert(std::string_view text, const char* to, const char* from) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    return "<iconv_open failed>";
  }
  std::string input(text);
  std::string output(input.size() * 4 + 16, '\0');
  char* in = input.data();
  std::size_t in_left = input.size();
  char* out = output.data();
  std::size_t out_left = output.size();
  const std::size_t converted = iconv(converter, &in, &in_left, &out, &out_left);
  iconv_close(converter);
  if (converted == static_cast<std::size_t>(-1) || in_left != 0) {
    return "<iconv failed>";
  }
  output.resize(output.size() - out_left);
  return output;
}

TEST(UsageText, Utf8ByteForByte) {
  EXPECT_EQ(std::string(murve::usage_text_utf8()), joined_usage_lines());
}

TEST(UsageText, ShiftJisConvertsToTheUtf8Text) {
  const std::string_view shift_jis = murve::usage_text_shift_jis();
  EXPECT_EQ(convert(shift_jis, "UTF-8", "CP932"), std::string(murve::usage_text_utf8()));
  EXPECT_EQ(convert(murve::usage_text_utf8(), "CP932", "UTF-8"), std::string(shift_jis));
  // The full-width space is 81 40 in code page 932.
  EXPECT_NE(shift_jis.find("\n\x81\x40-com n             ... "), std::string_view::npos);
}

TEST(UsageText, PrintedAsUtf8Unchanged) {
  testing::internal::CaptureStdout();
  murve::print_usage_text();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(murve::usage_text_utf8()));
}

}  // namespace
