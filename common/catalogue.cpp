#include "common/catalogue.h"

#include <algorithm>
#include <cstring>

namespace murve {
namespace {

constexpr std::uint32_t k_mo_magic = 0x950412de;
constexpr std::size_t k_mo_header_size = 28;

}  // namespace

Catalogue::Catalogue(std::span<const unsigned char> bytes) : bytes_(bytes) {
  if (bytes_.size() < k_mo_header_size) {
    bytes_ = {};
    return;
  }
  swapped_ = word(0) != k_mo_magic;
  if (word(0) != k_mo_magic) {
    bytes_ = {};
    return;
  }
  count_ = word(8);
  originals_ = word(12);
  translations_ = word(16);
  const std::uint64_t tables_end =
      std::max<std::uint64_t>(originals_, translations_) + std::uint64_t{8} * count_;
  if (tables_end > bytes_.size()) {
    bytes_ = {};
    count_ = 0;
    return;
  }
  // Every string must lie within the catalogue and end in its NUL.
  for (std::uint32_t i = 0; i < count_; ++i) {
    for (const std::uint32_t table : {originals_, translations_}) {
      const std::uint64_t length = word(table + 8 * i);
      const std::uint64_t offset = word(table + 8 * i + 4);
      if (offset + length >= bytes_.size() || bytes_[offset + length] != 0) {
        bytes_ = {};
        count_ = 0;
        return;
      }
    }
  }
}

std::uint32_t Catalogue::word(std::size_t offset) const {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes_.data() + offset, sizeof value);
  if (swapped_) {
    value = (value >> 24) | ((value >> 8) & 0xff00) | ((value << 8) & 0xff0000) | (value << 24);
  }
  return value;
}

std::string_view Catalogue::string_at(std::uint32_t table, std::uint32_t index) const {
  const std::uint32_t length = word(table + 8 * index);
  const std::uint32_t offset = word(table + 8 * index + 4);
  return {reinterpret_cast<const char*>(bytes_.data() + offset), length};
}

const char* Catalogue::translate(const char* text) const {
  // msgfmt sorts the messages by their bytes.
  std::uint32_t low = 0;
  std::uint32_t high = count_;
  const std::string_view wanted(text);
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const std::string_view original = string_at(originals_, middle);
    if (original == wanted) {
      const std::string_view translation = string_at(translations_, middle);
      return translation.empty() ? text : translation.data();
    }
    if (original < wanted) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return text;
}

std::vector<std::pair<std::string_view, std::string_view>> Catalogue::entries() const {
  std::vector<std::pair<std::string_view, std::string_view>> all;
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (!string_at(originals_, i).empty()) {
      all.emplace_back(string_at(originals_, i), string_at(translations_, i));
    }
  }
  return all;
}

}  // namespace murve
