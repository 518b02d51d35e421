#pragma once

// What differs between POSIX and Windows where a program meets its process: its standard
// streams (what each goes to, how text and bytes reach it), their set-up, the program's folder,
// the catalogue its messages come from, and the console it may have been given. One file per
// platform, platform_posix.cpp and platform_win32.cpp, chosen by the build. The rest of common/
// builds on it; only the catalogue reader (catalogue.h) is below it, for Windows.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace murve {

// --- The standard streams

// Sets up the standard streams, first thing. POSIX: descriptors 0-2 that are closed get
// /dev/null, so that the port is never opened as one of them and sent what is printed; SIGPIPE
// is ignored, so that a reader that goes away (| head) makes printing fail instead of stopping
// the dialogue halfway; standard output is line-buffered. Windows: standard output takes bytes
// as they are ("\n" stays "\n") and is not buffered. Gives why a part of it failed, or "".
std::string prepare_standard_streams();

// Whether standard output was closed when the program began: what it prints goes nowhere.
bool standard_output_was_closed();

// Whether `stream` goes to a terminal (on Windows a console), where control characters act.
bool is_terminal(std::FILE* stream);

// Writes UTF-8 text as `stream` takes text. POSIX: as it is. Windows: to a console in characters
// (WriteConsoleW), whatever its code page; to anything else in output_code_page(), one encoding
// for the whole stream, with '?' for a character it lacks. False, with errno, when it failed.
bool write_text(std::FILE* stream, std::string_view text);

// Writes bytes that are not the program's text (a name or a word the user gave, what the device
// sent): a console, which shows characters, is given them as UTF-8; anything else the bytes as
// they are, on every platform. False, with errno, when it failed.
bool write_bytes(std::FILE* stream, std::string_view bytes);

// Text in the bytes write_text gives a stream that is not a console, for a writer that can't
// convert it, such as a signal handler.
std::string encoded_for_output(std::string_view text);

// Whether write_text makes UTF-8 bytes of text on `stream` (POSIX always; Windows on a console,
// which is given characters, or when the output code page is UTF-8).
bool text_goes_out_in_utf8(std::FILE* stream);

// --- The process

// The folder the running program is in ("/usr/bin"), or "" when the system does not say; looked
// up once.
const std::string& program_folder();

// Chooses the messages' language from the user's settings: on POSIX the locale's (LANGUAGE,
// LC_ALL, LC_MESSAGES, LANG, as gettext reads them; LC_ALL=C is English), on Windows the user's
// display language, when both streams can show it. Only messages and their character set follow
// it: numbers, the settings file and what the device is sent read the same in every locale.
void choose_message_language();

// `text` in the chosen language, or `text` itself.
const char* translated(const char* text);

// `text` (UTF-8) in the character set the messages go out in, or nothing when it lacks one of
// its characters. POSIX: the locale's (converted with iconv); Windows: UTF-8, which the output
// layer converts where it goes.
std::optional<std::string> in_character_set(std::string_view text);

// Whether the messages are in UTF-8 (POSIX: as the locale's character set says; Windows: always,
// since the programs' code page is UTF-8 and output is converted where it goes).
bool messages_in_utf8();

// --- The console

// The console the program is on, as its end finds it.
struct ConsoleState {
  unsigned processes = 0;  // processes attached to it, this one included; 0: no console (POSIX)
  bool input = false;      // standard input is that console
  bool output = false;     // standard output is
  bool error = false;      // standard error is
};
ConsoleState console_state();

// Waits until Enter is pressed on the console, or `bound` has passed; keys pressed before the
// call don't count. Called only where console_state() finds a console, which POSIX never does.
void wait_for_enter(std::chrono::milliseconds bound);

}  // namespace murve
