// The settings file: splitting lines into tokens, applying a line to the colour image, reading a
// file line by line as text mode does, and the example file shipped with the tool.

#include "settings/settings_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace {

using murve_test::TempDir;
using murve_test::write_file;
using Bytes = std::vector<std::uint8_t>;

// Where table bytes start in the image.
constexpr std::size_t k_2608 = 64;
constexpr std::size_t k_2151 = 128;
constexpr std::size_t k_spec = 160;

const std::string k_bom = "\xef\xbb\xbf";  // a UTF-8 byte-order mark
const std::string k_eof = "\x1a";          // ends a file read in text mode
// Blanks that are no delimiters: U+3000 in UTF-8 and Shift_JIS, U+00A0 in UTF-8 and Latin-1.
const std::string k_fw = "\xe3\x80\x80", k_fw_sjis = "\x81\x40", k_nb = "\xc2\xa0",
                  k_nb_latin1 = "\xa0";

using murve_test::hex_bytes;

// " 01 02 ... nn" for the values first..last, in hex.
std::string value_list(int first, int last) {
  std::string text;
  char value[8];
  for (int v = first; v <= last; ++v) {
    std::snprintf(value, sizeof value, " %02x", v);
    text += value;
  }
  return text;
}

murve::ColorImage default_image() {
  return murve::build_default_image();
}

// Bytes written over the default image from an image offset on.
struct Patch {
  std::size_t offset;
  std::string bytes;
};

Bytes patched_default(const std::vector<Patch>& patches) {
  const murve::ColorImage image = default_image();
  Bytes bytes(image.bytes.begin(), image.bytes.end());
  for (const Patch& patch : patches) {
    const Bytes values = hex_bytes(patch.bytes);
    std::copy(values.begin(), values.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(patch.offset));
  }
  return bytes;
}

Bytes image_of(const murve::ColorImage& image) {
  return Bytes(image.bytes.begin(), image.bytes.end());
}

std::vector<std::string> tokens_of(std::string line) {
  murve::LineTokens tokens;
  const std::size_t count = murve::tokenize_settings_line(line.data(), tokens);
  return std::vector<std::string>(tokens.begin(),
                                  tokens.begin() + static_cast<std::ptrdiff_t>(count));
}

TEST(SettingsTokens, SplitAtDelimiters) {
  using Tokens = std::vector<std::string>;
  struct TokenCase {
    std::string line;
    Tokens tokens;
  };
  const std::vector<TokenCase> cases = {
      {"c3 e0\n", {"c3", "e0"}},
      {"c3=e0", {"c3", "e0"}},
      {"c3,e0", {"c3", "e0"}},
      {"c3 = e0", {"c3", "e0"}},
      {" \t,=c3,,==\t e0 \n", {"c3", "e0"}},
      {"", {}},
      {" ,=\t\n", {}},
      {"#", {"#"}},
      // Carriage return, vertical tab and form feed are not delimiters.
      {"c3\re0\r\n", {"c3\re0\r"}},
      {"c3\ve0\f", {"c3\ve0\f"}},
      {"c2608;1;2", {"c2608;1;2"}},
      {std::string("c3 e0\0c4 11", 11), {"c3", "e0"}},
      {std::string("\0c3 e0", 6), {}},
  };
  for (const TokenCase& c : cases) {
    EXPECT_EQ(tokens_of(c.line), c.tokens) << "[" << c.line << "]";
  }
}

TEST(SettingsTokens, AtMost128) {
  std::string line;
  for (int i = 0; i < 130; ++i) {
    line += "t" + std::to_string(i) + " ";
  }
  const std::vector<std::string> tokens = tokens_of(line);
  ASSERT_EQ(tokens.size(), 128u);
  EXPECT_EQ(tokens.front(), "t0");
  EXPECT_EQ(tokens.back(), "t127");
}

struct LineCase {
  std::string line;
  bool accepted;
  std::vector<Patch> patches;
};

