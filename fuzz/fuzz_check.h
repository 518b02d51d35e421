#pragma once

// What the fuzz targets share: a property check whose failure is a finding, standard output
// caught in memory, and the properties of a colour image.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/color_image.h"

#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                                \
    }                                                                                              \
  } while (false)

namespace murve_fuzz {

// What the code under test printed since the last call; standard output goes to a memory file.
inline std::string take_stdout() {
  static const int memory_file = [] {
    const int fd = memfd_create("murve-fuzz-stdout", 0);
    FUZZ_CHECK(fd >= 0 && dup2(fd, STDOUT_FILENO) == STDOUT_FILENO);
    return fd;
  }();
  std::fflush(stdout);
  const off_t length = lseek(memory_file, 0, SEEK_CUR);
  std::string text(static_cast<std::size_t>(length), '\0');
  FUZZ_CHECK(pread(memory_file, text.data(), text.size(), 0) == length);
  FUZZ_CHECK(ftruncate(memory_file, 0) == 0 && lseek(memory_file, 0, SEEK_SET) == 0);
  return text;
}

// Every fill byte of tables 2608 and 2151 is 00.
inline bool fill_bytes_zero(const murve::ColorImage& image) {
  for (const murve::ColorTable& table : {murve::k_table2608, murve::k_table2151}) {
    for (std::size_t byte_index = 0; byte_index < table.size(); ++byte_index) {
      if (murve::is_fill_byte(table, byte_index) &&
          image.at(table.address + static_cast<unsigned>(byte_index)) != 0) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace murve_fuzz
