// The programs in the user's language: every explanation in Japanese under a Japanese locale,
// names as the user wrote them, and standard output the same bytes in every locale.

#include <iconv.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/usage_text.h"
#include "common/catalogue.h"
#include "test_support.h"

namespace murve_test {
namespace {

const std::string k_japanese = "LC_ALL=ja_JP.UTF-8";

// Whether `text` is `pattern`, each "{any}" in it standing for any text.
testing::AssertionResult output_matches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0;;) {
    const std::size_t any = pattern.find("{any}", at);
    pieces.push_back(pattern.substr(at, any - at));
    if (any == std::string::npos) {
      break;
    }
    at = any + 5;
  }
  bool matches = text.compare(0, pieces.front().size(), pieces.front()) == 0;
  std::size_t at = pieces.front().size();
  for (std::size_t i = 1; matches && i < pieces.size(); ++i) {
    const std::size_t found = i + 1 == pieces.size()
                                  ? text.size() - std::min(text.size(), pieces[i].size())
                                  : text.find(pieces[i], at);
    matches = found != std::string::npos && found >= at &&
              text.compare(found, pieces[i].size(), pieces[i]) == 0;
    at = found + pieces[i].size();
  }
  matches = matches && (pieces.size() > 1 || text.size() == pieces.front().size());
  if (matches) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "[" << text << "] is not [" << pattern << "]";
}

bool have_japanese_locale() {
  const bool found = std::setlocale(LC_MESSAGES, "ja_JP.UTF-8") != nullptr;
  std::setlocale(LC_MESSAGES, "C");
  return found;
}

// UTF-8 `text` in `codeset`, as a locale of that character set takes it.
std::string in_codeset(const std::string& text, const std::string& codeset) {
  const iconv_t conversion = iconv_open(codeset.c_str(), "UTF-8");
  std::string input = text;
  std::string converted(text.size() * 2, '\0');
  char* in = input.data();
  char* out = converted.data();
  std::size_t in_left = input.size();
  std::size_t out_left = converted.size();
  if (conversion == reinterpret_cast<iconv_t>(-1) ||
      iconv(conversion, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) {
    ADD_FAILURE() << "cannot convert to " << codeset;
  }
  iconv_close(conversion);
  converted.resize(converted.size() - out_left);
  return converted;
}

// Whether `text` is whole Japanese sentences: it ends with 。, ）or 」, or with a {reason} or
// {failures}, which are sentences themselves, and no ASCII ": ", "; " or ", " joins its clauses.
bool whole_sentences(std::string_view text) {
  const bool ends = text.ends_with("。") || text.ends_with("）") || text.ends_with("」") ||
                    text.ends_with("{reason}") || text.ends_with("{failures}");
  return ends && text.find(": ") == text.npos && text.find("; ") == text.npos &&
         text.find(", ") == text.npos;
}

// Whether each line of `text` is whole sentences after its prefixes: the program's name, a
// FILE:LINE: and 警告: .
testing::AssertionResult lines_are_whole_sentences(const std::string& text) {
  static const std::regex prefixes(R"(^murve[a-z]+: ([^ ]+\.cfg(:[0-9]+)?: )?(警告: )?)");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!whole_sentences(std::regex_replace(line, prefixes, ""))) {
      return testing::AssertionFailure() << "not whole sentences: [" << line << "]";
    }
  }
  return testing::AssertionSuccess();
}

struct LanguageCase {
  const char* name;
  // {"murvedump", ...} and {"murvesim", ...} run those; otherwise murvecolor's arguments
  std::vector<std::string> command;
  std::string output;  // standard output after the banner; "" none checked
  std::string error;   // standard error, whole
  std::vector<std::string> environment = {k_japanese};
  // The locale's character set, which output and error are in; empty: UTF-8.
  std::string codeset = "";
  std::string locale = "";  // a locale this machine may lack: the case is skipped then
  std::vector<std::string> device = {"--silent"};  // murvesim's options for COM5
  // murvedump's backup of backed_up_eeprom(): murvecolor -verify writes it into a fresh device,
  // which must then hold what the first did
  bool backup = false;
};