TEST(SettingsLine, Apply) {
  const std::vector<LineCase> cases = {
      {"", true, {}},
      {"# c3 00", true, {}},
      {"   \t#x", true, {}},
      {"#c2608 00 00 00", true, {}},
      // Colour codes.
      {"c3 5a", true, {{3, "5a"}}},
      {"c3=5a", true, {{3, "5a"}}},
      {"c3,5a", true, {{3, "5a"}}},
      {"c3 = 5a", true, {{3, "5a"}}},
      {"c3", true, {}},
      {"c3 5a ff", true, {{3, "5a"}}},
      {"c3 5a # red", true, {{3, "5a"}}},
      {"c3 # 5a", true, {{3, "00"}}},
      {"c0 11", true, {{0, "11"}}},
      {"c07 11", true, {{7, "11"}}},
      {"c5x 11", true, {{5, "11"}}},
      {"c+6 11", true, {{6, "11"}}},
      {"c-0 11", true, {{0, "11"}}},
      {"c 11", true, {{0, "11"}}},
      {"color 11", true, {{0, "11"}}},
      {"cx 11", true, {{0, "11"}}},
      {"cspec2 11", true, {{0, "11"}}},
      {"c 3 e0", true, {{0, "03"}}},
      {"c63 7f", true, {{63, "7f"}}},
      {"c18 01", true, {{18, "01"}}},
      // Values are hex; the low byte of the (saturated) number is stored.
      {"c1 1ff", true, {{1, "ff"}}},
      {"c1 -1", true, {{1, "ff"}}},
      {"c1 0x20", true, {{1, "20"}}},
      {"c1 0X2a", true, {{1, "2a"}}},
      {"c1 AbC", true, {{1, "bc"}}},
      {"c1 zz", true, {{1, "00"}}},
      {"c1 100000000", true, {{1, "ff"}}},
      {"c1 -100000000", true, {{1, "00"}}},
      {"c1 12g4", true, {{1, "12"}}},
      // Table 2608: three values an entry, fill byte 00.
      {"c2608 01 02 03 04", true, {{k_2608, "01 02 03 00 04 20 3f 00"}}},
      {"c2608 10 20 30 # red", true, {{k_2608, "10 20 30 00 00 00 3f 00"}}},
      {"c2608 aa bb", true, {{k_2608, "aa bb 3f 00"}}},
      {"c2608", true, {}},
      {"c2608" + value_list(1, 50),
       true,
       {{k_2608,
         "01 02 03 00 04 05 06 00 07 08 09 00 0a 0b 0c 00 0d 0e 0f 00 10 11 12 00"
         " 13 14 15 00 16 17 18 00 19 1a 1b 00 1c 1d 1e 00 1f 20 21 00 22 23 24 00"
         " 25 26 27 00 28 29 2a 00 2b 2c 2d 00 2e 2f 30 00"}}},
      // Table 2151: at most 24 values.
      {"c2151 aa bb cc dd", true, {{k_2151, "aa bb cc 00 dd 20 3f 00"}}},
      {"c2151" + value_list(1, 30),
       true,
       {{k_2151,
         "01 02 03 00 04 05 06 00 07 08 09 00 0a 0b 0c 00 0d 0e 0f 00 10 11 12 00"
         " 13 14 15 00 16 17 18 00"}}},
      // Spec table: at most 48 values, no fill bytes.
      {"cspec 11 22", true, {{k_spec, "11 22"}}},
      {"cspec 01 # ca", true, {{k_spec, "01 00 ca"}}},
      {"cspec # 01", true, {{k_spec, "00 01"}}},
      {"cspec" + value_list(1, 50), true, {{k_spec, value_list(1, 48)}}},
      // Errors name the first token.
      {"c64 7f", false, {}},
      {"c-1 7f", false, {}},
      {"c2609 00", false, {}},
      {"c2607", false, {}},
      {"c2147483648 00", false, {}},
      {"c4294967299 00", false, {}},  // 2^32 + 3 must not wrap to 3
      {"c4294969904 00", false, {}},  // 2^32 + 2608
      {"CSPEC 00", false, {}},
      {"C3 00", false, {}},
      {"x1 00", false, {}},
      {"3 00", false, {}},
      {k_bom + "c3 00", false, {}},
      {"\rc3 00", false, {}},
      {"%s%d 00", false, {}},
  };
  for (const LineCase& c : cases) {
    std::string line = c.line;
    murve::LineTokens tokens;
    const std::size_t count = murve::tokenize_settings_line(line.data(), tokens);
    murve::ColorImage image = default_image();
    const bool accepted =
        murve::apply_settings_line(std::span<const char* const>(tokens.data(), count), image);
    EXPECT_EQ(accepted, c.accepted) << c.line;
    EXPECT_EQ(image_of(image), patched_default(c.patches)) << c.line;
  }
}

