// What the programs put before a person: text made harmless for whoever reads it, words
// quoted in messages, and messages with their parts filled in.

#include <gtest/gtest.h>

#include <string>

#include "common/message.h"
#include "common/report.h"

namespace {

// Each row: text, and what printable() makes of it for a terminal, unless the row names another
// reader.
TEST(Report, TextIsShownAsItsReaderTakesIt) {
  struct Case {
    const char* name;
    std::string text;
    std::string shown;
    murve::PrintableFor reader = murve::PrintableFor::terminal;
  };
  const Case cases[] = {
      {"lines and tabs kept", "MURVE Pro\r\n  h\tthis help\n> ", "MURVE Pro\r\n  h\tthis help\n> "},
      {"clipboard write", "\x1b]52;c;aGk=\x07", "\\x1b]52;c;aGk=\\x07"},
      {"window title and clear", "\x1b]0;x\x1b\\\x1b[2J", "\\x1b]0;x\\x1b\\\\x1b[2J"},
      {"lone carriage return", "secret\rMURVE", "secret\\rMURVE"},
      {"8-bit CSI",
       "\x9b"
       "2J",
       "\\x9b2J"},
      {"C1 control in UTF-8",
       "\xc2\x9b"
       "2J",
       "\\xc2\\x9b2J"},
      {"UTF-8 text kept", "\xe8\x89\xb2 MURVE", "\xe8\x89\xb2 MURVE"},
      {"right-to-left override",
       "ab\xe2\x80\xae"
       "cd",
       "ab\\xe2\\x80\\xae"
       "cd"},
      {"cut UTF-8 sequence", "\xe8\x89", "\\xe8\\x89"},
      {"delete and NUL", std::string("a\x7f\0b", 4), "a\\x7f\\x00b"},
      {"a message stays one line", "a\nb\r\n", "a\\nb\\r\\n", murve::PrintableFor::message},
      {"a comment keeps every byte above ASCII", "\xff\xe8\x89\x1b\n", "\xff\xe8\x89\\x1b\\n",
       murve::PrintableFor::file_comment},
      {"-list shows plain ASCII", "MURVE\x1b[2J\t\xe8\x89\xb2", "MURVE.[2J....",
       murve::PrintableFor::listing},
      {"JSON escapes what a parser refuses", "\"a\\b\"\n\x1b\xe8\x89\xb2\xe2\x80\xae\xff\xc2\x9b",
       "\\\"a\\\\b\\\"\\u000a\\u001b\xe8\x89\xb2\\u202e\\ufffd\\u009b", murve::PrintableFor::json},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(murve::printable(c.text, c.reader), c.shown) << c.name;
  }
}

TEST(Report, MessagesQuoteWordsShortAndFillTheirParts) {
  EXPECT_EQ(murve::quoted_word(std::string(100000, 'z')), std::string(40, 'z') + "...");
  EXPECT_EQ(murve::quoted_word("c3\r"), "c3\\r");
  EXPECT_EQ(murve::fill_message("{b} before {a}; {c} and {", {{"a", "1"}, {"b", "{a}"}}),
            "{a} before 1; {c} and {");
}

}  // namespace
