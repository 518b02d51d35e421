#pragma once

// A compiled message catalogue (gettext's .mo format) read in memory: what Windows uses, whose
// C runtime has no gettext, from the catalogue built into the program
// (platform_win32.cpp chooses it).

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace murve {

class Catalogue {
 public:
  Catalogue() = default;
  // `bytes` stay the caller's and must outlive the catalogue; bytes that are no catalogue give
  // an empty one.
  explicit Catalogue(std::span<const unsigned char> bytes);

  // The translation of `text`, or `text` itself when there is none.
  const char* translate(const char* text) const;

  // Every message and its translation, the header (the empty message) left out.
  std::vector<std::pair<std::string_view, std::string_view>> entries() const;

 private:
  std::uint32_t word(std::size_t offset) const;
  std::string_view string_at(std::uint32_t table, std::uint32_t index) const;

  std::span<const unsigned char> bytes_;
  std::uint32_t count_ = 0;
  std::uint32_t originals_ = 0;
  std::uint32_t translations_ = 0;
  bool swapped_ = false;
};

}  // namespace murve