// Setting an entry's third value byte writes its fill byte as 00; an entry left part-way keeps
// whatever its fill byte held.
TEST(SettingsLine, FillByteWrittenWithThirdValue) {
  murve::ColorImage image = default_image();
  image.bytes[k_2608 + 3] = 0x77;
  image.bytes[k_2608 + 7] = 0x77;
  image.bytes[k_2151 + 3] = 0x77;
  image.bytes[k_2151 + 7] = 0x77;
  std::vector<const char*> tokens = {"c2608", "01", "02", "03", "04"};
  ASSERT_TRUE(murve::apply_settings_line(tokens, image));
  tokens[0] = "c2151";
  ASSERT_TRUE(murve::apply_settings_line(tokens, image));
  for (std::size_t table : {k_2608, k_2151}) {
    EXPECT_EQ(Bytes(image.bytes.begin() + static_cast<std::ptrdiff_t>(table),
                    image.bytes.begin() + static_cast<std::ptrdiff_t>(table + 8)),
              hex_bytes("01 02 03 00 04 20 3f 77"))
        << table;
  }
}

// Lines as long as one read takes, line feed included for the comment, not for the colour line.
const std::string k_filler_line = "#" + std::string(32764, 'a') + "\n";  // 32766 bytes
const std::string k_long_line = "c3" + std::string(32762, ' ') + "5a";   // 32766 bytes

// Comment lines of `size` bytes in all, ending in a line feed.
std::string comment_lines(std::size_t size) {
  std::string text;
  while (size > k_filler_line.size()) {
    text += k_filler_line;
    size -= k_filler_line.size();
  }
  return text + (size >= 2 ? "#" + std::string(size - 2, 'a') : "") + "\n";
}

// Places `line_before_lf` and "\r\n" so that the CR is the last byte of the reader's first 64 KiB
// chunk and the LF the first byte of the next.
std::string crlf_at_chunk_boundary(const std::string& line_before_lf) {
  return comment_lines(65535 - line_before_lf.size()) + line_before_lf + "\r\n";
}

using K = murve::SettingsWarningKind;

// A warning that a file case expects, in the order the lines give them.
struct Warned {
  std::size_t line;
  K kind;
  std::string token{};
  std::string stored{};  // in hex
  std::size_t read_length = 0;
  std::string character{};  // in hex
};

struct FileCase {
  const char* name;
  std::string contents;
  std::string rejected_token;  // empty: the file is read to its end
  std::size_t rejected_line;   // the line of the file, counted from 1
  std::vector<Patch> patches;
  std::vector<Warned> warnings{};
};

// `bounded`: opened as a settings file is, no larger than k_max_settings_size; otherwise the
// reader alone, on as much as it is given.
void check_file_case(const FileCase& c, bool bounded = true) {
  TempDir dir;
  write_file(dir.file("colors.cfg"), c.contents);
  murve::ColorImage image = default_image();
  const murve::UniqueFile file(std::fopen(dir.file("colors.cfg").c_str(), "rb"));
  const murve::SettingsOutcome outcome =
      bounded ? murve::load_settings_file(dir.file("colors.cfg"), image)
              : murve::read_settings(file.get(), image);
  if (c.rejected_token.empty()) {
    EXPECT_EQ(outcome.failure, murve::SettingsFailure::none) << c.name;
  } else {
    EXPECT_EQ(outcome.failure, murve::SettingsFailure::bad_line) << c.name;
    EXPECT_EQ(outcome.first_token, c.rejected_token) << c.name;
    EXPECT_EQ(outcome.line_number, c.rejected_line) << c.name;
  }
  EXPECT_EQ(outcome.error_number, 0) << c.name;
  EXPECT_EQ(image_of(image), patched_default(c.patches)) << c.name;
  ASSERT_EQ(outcome.warnings.count, c.warnings.size()) << c.name;
  for (std::size_t i = 0; i < c.warnings.size(); ++i) {
    const murve::SettingsWarning& w = outcome.warnings.kept[i];
    const Warned& e = c.warnings[i];
    EXPECT_TRUE(w.line_number == e.line && w.kind == e.kind && w.token == e.token &&
                w.stored == hex_bytes(e.stored) && w.read_length == e.read_length &&
                w.character == hex_bytes(e.character))
        << c.name << ": warning " << i;
  }
}