// What the device of a backup row holds, and 0x080-0x151 of it as murvecolor writes it back: the
// signature aa 55 and 00 in each fill byte.
std::string backed_up_eeprom() {
  std::string eeprom(512, '\0');
  for (std::size_t i = 0; i < eeprom.size(); ++i) {
    eeprom[i] = static_cast<char>(i * 37 + 11);
  }
  return eeprom;
}
std::string written_back(const std::string& eeprom) {
  std::string bytes = eeprom.substr(0x080, 0x152 - 0x080);
  bytes.replace(0, 2, "\xaa\x55");
  for (std::size_t fill = 0x0c5 - 0x080; fill < 0x122 - 0x080; fill += 4) {
    bytes[fill] = '\0';
  }
  return bytes;
}

// The backup's sentences and notes in Japanese; its first line, which names it a backup, the
// command and the settings as in English.
const std::string k_japanese_backup =
    "# MURVE Pro colour settings, read by murvedump from COM5 on {any} UTC.\n"
    "# murvedumpが{any}にCOM5から読み出した、MURVE Proの色設定です。\n"
    "# 書き戻すには、THIS-FILEをこのファイルの名前に置き換えて、次のコマンドを実行します。\n"
    "#   murvecolor -com 5 -config THIS-FILE\n"
    "# 0x080の署名がaa 55ではなく8b b0です。デバイスは一度も書き込まれていないか、別の方法で書き"
    "込まれています。\n# カラーコードc0からc63（0x082-0x0c1）\nc0 {any}\n"
    "# テーブル2608（値が3つの項目16個、0x0c2-0x101）\n# 項目0のパディングバイト0x0c5は、"
    "デバイスでは{any}です。murvecolorはそこに00を書き込みます。\n{any}"
    "# specテーブル（値が3つの項目16個、0x122-0x151）\ncspec {any}\n";

// Variables set in the rows' own way, none left from ours.
const std::vector<std::string> k_no_locale = {"LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LC_CTYPE="};

std::vector<std::string> locale_of(std::vector<std::string> variables) {
  variables.insert(variables.begin(), k_no_locale.begin(), k_no_locale.end());
  return variables;
}

