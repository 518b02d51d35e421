#pragma once

// Messages for people, in the user's language. Each is whole sentences whose parts are named
// ({port}, {reason}) and filled in, so that a translation can put them in its own order; none is
// pieced together from fragments. The catalogues are made from po/*.po (see docs/DEVELOPMENT.md).
//
// A part named {reason} is itself whole sentences, as the language ends them: another message, or
// the system's own text made a sentence by sentence_of(). So a message puts its own sentences
// before and after a reason, and a translation can order them as its language does.

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

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

// The system's own text for an error (strerror, FormatMessage), which is no sentence, as a
// sentence of the user's language: a {reason}. English has it as it is, as a clause after ": ";
// Japanese closes it with 。.
std::string sentence_of(std::string_view system_text);

// Sentences one after another, as the language lists them: "a, b" in English; in Japanese each
// with its 。 and nothing between.
std::string join_sentences(const std::vector<std::string>& sentences);

// Values as the language lists them: "50, 75, 110"; in Japanese "50、75、110".
std::string join_values(const std::vector<std::string>& values);

}  // namespace murve
