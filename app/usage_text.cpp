#include "app/usage_text.h"

#include <cstdio>
#include <optional>
#include <string>

#include "common/platform.h"
#include "common/report.h"

namespace murve {
namespace {

// Lines 3 and 4 begin with a full-width space (U+3000).
constexpr std::string_view k_usage_text_utf8 =
    "option error\n"
    "使い方例：murvecolor -com 5 -config murve_color.cfg\n"
    "　-com n             ... 使用するCOMポートを指定します。\n"
    "　-config filename   ... 設定用ファイル名を指定します。\n"
    "\n"
    "このツールはeepromexコマンドを使い、MURVE ProのEEPROMデータを書き換えます。\n"
    "ツールを使わなくても、シリアルコンソールで直接書き換えることもできます。\n"
    "\n";

// The same lines in code page 932; "ソ" there ends in 0x5c, the byte of a backslash.
constexpr std::string_view k_usage_text_shift_jis =
    "option error\n"
    "\x8eg\x82\xa2\x95\xfb\x97\xe1\x81"
    "Fmurvecolor -com 5 -config murve_color.cfg\n"
    "\x81@-com n             ... \x8eg\x97p\x82\xb7\x82\xe9"
    "COM\x83|\x81[\x83g\x82\xf0\x8ew\x92\xe8\x82\xb5\x82\xdc\x82\xb7\x81"
    "B\n"
    "\x81@-config filename   ... \x90\xdd\x92\xe8\x97p\x83t\x83@\x83"
    "C\x83\x8b\x96\xbc\x82\xf0\x8ew\x92\xe8\x82\xb5\x82\xdc\x82\xb7\x81"
    "B\n"
    "\n"
    "\x82\xb1\x82\xcc\x83"
    "c\x81[\x83\x8b\x82\xcd"
    "eepromex\x83R\x83}\x83\x93\x83h\x82\xf0\x8eg\x82\xa2\x81"
    "AMURVE Pro\x82\xcc"
    "EEPROM\x83"
    "f\x81[\x83^\x82\xf0\x8f\x91\x82\xab\x8a\xb7\x82\xa6\x82\xdc\x82\xb7\x81"
    "B\n"
    "\x83"
    "c\x81[\x83\x8b\x82\xf0\x8eg\x82\xed\x82\xc8\x82\xad\x82\xc4\x82\xe0\x81"
    "A\x83V\x83\x8a\x83"
    "A\x83\x8b\x83R\x83\x93\x83\x5c\x81[\x83\x8b\x82\xc5\x92\xbc\x90\xda\x8f\x91\x82\xab\x8a\xb7"
    "\x82\xa6\x82\xe9\x82\xb1\x82\xc6\x82\xe0\x82\xc5\x82\xab\x82\xdc\x82\xb7\x81"
    "B\n"
    "\n";

}  // namespace

std::string_view usage_text_utf8() {
  return k_usage_text_utf8;
}

std::string_view usage_text_shift_jis() {
  return k_usage_text_shift_jis;
}

void print_usage_text() {
  // A console takes characters and UTF-8 goes out as it is; in any other code page, the fixed
  // bytes.
  if (!text_goes_out_in_utf8(stdout)) {
    print_output_bytes("%.*s", static_cast<int>(k_usage_text_shift_jis.size()),
                       k_usage_text_shift_jis.data());
    return;
  }
  // In the locale's character set (Shift_JIS, EUC-JP) where it has every character; otherwise
  // UTF-8, as in the C locale.
  const std::optional<std::string> converted = in_character_set(k_usage_text_utf8);
  const std::string_view text = converted ? std::string_view(*converted) : k_usage_text_utf8;
  print_output("%.*s", static_cast<int>(text.size()), text.data());
}

}  // namespace murve
