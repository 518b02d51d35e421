// A read reply as the link hands it over: at most 4095 bytes and a NUL. The marker search must
// find the first "EEPROM DATA\n" within the text, and the decoder must count exactly the
// well-formed pairs that follow it, each two lowercase hex digits and a space or line feed, and
// hand over their bytes: a block is accepted only with exactly 32 of them.

#include <cstdint>
#include <cstring>
#include <string_view>

#include "device/dialogue.h"
#include "device/readback.h"
#include "fuzz_check.h"

namespace {

int lower_hex(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

void check_decoding(const char* text) {
  const murve::DecodedReply decoded = murve::decode_data_reply(text);
  std::size_t pairs = 0;
  const char* p = text;
  while (lower_hex(p[0]) >= 0 && lower_hex(p[1]) >= 0 && (p[2] == ' ' || p[2] == '\n')) {
    if (pairs < murve::k_read_block_size) {
      FUZZ_CHECK(decoded.bytes[pairs] == lower_hex(p[0]) * 16 + lower_hex(p[1]));
    }
    ++pairs;
    p += 3;
  }
  FUZZ_CHECK(decoded.pair_count == pairs);
  for (std::size_t i = pairs; i < murve::k_read_block_size; ++i) {
    FUZZ_CHECK(decoded.bytes[i] == 0);
  }
  // The text ended where decoding stopped, perhaps within a pair still arriving.
  const bool ended = p[0] == '\0' || (lower_hex(p[0]) >= 0 &&
                                      (p[1] == '\0' || (lower_hex(p[1]) >= 0 && p[2] == '\0')));
  FUZZ_CHECK((decoded.stop == murve::DecodeStop::end_of_text) == ended);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  murve::ResponseBuffer reply{};
  const std::size_t length = std::min(size, murve::k_max_reply_bytes);
  std::memcpy(reply.data(), data, length);
  reply[length] = '\0';

  const std::string_view text(reply.data());
  const std::size_t marker = text.find("EEPROM DATA\n");
  const char* after_marker = murve::find_data_marker(reply.data());
  if (marker == std::string_view::npos) {
    FUZZ_CHECK(after_marker == nullptr);
  } else {
    FUZZ_CHECK(after_marker == reply.data() + marker + 12);
    check_decoding(after_marker);
  }
  check_decoding(reply.data());
  return 0;
}
