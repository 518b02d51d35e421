// The settings-file reader fed a whole file's bytes. It must read the same lines as a plain
// reading of the bytes in text mode would, in 64 KiB chunks or not; leave every fill byte 00;
// print nothing; name the first rejected line by its first token and its line of the file; and
// keep its warnings bounded and in order.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "settings/settings_file.h"

namespace {

constexpr std::size_t k_reader_chunk = 65536;

// The lines of `bytes` as text mode gives them, split after k_max_line_read characters.
std::vector<std::string> plain_lines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1a'; ++i) {
    char c = bytes[i];
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      c = '\n';
      ++i;
    }
    line += c;
    if (c == '\n' || line.size() == murve::k_max_line_read) {
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) {
    lines.push_back(line);
  }
  return lines;
}

struct Rejection {
  std::size_t line_number = 0;  // 0: none
  std::string token;
};

// Applies the lines one by one, as the reader should, into `image`, up to a rejected one.
Rejection apply_lines(const std::vector<std::string>& lines, murve::ColorImage& image) {
  auto buffer = std::make_unique<murve::LineBuffer>();
  murve::LineTokens tokens;
  std::size_t line_number = 1;  // the parts of a long line are one line of the file
  for (const std::string& line : lines) {
    std::memcpy(buffer->data(), line.data(), line.size());
    (*buffer)[line.size()] = '\0';
    const std::size_t count = murve::tokenize_settings_line(buffer->data(), tokens);
    if (!murve::apply_settings_line(std::span<const char* const>(tokens.data(), count), image)) {
      return {line_number, tokens[0]};
    }
    line_number += line.back() == '\n' ? 1 : 0;
  }
  return {};
}

// The file the reader reads: a real stdio stream, as fopen gives it.
std::FILE* settings_file() {
  static std::FILE* file = std::tmpfile();
  FUZZ_CHECK(file != nullptr);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes;
  if (size > 0 && (data[0] & 0x80) != 0) {
    // Comment lines that end within the last 64 bytes of the reader's first chunk, so that the
    // rest of the input straddles the chunk boundary.
    const std::size_t padding = k_reader_chunk - 1 - (data[0] & 0x3f);
    for (std::size_t line : {std::size_t{21000}, std::size_t{21000}, padding - 42000}) {
      bytes += "#" + std::string(line - 2, 'p') + "\n";
    }
  }
  if (size > 0) {
    bytes.append(reinterpret_cast<const char*>(data) + 1, size - 1);
  }

  murve::ColorImage expected = murve::build_default_image();
  const Rejection rejection = apply_lines(plain_lines(bytes), expected);

  std::FILE* file = settings_file();
  std::rewind(file);
  FUZZ_CHECK(ftruncate(fileno(file), 0) == 0);
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  std::rewind(file);
  murve::ColorImage image = murve::build_default_image();
  const murve::SettingsOutcome outcome = murve::read_settings(file, image);

  FUZZ_CHECK(murve_fuzz::take_stdout().empty());
  FUZZ_CHECK(image.bytes == expected.bytes);
  FUZZ_CHECK(murve_fuzz::fill_bytes_zero(image));
  FUZZ_CHECK(outcome.error_number == 0);
  // Warnings are kept in file order, the first few of them, and only for lines read.
  FUZZ_CHECK(outcome.warnings.kept.size() ==
             std::min(outcome.warnings.count, murve::k_max_settings_warnings));
  for (std::size_t i = 0; i < outcome.warnings.kept.size(); ++i) {
    const std::size_t line = outcome.warnings.kept[i].line_number;
    FUZZ_CHECK(line >= 1 && (i == 0 || line >= outcome.warnings.kept[i - 1].line_number));
  }
  if (rejection.line_number == 0) {
    FUZZ_CHECK(outcome.ok());
  } else {
    FUZZ_CHECK(outcome.failure == murve::SettingsFailure::bad_line);
    FUZZ_CHECK(outcome.line_number == rejection.line_number);
    FUZZ_CHECK(outcome.first_token == rejection.token);
  }
  return 0;
}
