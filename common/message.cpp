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

}  // namespace murve