TEST(Language, ExplanationsInJapaneseUnderAJapaneseLocale) {
  if (!have_japanese_locale()) {
    GTEST_SKIP() << "no ja_JP.UTF-8 locale here (test.sh makes it with localedef)";
  }
  TempDir dir;
  write_file(dir.file("色.cfg"), "c3 赤\n");
  write_file(dir.file("s.cfg"), "c3 e0\n");
  // The system's text, as a program in the Japanese locale gets it.
  const locale_t japanese = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", nullptr);
  const std::string no_such_file = strerror_l(ENOENT, japanese);
  freelocale(japanese);
  const std::vector<LanguageCase> cases = {
      {"a missing file with a Japanese name",
       {"-com", "5", "-config", "存在しない.cfg"},
       "open error.[存在しない.cfg]\n",
       "murvecolor: 存在しない.cfg: 設定ファイルを開けません。" + no_such_file + "。{any}\n"},
      {"a warning for a Japanese word",
       {"-com", "5", "-config", "色.cfg", "-port", "/nonexistent"},
       "\n\n",
       "murvecolor: 色.cfg:1: 警告: 「赤」は16進数ではないため、00になります。\n"
       "murvecolor: /nonexistentを開けません。" +
           no_such_file + "。接続されているシリアルポートはmurvecolor -listで確認できます。\n"},
      {"a silent port",
       {"-com", "5", "-config", "色.cfg"},
       "\nMURVE(6183) not found.\n\n",
       "murvecolor: 色.cfg:1: 警告: {any}\nmurvecolor: デバイスには何も書き込んでいません。"
       "{any}のデバイスから1秒以内に応答がありません。{any}を確認してください。\n"},
      {"--help", {"--help"}, "使い方：murvecolor -com N | -port PORT {any}", ""},
      {"a command-line error",
       {"-com", "0"},
       "",
       "murvecolor: -comには1から16までのポート番号を指定してください。「0」は指定できません。"
       "{any}オプションの一覧はmurvecolor --helpで表示できます。\n"},
      {"the rates, then where the options are listed",
       {"-port", "P", "-baud"},
       "",
       "murvecolor: -baudにはボーレートを指定してください（50、75、110、{any}、4000000のいずれか）"
       "。オプションの一覧はmurvecolor --helpで表示できます。\n"},
      {.name = "a list of failures",
       .command = {"-com", "5", "-config", "s.cfg", "-verify"},
       .output = "{any}\n照合に失敗しました。210バイト中1バイトが異なります。3ブロックを読み戻せ"
                 "ませんでした。\n0x0c4: "
                 "テーブル2608の項目0のバイト2は、書き込んだ値が3f、読み戻した値が3e"
                 "です。\n0x100-0x11f: "
                 "読み戻せませんでした。\n{any}\n0x140-0x15f: 読み戻せませんでした。\n\n",
       .error = "murvecolor: ブロック0x100を読み戻せませんでした。{any}が切断されました（ケーブル"
                "が抜けましたか？）。\n",
       .device = {"--corrupt", "c4", "--hangup-after", "14"}},
      {"murvedump's failure",
       {"murvedump", "-port", "/nonexistent"},
       "",
       "murvedump: /nonexistentを開けません。" + no_such_file + "。{any}\n"},
      {"murvedump's backup into a folder",
       {"murvedump", "-com", "5", "-o", "."},
       "",
       "murvedump: 何も書き出していません。.はフォルダーのため、書き込めません。\n"},
      {"murvedump's backup into a missing folder",
       {"murvedump", "-com", "5", "-o", "無い/バックアップ.cfg"},
       "",
       "murvedump: 何も書き出していません。無いに一時ファイルを作れません。" + no_such_file +
           "。\n"},
      {.name = "murvedump's backup",
       .command = {"murvedump", "-com", "5"},
       .output = k_japanese_backup,
       .error = "",
       .device = {},
       .backup = true},
      // The comments in the locale's character set, which the settings file takes as they are.
      {.name = "murvedump's backup in Shift_JIS",
       .command = {"murvedump", "-com", "5"},
       .output = k_japanese_backup,
       .error = "",
       .environment = {"LC_ALL=ja_JP.SJIS"},
       .codeset = "SHIFT_JIS",
       .locale = "ja_JP.SJIS",
       .device = {},
       .backup = true},
      {.name = "murvedump's backup in EUC-JP",
       .command = {"murvedump", "-com", "5"},
       .output = k_japanese_backup,
       .error = "",
       .environment = {"LC_ALL=ja_JP.eucJP"},
       .codeset = "EUC-JP",
       .locale = "ja_JP.eucJP",
       .device = {},
       .backup = true},
      {"murvesim --help",
       {"murvesim", "--help"},
       "使い方：murvesim --link PATH [オプション]\n{any}",
       ""},
      {"murvesim's EEPROM file",
       {"murvesim", "--link", "link", "--eeprom", "色.cfg"},
       "",
       "murvesim: 色.cfgは512バイトのEEPROMイメージではありません。\n"},
      // A character set without kana would show Japanese as '?': English, the system's too.
      {"Japanese messages, a character set without kana",
       {"-com", "5", "-config", "nope.cfg"},
       "open error.[nope.cfg]\n",
       "murvecolor: nope.cfg: cannot open the settings file: No such file or directory{any}\n",
       locale_of({"LANG=ja_JP.UTF-8", "LC_CTYPE=C"})},
      {"LC_MESSAGES alone Japanese",
       {"-com", "5", "-config", "nope.cfg"},
       "open error.[nope.cfg]\n",
       "murvecolor: nope.cfg: cannot open the settings file: No such file or directory{any}\n",
       locale_of({"LANG=C", "LC_MESSAGES=ja_JP.UTF-8"})},
      // The usage text in the locale's character set, as standard error is.
      {"a command-line error in Shift_JIS",
       {"-com", "0"},
       std::string(murve::usage_text_utf8()),
       "murvecolor: -comには1から16までのポート番号を指定してください。{any}\n",
       {"LC_ALL=ja_JP.SJIS"},
       "SHIFT_JIS",
       "ja_JP.SJIS"},
      {"a command-line error in EUC-JP",
       {"-com", "0"},
       std::string(murve::usage_text_utf8()),
       "murvecolor: -comには1から16までのポート番号を指定してください。{any}\n",
       {"LC_ALL=ja_JP.eucJP"},
       "EUC-JP",
       "ja_JP.eucJP"},
  };
  for (const LanguageCase& c : cases) {
    if (!c.locale.empty() && std::setlocale(LC_CTYPE, c.locale.c_str()) == nullptr) {
      std::printf("skipped \"%s\": no %s locale here (test.sh makes it with localedef)\n", c.name,
                  c.locale.c_str());
      continue;
    }
    std::setlocale(LC_CTYPE, "C");
    if (c.backup) {
      write_file(dir.file("eeprom.bin"), backed_up_eeprom());
    }
    SimulatedDevice device(dir, c.device);
    ASSERT_TRUE(device.started()) << c.name;
    std::vector<std::string> command = c.command;
    const bool murvecolor = command.front() != "murvedump" && command.front() != "murvesim";
    if (murvecolor) {
      command = murvecolor_command(command);
    } else {
      command.front() = command.front() == "murvedump" ? MURVEDUMP_EXE : MURVESIM_EXE;
    }
    std::vector<std::string> environment = c.environment;
    environment.push_back(device.com5_variable());
    const ProcessResult run =
        run_process(command, environment, run_bound(std::chrono::seconds(20)), dir.path());
    EXPECT_FALSE(run.timed_out) << c.name;
    const std::string banner = murvecolor ? k_banner : "";
    const auto encoded = [&](const std::string& text) {
      return c.codeset.empty() ? text : in_codeset(text, c.codeset);
    };
    if (!c.output.empty()) {
      EXPECT_TRUE(output_matches(run.output, banner + encoded(c.output))) << c.name;
    }
    EXPECT_TRUE(output_matches(run.error_output, encoded(c.error))) << c.name;
    if (c.environment.front() == k_japanese) {
      EXPECT_TRUE(lines_are_whole_sentences(run.error_output)) << c.name;
    }
    if (c.backup) {
      write_file(dir.file("backup.cfg"), run.output);
      TempDir fresh;
      SimulatedDevice restored(fresh);
      ASSERT_TRUE(restored.started());
      environment.back() = restored.com5_variable();
      const ProcessResult write_back = run_process(
          murvecolor_command({"-com", "5", "-config", dir.file("backup.cfg"), "-verify"}),
          environment, run_bound(std::chrono::seconds(20)));
      EXPECT_EQ(write_back.exit_status, 0) << c.name;
      EXPECT_EQ(write_back.error_output, "") << c.name;
      EXPECT_EQ(restored.eeprom().substr(0x080, 0x152 - 0x080), written_back(backed_up_eeprom()))
          << c.name;
    }
  }
}

