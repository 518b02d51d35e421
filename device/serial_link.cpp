#include "device/serial_link.h"

#include <algorithm>
#include <chrono>

namespace murve {

std::int64_t SerialLink::monotonic_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool is_supported_baud_rate(unsigned baud) {
  const std::span<const unsigned> rates = supported_baud_rates();
  return std::binary_search(rates.begin(), rates.end(), baud);
}

}  // namespace murve