TEST(SettingsFile, Load) {
  const std::vector<FileCase> cases = {
      {"empty", "", "", 0, {}},
      {"comments and blanks", "# colours\n\n   \n\t# c3 00\n,=,\n", "", 0, {}},
      {"two lines", "c3 5a\nc4 6b\n", "", 0, {{3, "5a 6b"}}},
      {"no final line feed", "c3 5a\nc4 6b", "", 0, {{3, "5a 6b"}}},
      {"later line wins", "c3 5a\nc3 6b\n", "", 0, {{3, "6b"}}},
      {"crlf", "c3 5a\r\nc4 6b\r\n\r\n", "", 0, {{3, "5a 6b"}}},
      // A lone CR is text: "c3\r5a" is colour code 3 with no value.
      {"lone cr inside a line", "c3\r5a\nc4 6b\n", "", 0, {{4, "6b"}}, {{1, K::carriage_return}}},
      {"lone cr before crlf", "c4 6b\r\r\n", "", 0, {{4, "6b"}}, {{1, K::carriage_return}}},
      {"lone cr at the end", "c4 6b\r", "", 0, {{4, "6b"}}, {{1, K::carriage_return}}},
      {"cr line ends", "# colours\rc3 5a\r", "", 0, {}, {{1, K::carriage_return_in_comment}}},
      {"crs in a long line warn once",
       "#\r" + std::string(32764, ' ') + "#\r\n",
       "",
       0,
       {},
       {{1, K::carriage_return_in_comment}}},
      {"lone cr starts a token", "\rc3 5a\n", "\rc3", 1, {}},
      {"cr alone on a line", "c4 6b\n\r\r\nc5 7c\n", "\r", 2, {{4, "6b"}}},
      {"crlf across chunks", crlf_at_chunk_boundary("") + "c4 6b\n", "", 0, {{4, "6b"}}},
      {"crlf across chunks ends a line",
       crlf_at_chunk_boundary("c3 5a") + "c4 6b\n",
       "",
       0,
       {{3, "5a 6b"}}},
      // Three comment lines fill the first chunk but its last byte.
      {"cr at chunk end then text",
       crlf_at_chunk_boundary("").substr(0, 65536) + "c4 6b\n",
       "\rc4",
       4,
       {}},
      {"0x1a ends the file", "c3 5a\n" + k_eof + "x1 00\n", "", 0, {{3, "5a"}}},
      {"0x1a inside a line", "c3 5a" + k_eof + "ff\nx1\n", "", 0, {{3, "5a"}}},
      {"nul ends the text",
       std::string("c3 5a\0 c4 6b\nc5 7c\n", 19),
       "",
       0,
       {{3, "5a"}, {5, "7c"}}},
      {"nul first", std::string("\0x1 00\nc4 6b\n", 13), "", 0, {{4, "6b"}}},
      {"utf-8 bom", k_bom + "# colours\nc3 5a\n", k_bom + "#", 1, {}},
      {"bad line stops reading", "c3 5a\nx1 00\nc4 6b\n", "x1", 2, {{3, "5a"}}},
      {"a rejected line warns of nothing",
       "c3 red\nx1 red\nc4 red\n",
       "x1",
       2,
       {{3, "00"}},
       {{1, K::not_a_number, "red", "00"}}},
      // Values that are read otherwise than they look, and comments that start no line.
      {"not a number", "c3 red\n", "", 0, {{3, "00"}}, {{1, K::not_a_number, "red", "00"}}},
      {"a c without a number", "cSpec 01\n", "", 0, {{0, "01"}}, {{1, K::read_as_code_0, "cSpec"}}},
      {"partly a number",
       "c2151 aa first\n",
       "",
       0,
       {{k_2151, "aa 0f"}},
       {{1, K::partly_a_number, "first", "0f", 1}}},
      {"above ff", "c4 255\n", "", 0, {{4, "55"}}, {{1, K::above_ff, "255", "55"}}},
      {"below zero", "c4 -1\n", "", 0, {{4, "ff"}}, {{1, K::below_zero, "-1", "ff"}}},
      {"beyond 32 bits",
       "cspec 100000000\n",
       "",
       0,
       {{k_spec, "ff"}},
       {{1, K::beyond_32_bits, "100000000", "ff"}}},
      {"plain numbers", "c4 +0X1f\ncspec ff,-0\n", "", 0, {{4, "1f"}, {k_spec, "ff 00"}}},
      {"a comment read as values",
       "# entry 1\nc2608 10 20 30 # first entry\n",
       "",
       0,
       {{k_2608, "10 20 30 00 00 0f 0e 00"}},
       {{2, K::comment_read_as_values, "#", "00 0f 0e"}}},
      {"a comment as a colour value",
       "c3 #5a\n",
       "",
       0,
       {{3, "00"}},
       {{1, K::comment_as_color_value, "#5a", "00"}}},
      {"a comment after a colour value",
       "c3 zz # red\n",
       "",
       0,
       {{3, "00"}},
       {{1, K::not_a_number, "zz", "00"}, {1, K::comment_ignored, "#"}}},
      {"words after a colour value",
       "c3 e0 ff\n",
       "",
       0,
       {{3, "e0"}},
       {{1, K::words_after_color_value, "ff"}}},
      // A full-width or a no-break space looks like a blank, but is part of its word.
      {"blanks that separate no words",
       "c3" + k_fw + "11\nc4" + k_fw_sjis + "11\nc5" + k_nb + "11\nc6" + k_nb_latin1 +
           "11\nc2608 10" + k_fw + "20 30\n",
       "",
       0,
       {{k_2608, "10 30"}},
       {{1, K::full_width_space, "c3" + k_fw + "11", "", 0, "e3 80 80"},
        {2, K::full_width_space, "c4" + k_fw_sjis + "11", "", 0, "81 40"},
        {3, K::no_break_space, "c5" + k_nb + "11", "", 0, "c2 a0"},
        {4, K::no_break_space, "c6" + k_nb_latin1 + "11", "", 0, "a0"},
        {5, K::full_width_space, "10" + k_fw + "20", "", 0, "e3 80 80"},
        {5, K::partly_a_number, "10" + k_fw + "20", "10", 2}}},
      // Bytes a0 and 81 40 of other characters, and blanks in a comment, warn of nothing.
      {"other characters", "c3\xc3\xa0\nc4\x88\x81@\n# c3" + k_fw + "11\n", "", 0, {}},
      {"code out of range", "c64 7f\n", "c64", 1, {}},
      {"long line read whole", k_long_line + "\nc4 6b\n", "", 0, {{3, "5a 6b"}}},
      {"long line split", k_long_line + "c4 6b\n", "", 0, {{3, "5a 6b"}}},
      // The parts of a line longer than one read are all of the same line of the file.
      {"long line remainder rejected", k_long_line + "zz\nc4 6b\n", "zz", 1, {{3, "5a"}}},
      {"a long line counts once", "# a\n" + k_long_line + "#\nx1 00\n", "x1", 3, {{3, "5a"}}},
      {"a long line ending in crlf counts once",
       "#\r\n" + k_long_line + "#\r\n\r\nzz\r\n",
       "zz",
       4,
       {{3, "5a"}}},
  };
  for (const FileCase& c : cases) {
    check_file_case(c);
  }
}

