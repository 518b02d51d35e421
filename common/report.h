#pragma once

// How the programs speak to people: standard output, and one line each on standard error after
// the program's name. Text is UTF-8 inside; how it reaches each stream is the platform's
// (common/platform.h): on Windows a console is given characters, and anything else the program's
// own text in the output code page, but a name, a word or a device's bytes as they came.

#include <string>
#include <string_view>

namespace murve {

// Who reads text that printable() makes harmless, and so what it keeps.
enum class PrintableFor {
  // A message on standard error: every control character (a line feed too) as \n, \r, \t or
  // \xNN, so that the message stays one line; a byte that is not text in the messages'
  // character set, or an invisible character, as \xNN.
  message,
  // Standard output on a terminal, where control characters act: line feeds, CR LF and tabs
  // kept; any other control character, an invisible character or a byte that is not UTF-8 as
  // \r or \xNN.
  terminal,
  // A comment line of a settings file: control characters as \n, \r, \t or \xNN, any other byte
  // as it is, so that the line is the same bytes in every locale.
  file_comment,
  // A line of -list: '.' for each byte that is not printable ASCII.
  listing,
  // What goes between the quotes of a JSON string: quotes and backslashes escaped, control and
  // invisible characters as \uXXXX, a byte that is not UTF-8 as \ufffd.
  json,
};

// `text` as `reader` can be given it (see above).
std::string printable(std::string_view text, PrintableFor reader = PrintableFor::message);

// A word quoted in a message: printable, and cut to its first few dozen characters with "..."
// when it is longer, so that a huge word does not bury the line.
std::string quoted_word(std::string_view text);

// Text from the device or the system for standard output: escaped when standard output is a
// terminal, the same bytes otherwise.
std::string shown_on_output(std::string_view text);

// printf to standard output: the program's own text, which a Windows stream that is not a console
// takes in its code page. A failure is kept for output_failure().
[[gnu::format(printf, 1, 2)]] void print_output(const char* format, ...);

// printf to standard output with bytes that are not the program's text in it: a name or a word
// the user gave, the device's answers and the commands sent to it. A pipe or a file gets them as
// they are, on every platform. A failure is kept for output_failure().
[[gnu::format(printf, 1, 2)]] void print_output_bytes(const char* format, ...);

// The errno of the first write to standard output that failed, or 0; flushes first.
int output_failure();

// Prints "program: text" as one line on standard error.
void report_problem(const char* program, const std::string& text);

// Prints text on standard error with nothing added, such as a usage text after the reason.
void print_error(const std::string& text);

}  // namespace murve
