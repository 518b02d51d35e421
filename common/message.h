#pragma once

// Messages for people. Each is a whole sentence whose parts are named ({port}, {reason}) and
// filled in, so that a translation can put them in its own order; none is pieced together from
// fragments.

#include <initializer_list>
#include <string>
#include <string_view>

namespace murve {

struct MessagePart {
  std::string_view name;
  std::string value;
};

// `text` with each {name} replaced by the value of its part; a name without a part stays as it is.
std::string fill_message(std::string_view text, std::initializer_list<MessagePart> parts);

// The message `text` with its parts filled in.
std::string message(const char* text, std::initializer_list<MessagePart> parts = {});

}  // namespace murve