// A file of lines "cN VV" for i = 0 .. count-1, N = i mod 64 and VV = i mod 251, every other
// line ending in CR LF; and the colour codes it leaves, which its last 64 lines set.
std::string numbered_lines(int count, std::string& codes) {
  std::string text;
  char line[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line, "c%d %02x%s", i % 64, i % 251, i % 2 == 0 ? "\n" : "\r\n");
    text += line;
  }
  codes.clear();
  for (int code = 0; code < 64; ++code) {
    const int last = count - 64 + (code - (count - 64) % 64 + 64) % 64;
    std::snprintf(line, sizeof line, "%02x ", last % 251);
    codes += line;
  }
  return text;
}

// One line of 10 MiB, read in pieces of 32766 characters: only the first and the last hold words.
std::string ten_mebibyte_line() {
  const std::size_t length = 10 * 1024 * 1024;
  std::string line = "c3 5a";
  const std::string delimiters = " ,=\t";
  while (line.size() < length - 5) {
    line += delimiters[line.size() % delimiters.size()];
  }
  return line + "c4 6b\n";
}

// Big files are read whole in fixed buffers; how fast is for the benchmark in bench/.
TEST(SettingsFile, LargeFilesAreReadWhole) {
  std::string codes;
  const std::string million = numbered_lines(1000000, codes);
  check_file_case({"a million lines", million, "", 0, {{0, codes}}}, false);
  check_file_case({"one line of 10 MiB", ten_mebibyte_line(), "", 0, {{3, "5a 6b"}}}, false);
  // Warnings past the first few are only counted.
  TempDir dir;
  std::string flood;
  for (int i = 0; i < 100000; ++i) {
    flood += "c3 red\n";
  }
  write_file(dir.file("flood.cfg"), flood);
  murve::ColorImage image = default_image();
  const murve::SettingsOutcome outcome = murve::load_settings_file(dir.file("flood.cfg"), image);
  EXPECT_EQ(outcome.warnings.count, 100000u);
  EXPECT_EQ(outcome.warnings.kept.size(), murve::k_max_settings_warnings);
}

