#include "device/device_programming.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace murve {
namespace {

constexpr int k_identify_sleep_ms = 10;
constexpr int k_write_sleep_ms = 50;
constexpr std::size_t k_command_capacity = 512;

constexpr char k_wake_bytes[] = {'\r'};
constexpr char k_identify_bytes[] = {'h', '\r'};
constexpr const char* k_device_name = "MURVE";
constexpr const char* k_signature_command = "eepromex 80 aa 55\n";

using CommandBuffer = std::array<char, k_command_capacity>;

struct WriteCommand {
  unsigned address;
  std::size_t byte_count;
};

// Group A carries the colour codes; group B the tables 2608, 2151 and spec.
constexpr std::array<WriteCommand, 2> k_group_a = {{{0x082, 32}, {0x0a2, 32}}};
constexpr std::array<WriteCommand, 5> k_group_b = {
    {{0x0c2, 32}, {0x0e2, 32}, {0x102, 32}, {0x122, 32}, {0x142, 16}}};

// A banner still arriving would otherwise be judged by its first few bytes.
bool lacks_device_name(const char* reply) {
  return std::strstr(reply, k_device_name) == nullptr;
}

// One step of the lock-step dialogue: a command, its fixed sleep, and one read of its reply.
bool send_then_read(SerialLink& link, const void* bytes, std::size_t length, int sleep_ms) {
  if (!link.send_bytes(bytes, length)) {
    return false;
  }
  link.sleep_ms(sleep_ms);
  link.read_response();
  return true;
}

bool send_and_settle(SerialLink& link, const void* bytes, std::size_t length, int sleep_ms) {
  if (!send_then_read(link, bytes, length, sleep_ms)) {
    std::printf("write error.\n");
    return false;
  }
  return true;
}

template <std::size_t N>
void write_group(SerialLink& link, const ColorImage& image,
                 const std::array<WriteCommand, N>& group) {
  CommandBuffer command;
  std::string hex_list;
  for (const WriteCommand& write : group) {
    hex_list = hex_byte_list(image_bytes(image, write.address, write.byte_count));
    const int length = std::snprintf(command.data(), command.size(), "eepromex %03x %s\n",
                                     write.address, hex_list.c_str());
    if (!send_and_settle(link, command.data(), static_cast<std::size_t>(length),
                         k_write_sleep_ms)) {
      return;
    }
    std::printf("%s", command.data());
  }
}

}  // namespace

std::string hex_byte_list(std::span<const std::uint8_t> bytes) {
  std::string list;
  list.reserve(bytes.size() * 3);
  std::array<char, 4> formatted{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(formatted.data(), formatted.size(), i == 0 ? "%02x" : " %02x", bytes[i]);
    list += formatted.data();
  }
  return list;
}

Identification query_identification(SerialLink& link) {
  // The device answers a bare carriage return with its prompt, which is not looked at.
  if (!send_then_read(link, k_wake_bytes, sizeof k_wake_bytes, k_identify_sleep_ms) ||
      !send_then_read(link, k_identify_bytes, sizeof k_identify_bytes, k_identify_sleep_ms)) {
    return Identification::write_failed;
  }
  link.complete_response(lacks_device_name);
  return lacks_device_name(link.response()) ? Identification::not_murve
                                            : Identification::identified;
}

bool identify_device(SerialLink& link) {
  const Identification identification = query_identification(link);
  if (identification == Identification::write_failed) {
    std::printf("write error.\n");
    return false;
  }
  std::printf("%s\n", link.response());
  if (identification == Identification::not_murve) {
    std::printf("MURVE(6183) not found.\n");
    return false;
  }
  return true;
}

void write_color_image(SerialLink& link, const ColorImage& image) {
  write_group(link, image, k_group_a);
  write_group(link, image, k_group_b);
}

bool write_signature(SerialLink& link) {
  CommandBuffer command;
  const int length = std::snprintf(command.data(), command.size(), "%s", k_signature_command);
  if (!send_and_settle(link, command.data(), static_cast<std::size_t>(length), k_write_sleep_ms)) {
    return false;
  }
  std::printf("%s", command.data());
  std::printf("\n");
  return true;
}

}  // namespace murve
