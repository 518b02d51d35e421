#pragma once

// How the programs speak to people: standard output, and one line each on standard error after
// the program's name.
//
// Text is UTF-8 inside. On Windows it goes out as the stream takes it: to a console in characters
// (WriteConsoleW), which show whatever the console's code page; otherwise in the console's output
// code page (output_code_page()), one encoding for the whole stream, with '?' for a character the
// code page lacks. Text that is all ASCII goes out as it is, and on POSIX all text does.

#include <cstdio>
#include <string>
#include <string_view>

namespace murve {

// Control characters, and bytes that are not text in the messages' character set, as \r, \xNN and
// the like, so that a message stays one line and shows a name as the user wrote it.
std::string printable(std::string_view text);

// A word quoted in a message: printable, and cut to its first few dozen characters with "..."
// when it is longer, so that a huge word does not bury the line.
std::string quoted_word(std::string_view text);

// Whether `stream` goes to a terminal (a console on Windows), where control characters act.
bool is_terminal(std::FILE* stream);

// Text for a terminal, where control characters act: a control character (an escape sequence's
// start, a lone carriage return) or a byte that is not UTF-8 is shown as \xNN, \r and the like;
// line feeds, CR LF and tabs are kept.
std::string escape_for_terminal(std::string_view text);

// Text from the device or the system for standard output: escaped when standard output is a
// terminal, the same bytes otherwise.
std::string shown_on_output(std::string_view text);

// printf to standard output, as text; a failure is kept for output_failure().
[[gnu::format(printf, 1, 2)]] void print_output(const char* format, ...);

// printf to standard output, the bytes as they are on every platform: the device's answers and
// the commands sent to it, which are not text. A failure is kept for output_failure().
[[gnu::format(printf, 1, 2)]] void print_output_bytes(const char* format, ...);

// The errno of the first write to standard output that failed, or 0; flushes first.
int output_failure();

// Prints "program: text" as one line on standard error.
void report_problem(const char* program, const std::string& text);

// Prints text on standard error with nothing added, such as a usage text after the reason.
void print_error(const std::string& text);

// Text in the bytes that a redirected stream takes (see above), for a writer that can't convert
// it, such as a signal handler.
std::string encoded_for_output(std::string_view text);

#ifdef _WIN32
// The code page of text on a standard stream that is not a console: the console's output code
// page, or without a console the one a console would get, the system locale's OEM code page.
unsigned output_code_page();

// Whether `text` reaches standard output and standard error whole: each is a console, or the
// output code page has every character of it.
bool output_shows(std::string_view text);
#endif

}  // namespace murve