// Whatever the file is, its text is read up to the bound and refused past it; a file that can't
// be opened, and a folder, are refused with the system's reason. The image keeps its defaults.
TEST(SettingsFile, ReadUpToTheBoundWhateverTheFileIs) {
  TempDir dir;
  const std::size_t bound = murve::k_max_settings_size;
  write_file(dir.file("huge.cfg"), std::string(bound + 1, '#'));
  write_file(dir.file("bound.cfg"), "c3 5a\n" + std::string(bound - 6, '#'));
  write_file(dir.file("ended.cfg"), "c3 5a\n" + k_eof + std::string(bound, '#'));
  write_file(dir.file("cut.cfg"), std::string(bound - 3, '#') + "\nx1 00\n");
  using F = murve::SettingsFailure;
  using R = murve::SettingsRefusal;
  const std::vector<std::tuple<std::string, F, int, R, std::vector<Patch>>> cases = {
      {dir.file("missing.cfg"), F::cannot_open, ENOENT, R::none, {}},
      {dir.path(), F::cannot_open, EISDIR, R::folder, {}},
      {dir.path() + "/", F::cannot_open, EISDIR, R::folder, {}},
      {"/dev/null", F::none, 0, R::none, {}},
      {"/dev/zero", F::cannot_open, 0, R::too_large, {}},
      {dir.file("huge.cfg"), F::cannot_open, 0, R::too_large, {}},
      {dir.file("bound.cfg"), F::none, 0, R::none, {{3, "5a"}}},
      // Text mode ends the file at 0x1a, before the bound.
      {dir.file("ended.cfg"), F::none, 0, R::none, {{3, "5a"}}},
      // The line that the bound cuts is not read: it is no bad line of the file.
      {dir.file("cut.cfg"), F::cannot_open, 0, R::too_large, {}},
  };
  for (const auto& [path, failure, error_number, refusal, patches] : cases) {
    murve::ColorImage image = default_image();
    const murve::SettingsOutcome outcome = murve::load_settings_file(path, image);
    EXPECT_EQ(outcome.failure, failure) << path;
    EXPECT_EQ(outcome.error_number, error_number) << path;
    EXPECT_EQ(outcome.refusal, refusal) << path;
    EXPECT_EQ(image_of(image), patched_default(patches)) << path;
  }
}

// A pipe is read to its end, or refused once it goes on past the bound of a settings file.
TEST(SettingsFile, PipeIsReadUpToTheBound) {
  for (const std::size_t comments : {std::size_t{1}, murve::k_max_settings_size}) {
    TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { write_file(fifo, std::string(comments, '#') + "\nc3 5a\n"); });
    murve::ColorImage image = default_image();
    const murve::SettingsOutcome outcome = murve::load_settings_file(fifo, image);
    writer.join();
    const bool whole = comments == 1;
    EXPECT_EQ(outcome.ok(), whole);
    EXPECT_EQ(outcome.refusal,
              whole ? murve::SettingsRefusal::none : murve::SettingsRefusal::too_large);
    EXPECT_EQ(image_of(image),
              patched_default(whole ? std::vector<Patch>{{3, "5a"}} : std::vector<Patch>{}));
  }
}

