#include "common/message.h"

#include <clocale>

#include "common/process_setup.h"

#ifdef _WIN32
#include "common/catalogue.h"
#else
#include <iconv.h>
#include <langinfo.h>
#include <libintl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#endif

namespace murve {
namespace {

#ifndef _WIN32
// The compiled catalogues beside the program: installed, share/locale next to bin; in the build
// folder, locale/ beside the program. Empty: the system's default.
std::string catalogue_folder() {
  const std::string folder = program_folder();
  if (folder.empty()) {
    return "";
  }
  for (const char* below : {"/../share/locale", "/locale"}) {
    struct stat status {};
    const std::string candidate = folder + below;
    if (stat((candidate + "/ja/LC_MESSAGES/murvecolor.mo").c_str(), &status) == 0) {
      return candidate;
    }
  }
  return "";
}

// A message of the catalogue in UTF-8, as the catalogue has it, whatever the locale's character
// set.
std::string translation_in_utf8(const char* text) {
  bind_textdomain_codeset(k_catalogue, "UTF-8");
  std::string translation = dgettext(k_catalogue, text);
  bind_textdomain_codeset(k_catalogue, nl_langinfo(CODESET));
  return translation;
}
#endif

}  // namespace

void choose_message_language() {
#ifdef _WIN32
  choose_embedded_catalogue();
#else
  // Not LC_ALL: LC_NUMERIC and the rest stay "C", so that nothing but words changes.
  std::setlocale(LC_MESSAGES, "");
  std::setlocale(LC_CTYPE, "");
  if (const std::string folder = catalogue_folder(); !folder.empty()) {
    bindtextdomain(k_catalogue, folder.c_str());
  }
  // Japanese in ASCII would be all '?': English says more, and the system's own texts follow.
  if (!in_character_set(
          translation_in_utf8(N_("{file}: cannot open the settings file: {reason}")))) {
    std::setlocale(LC_MESSAGES, "C");
  }
#endif
}

#ifndef _WIN32
std::optional<std::string> in_character_set(std::string_view text) {
  const iconv_t conversion = iconv_open(nl_langinfo(CODESET), "UTF-8");
  if (conversion == reinterpret_cast<iconv_t>(-1)) {
    return std::nullopt;
  }
  std::string input(text);
  char* in = input.data();
  std::size_t in_left = input.size();
  std::string converted(input.size() * 2 + 16, '\0');
  std::size_t done = 0;
  bool whole = true;
  // Then once more with no input, for the shift back to the initial state (ISO-2022-JP).
  for (bool flushing = false;;) {
    char* out = converted.data() + done;
    std::size_t out_left = converted.size() - done;
    const std::size_t result = flushing ? iconv(conversion, nullptr, nullptr, &out, &out_left)
                                        : iconv(conversion, &in, &in_left, &out, &out_left);
    done = converted.size() - out_left;
    if (result == static_cast<std::size_t>(-1) && errno == E2BIG) {
      converted.resize(converted.size() * 2);
    } else if (result == static_cast<std::size_t>(-1)) {
      whole = false;
      break;
    } else if (flushing) {
      break;
    } else {
      flushing = true;
    }
  }
  iconv_close(conversion);
  if (!whole) {
    return std::nullopt;
  }
  converted.resize(done);
  return converted;
}
#endif

bool messages_in_utf8() {
#ifdef _WIN32
  // The programs' code page is UTF-8 (their manifest); output is converted where it goes.
  return true;
#else
  return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
#endif
}

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
#ifdef _WIN32
  return fill_message(embedded_translation(text), parts);
#else
  return fill_message(dgettext(k_catalogue, text), parts);
#endif
}

}  // namespace murve