TEST(Language, StandardOutputIsTheSameBytesInEveryLocale) {
  if (!have_japanese_locale()) {
    GTEST_SKIP() << "no ja_JP.UTF-8 locale here (test.sh makes it with localedef)";
  }
  TempDir dir;
  write_file(dir.file("settings.cfg"), "c3 e0\n");
  std::vector<std::string> outputs;
  std::vector<std::string> sim_lines;  // murvesim's line, which scripts wait for
  std::vector<std::string> settings;   // murvedump's settings lines and restore command
  for (const std::string& locale : {std::string("LC_ALL=C"), k_japanese}) {
    SimulatedDevice device(dir);
    ASSERT_TRUE(device.started());
    const ProcessResult run = run_process(
        murvecolor_command({"-com", "5", "-config", dir.file("settings.cfg"), "-verify"}),
        {locale, device.com5_variable()}, run_bound(std::chrono::seconds(20)));
    EXPECT_EQ(run.exit_status, 0) << locale;
    outputs.push_back(run.output);
    const ProcessResult dump =
        run_process({MURVEDUMP_EXE, "-com", "5"}, {locale, device.com5_variable()});
    settings.push_back(std::regex_replace(dump.output, std::regex("# [^ \\n][^\\n]*\\n"), ""));
    const std::string link = dir.file("link");
    sim_lines.push_back(
        run_process({MURVESIM_EXE, "--link", link}, {locale}, std::chrono::seconds(10), "",
                    {SIGTERM, {}, [&] { return std::filesystem::is_symlink(link); }})
            .output);
  }
  EXPECT_EQ(settings[1], settings[0]);
  EXPECT_EQ(settings[0].rfind("#   murvecolor -com 5 -config THIS-FILE\nc0 ", 0), 0u)
      << settings[0];
  EXPECT_EQ(sim_lines[0], "MURVECOLOR_COM5=" + dir.file("link") + " murvecolor -com 5\n");
  EXPECT_EQ(sim_lines[1], sim_lines[0]);
  EXPECT_NE(outputs[0].find("Verify..\n"), std::string::npos);
  // The verdict is a message, and so in Japanese; everything before it is the same bytes.
  const std::size_t verdict = outputs[0].find("verified: ");
  ASSERT_NE(verdict, std::string::npos);
  EXPECT_EQ(outputs[1].substr(0, verdict), outputs[0].substr(0, verdict));
  EXPECT_EQ(outputs[1].substr(verdict),
            "照合しました。0x080-0x151の210バイトは書き込んだとおりに読み戻せました。\n\n");
}