// A stream that can't be read (opened for writing only) reads as an empty file, and says so.
TEST(SettingsFile, ReadErrorCountsAsEnd) {
  TempDir dir;
  murve::UniqueFile file(std::fopen(dir.file("w.cfg").c_str(), "w"));
  ASSERT_TRUE(file);
  std::fputs("x1 00\n", file.get());
  std::fflush(file.get());
  murve::ColorImage image = default_image();
  const murve::SettingsOutcome outcome = murve::read_settings(file.get(), image);
  EXPECT_TRUE(outcome.ok());
  EXPECT_NE(outcome.error_number, 0);
  EXPECT_EQ(image_of(image), patched_default({}));
}

struct ReaderCase {
  const char* name;
  std::string contents;
  std::vector<std::string> lines;
};

TEST(SettingsLineReader, Lines) {
  const std::string filler = k_filler_line;
  const std::vector<ReaderCase> cases = {
      {"empty", "", {}},
      {"crlf", "a\r\nb\n", {"a\n", "b\n"}},
      {"lone cr", "a\rb\r", {"a\rb\r"}},
      {"cr cr lf", "a\r\r\nb", {"a\r\n", "b"}},
      {"0x1a", "a\n" + k_eof + "b\n", {"a\n"}},
      {"32766 then lf", std::string(32766, 'x') + "\nb\n", {std::string(32766, 'x'), "\n", "b\n"}},
      {"32767 then lf", std::string(32767, 'x') + "\n", {std::string(32766, 'x'), "x\n"}},
      {"32765 then crlf", std::string(32765, 'x') + "\r\n", {std::string(32765, 'x') + "\n"}},
      {"crlf across chunks", filler + filler + "#ab\r\nc\n", {filler, filler, "#ab\n", "c\n"}},
      {"cr at chunk end", filler + filler + "#ab\rc\n", {filler, filler, "#ab\rc\n"}},
  };
  for (const ReaderCase& c : cases) {
    TempDir dir;
    write_file(dir.file("lines.cfg"), c.contents);
    murve::UniqueFile file(std::fopen(dir.file("lines.cfg").c_str(), "rb"));
    ASSERT_TRUE(file) << c.name;
    murve::SettingsLineReader reader(file.get());
    auto line = std::make_unique<murve::LineBuffer>();
    std::vector<std::string> lines;
    while (lines.size() <= c.lines.size() && reader.read_line(*line)) {
      lines.emplace_back(line->data());
    }
    EXPECT_EQ(lines, c.lines) << c.name;
  }
}

// The example files, the English one and the Japanese one beside it, restate every byte of the
// built-in defaults, whatever the image held before, and give no warning: the same image. The
// Japanese one's comments are UTF-8, without the byte-order mark that the reader refuses.
TEST(ExampleSettingsFile, RestatesTheDefaults) {
  for (const std::string name : {"murve_color.cfg", "murve_color.ja.cfg"}) {
    const std::string path = MURVECOLOR_SOURCE_DIR "/examples/" + name;
    const std::string text = murve_test::read_file(path);
    ASSERT_FALSE(text.empty()) << path;
    if (name == "murve_color.cfg") {
      for (const char c : text) {
        EXPECT_TRUE(c == '\n' || (c >= ' ' && c <= '~')) << "not plain ASCII: " << int(c);
      }
    } else {
      // This source file is UTF-8 too.
      EXPECT_NE(text.find("カラーコード"), std::string::npos) << path << " is not UTF-8";
      EXPECT_NE(text.rfind(k_bom, 0), 0u) << path;
    }
    for (const std::uint8_t start : {0x00, 0x5a, 0xff}) {
      murve::ColorImage image;
      image.bytes.fill(start);
      const murve::SettingsOutcome outcome = murve::load_settings_file(path, image);
      EXPECT_TRUE(outcome.ok()) << path;
      EXPECT_EQ(outcome.warnings.count, 0u) << path << ": the example says what it means";
      EXPECT_EQ(image_of(image), patched_default({})) << path << " starting from " << int(start);
    }
  }
}

}  // namespace
