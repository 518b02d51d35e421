#include "common/message.h"

#include "common/platform.h"

namespace murve {

std::string fill_message(std::string_view text, std::initializer_list<MessagePart> parts) {
  std::string filled;
  filled.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('{', at);
    const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
    if (close == std::string_view::npos) {
      break;
    }
    filled.append(text, at, open - at);
    const std::string_view name = text.substr(open + 1, close - open - 1);
    const MessagePart* part = nullptr;
    for (const MessagePart& candidate : parts) {
      if (candidate.name == name) {
        part = &candidate;
      }
    }
    if (part != nullptr) {
      filled += part->value;
      at = close + 1;
    } else {
      filled += '{';
      at = open + 1;
    }
  }
  filled.append(text, at);
  return filled;
}

std::string message(const char* text, std::initializer_list<MessagePart> parts) {
  return fill_message(translated(text), parts);
}

std::string sentence_of(std::string_view system_text) {
  // TRANSLATORS: the system's text for an error, which has no full stop, made a sentence.
  return message("{reason}", {{"reason", std::string(system_text)}});
}

std::string join_sentences(const std::vector<std::string>& sentences) {
  std::string list;
  for (const std::string& sentence : sentences) {
    // TRANSLATORS: two sentences of a list of failures, each as its message ends it.
    list =
        list.empty() ? sentence : message("{list}, {next}", {{"list", list}, {"next", sentence}});
  }
  return list;
}

std::string join_values(const std::vector<std::string>& values) {
  std::string list;
  for (const std::string& value : values) {
    // TRANSLATORS: between two values of a list, such as the baud rates.
    list += (list.empty() ? "" : message(", ")) + value;
  }
  return list;
}

}  // namespace murve