// The compiled catalogue, read as the Windows programs read theirs: every translation keeps its
// message's named parts, and a message without one is given back as it is.
TEST(Language, CatalogueKeepsEveryMessagesParts) {
  const std::string bytes = read_file(MURVECOLOR_BUILD_DIR "/locale/ja/LC_MESSAGES/murvecolor.mo");
  const murve::Catalogue catalogue(
      {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
  const auto entries = catalogue.entries();
  EXPECT_GT(entries.size(), 100u);
  const std::regex part(R"(\{[a-z_]+\})");
  const auto parts_of = [&](std::string_view text) {
    std::set<std::string> parts;
    const std::string copy(text);
    for (auto it = std::sregex_iterator(copy.begin(), copy.end(), part);
         it != std::sregex_iterator(); ++it) {
      parts.insert(it->str());
    }
    return parts;
  };
  for (const auto& [original, translation] : entries) {
    EXPECT_FALSE(translation.empty()) << original;
    EXPECT_EQ(parts_of(original), parts_of(translation)) << original;
    EXPECT_EQ(catalogue.translate(std::string(original).c_str()), translation);
  }
  EXPECT_STREQ(catalogue.translate("no such message"), "no such message");
  EXPECT_STREQ(murve::Catalogue().translate("hung up"), "hung up");
}

// Every Japanese message is whole sentences: it ends as a sentence does (a ", a newline after
// it), a {reason} or {failures}, which are sentences themselves, stands at its start or after a
// sentence's end, and no ASCII ": ", "; " or ", " joins its clauses once its prefixes (FILE:LINE:,
// an address, 警告: ) are off. The cells of -list's table, the two joiners and the names of a
// byte in the difference lines are fragments.
TEST(Language, JapaneseMessagesAreWholeSentences) {
  const std::set<std::string_view> fragments = {", ",
                                                "{list}, {next}",
                                                "answers, not a MURVE Pro",
                                                "answers late",
                                                "c2151 entry {entry}, byte {byte}",
                                                "c2151 entry {entry}, fill byte",
                                                "c2608 entry {entry}, byte {byte}",
                                                "c2608 entry {entry}, fill byte",
                                                "colour code {entry}",
                                                "cspec entry {entry}, byte {byte}",
                                                "cannot open it: {reason}",
                                                "cannot send to it: the port took no byte",
                                                "cannot send to it: {reason}",
                                                "does not run at {baud} baud",
                                                "hung up",
                                                "in use by another program",
                                                "no answer within 1 s",
                                                "no serial hardware behind it",
                                                "not a serial port",
                                                "not there",
                                                "permission denied",
                                                "signature, byte {byte}",
                                                "{banner}; reach it with -port {path}"};
  const std::string bytes = read_file(MURVECOLOR_BUILD_DIR "/locale/ja/LC_MESSAGES/murvecolor.mo");
  const murve::Catalogue catalogue(
      {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
  const std::regex prefixes(
      R"(^(\{file\}(:\{line\})?: |\{address\}: |\{first\}-\{last\}: )?(警告: )?)");
  std::size_t checked = 0;
  for (const auto& [original, translation] : catalogue.entries()) {
    if (fragments.contains(original)) {
      continue;
    }
    ++checked;
    std::string text = std::regex_replace(std::string(translation), prefixes, "",
                                          std::regex_constants::format_first_only);
    while (text.ends_with("\n")) {
      text.pop_back();
    }
    EXPECT_TRUE(whole_sentences(text)) << translation;
    for (const std::string part : {"{reason}", "{failures}"}) {
      for (std::size_t at = text.find(part); at != std::string::npos;
           at = text.find(part, at + 1)) {
        EXPECT_TRUE(at == 0 || whole_sentences(text.substr(0, at)))
            << part << " in " << translation;
      }
    }
  }
  EXPECT_GT(checked, 100u);
}

}  // namespace
}  // namespace murve_test
