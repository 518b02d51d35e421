#pragma once

// How the programs speak to a person on standard error: one line each, after the program's name.

#include <string>

namespace murve {

// Bytes other than printable ASCII as \r, \xNN and the like, so that a message stays one line.
std::string printable(const std::string& text);

// Prints "program: text" as one line on standard error.
void report_problem(const char* program, const std::string& text);

}  // namespace murve
