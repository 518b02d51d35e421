#pragma once

// Messages for people, in the user's language. Each is a whole sentence whose parts are named
// ({port}, {reason}) and filled in, so that a translation can put them in its own order; none is
// pieced together from fragments. The catalogues are made from po/*.po (see docs/DEVELOPMENT.md).

#include <initializer_list>
#include <string>
#include <string_view>

// Marks a text for the catalogue where it is defined; message() translates it where it is used.
#define N_(text) text

namespace murve {

// The messages' language and their character set are the platform's (common/platform.h):
// choose_message_language() and messages_in_utf8().

struct MessagePart {
  std::string_view name;
  std::string value;
};

// `text` with each {name} replaced by the value of its part; a name without a part stays as it is.
std::string fill_message(std::string_view text, std::initializer_list<MessagePart> parts);

// The message `text` in the user's language, with its parts filled in.
std::string message(const char* text, std::initializer_list<MessagePart> parts = {});

}  // namespace murve
