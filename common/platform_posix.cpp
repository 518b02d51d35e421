#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <libintl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstring>

#include "common/platform.h"

namespace murve {
namespace {

// The catalogue's name: its .mo files are murvecolor.mo.
constexpr const char* k_catalogue = "murvecolor";

bool output_was_closed = false;

// The compiled catalogues beside the program: installed, share/locale next to bin; in the build
// folder, locale/ beside the program. Empty: the system's default.
std::string catalogue_folder() {
  const std::string& folder = program_folder();
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

}  // namespace

std::string prepare_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      output_was_closed = output_was_closed || fd == STDOUT_FILENO;
      // The lowest free descriptor, so this one: the ones below it are open by now.
      open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  // A log of the run (output to a file or a pipe) keeps every line printed before a signal that
  // stops it: the signal handler gives the port back and dies without flushing.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  if (sigaction(SIGPIPE, &ignore, nullptr) != 0) {
    return std::string("cannot ignore SIGPIPE: ") + std::strerror(errno) +
           "; a reader that goes away stops the run";
  }
  return "";
}

bool standard_output_was_closed() {
  return output_was_closed;
}

bool is_terminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

bool write_text(std::FILE* stream, std::string_view text) {
  return write_bytes(stream, text);
}

bool write_bytes(std::FILE* stream, std::string_view bytes) {
  // glibc's fwrite counts bytes whose flush failed as written; the stream's error says so.
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
         std::ferror(stream) == 0;
}

std::string encoded_for_output(std::string_view text) {
  return std::string(text);
}

bool text_goes_out_in_utf8(std::FILE*) {
  return true;
}

const std::string& program_folder() {
  static const std::string folder = [] {
    std::array<char, PATH_MAX> program{};
    const ssize_t length = readlink("/proc/self/exe", program.data(), program.size() - 1);
    if (length <= 0) {
      return std::string();
    }
    const std::string path(program.data(), static_cast<std::size_t>(length));
    return path.substr(0, path.find_last_of('/'));
  }();
  return folder;
}

void choose_message_language() {
  // Not LC_ALL: LC_NUMERIC and the rest stay "C", so that nothing but words changes.
  std::setlocale(LC_MESSAGES, "");
  std::setlocale(LC_CTYPE, "");
  if (const std::string folder = catalogue_folder(); !folder.empty()) {
    bindtextdomain(k_catalogue, folder.c_str());
  }
  // Japanese in ASCII would be all '?': English says more, and the system's own texts follow.
  if (!in_character_set(translation_in_utf8("{file}: cannot open the settings file: {reason}"))) {
    std::setlocale(LC_MESSAGES, "C");
  }
}

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

const char* translated(const char* text) {
  return dgettext(k_catalogue, text);
}

bool messages_in_utf8() {
  return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

ConsoleState console_state() {
  // A terminal outlives the programs run in it: there is no console of their own to keep open.
  return {};
}

void wait_for_enter(std::chrono::milliseconds) {}

}  // namespace murve
