#pragma once

// Messages for people, in the user's language. Each is a whole sentence whose parts are named
// ({port}, {reason}) and filled in, so that a translation can put them in its own order; none is
// pieced together from fragments. The catalogues are made from po/*.po (see docs/DEVELOPMENT.md).

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// Marks a text for the catalogue where it is defined; message() translates it where it is used.
#define N_(text) text

namespace murve {

// The catalogue's name: its .mo files are murvecolor.mo.
inline constexpr const char* k_catalogue = "murvecolor";

// Chooses the messages' language from the user's settings: on POSIX the locale's (LANGUAGE,
// LC_ALL, LC_MESSAGES, LANG, as gettext reads them; LC_ALL=C is English), on Windows the user's
// display language. Only messages and their character set follow it: numbers, the settings
// file and what the device is sent read the same in every locale.
void choose_message_language();

// Whether standard error and the messages are in UTF-8 (as the locale's character set says); if
// not, text outside ASCII is shown escaped.
bool messages_in_utf8();

#ifndef _WIN32
// `text` (UTF-8) in the locale's character set, or nothing when the set lacks one of its
// characters.
std::optional<std::string> in_character_set(std::string_view text);
#endif

struct MessagePart {
  std::string_view name;
  std::string value;
};

// `text` with each {name} replaced by the value of its part; a name without a part stays as it is.
std::string fill_message(std::string_view text, std::initializer_list<MessagePart> parts);

// The message `text` in the user's language, with its parts filled in.
std::string message(const char* text, std::initializer_list<MessagePart> parts = {});

}  // namespace murve
