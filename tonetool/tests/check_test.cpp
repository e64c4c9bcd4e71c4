#include "melody_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "case_name.h"
#include "compiler.h"

namespace {

namespace fs = std::filesystem;

// The checker's findings on `text`, kept, as tonetool check streams them.
check_report check_melody(const std::string &text) {
  const source_lines lines(text);
  std::vector<finding> kept;
  check_report report = check_melody(text, lines, [&](const finding &f) { kept.push_back(f); });
  report.findings = std::move(kept);
  return report;
}

// Every finding of `text`, formatted as tonetool check prints them.
std::string report_of(const std::string &text) {
  const source_lines lines(text);
  std::string out;
  for (const finding &f : check_melody(text).findings) out += format_finding(f, lines, "t.mel", false);
  return out;
}

std::string repeated(const std::string &text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

struct check_case {
  const char *what;
  std::string text;
  std::string report;
};

void PrintTo(const check_case &c, std::ostream *os) { *os << c.what; }

class check_messages : public testing::TestWithParam<check_case> {};

TEST_P(check_messages, point_at_the_token_and_say_how_to_fix_it) {
  EXPECT_EQ(report_of(GetParam().text), GetParam().report);
}

const std::string note_form =
    "a note is a name (C C# D D# E F F# G G# A A# B, or P for a pause), an octave digit 0 "
    "to 3 and an optional duration multiplier, as in A1, C#2.5 or P2";
const std::string tempo_form =
    "the first token is the tempo, a number from 0.0314 to 16; the base duration is "
    "round(8 / tempo) units, so tempo 2 gives 4";

INSTANTIATE_TEST_SUITE_P(
    errors, check_messages,
    testing::Values(
        check_case{"empty", "", "t.mel:1:1: error: the melody has no tempo (it holds only blank "
                                 "lines and comments); " + tempo_form + "\n    1 | \n      | ^\n"},
        check_case{"note as tempo", "A1 B1\n",
                   "t.mel:1:1: error: invalid tempo 'A1': " + tempo_form +
                       "; 'A1' is a note: put the tempo before it\n    1 | A1 B1\n      | ^~\n"},
        check_case{"byte-order mark", "\xEF\xBB\xBF" "2 A1",
                   "t.mel:1:1: error: invalid tempo '\xEF\xBB\xBF" "2': " + tempo_form +
                       "; the file starts with a byte-order mark (EF BB BF): save it without one\n"
                       "    1 | \xEF\xBB\xBF" "2 A1\n      | ^~~~\n"},
        check_case{"tempo 120", "120 A1",
                   "t.mel:1:1: error: tempo '120' is out of range: round(8 / tempo) = 0 units, but the "
                   "base duration must be 1 to 255; tempos from 0.0314 to 16 give 255 down to 1; at 125 ms a unit "
                   "tempo 2 makes the base note 4 units, 500 ms, 120 beats a minute, so for 120 beats a minute "
                   "write 2\n"
                   "    1 | 120 A1\n      | ^~~\n"},
        check_case{"a tune written in musicians' octaves", "2 C4 D4 E4 A3 F4",
                   "t.mel:1:3: error: note 'C4' is out of range: playable notes run from D#0 to A3; the tune lies 3 "
                   "octaves too high for this format, where A1 is the 440 Hz A, musicians' A4: move every note down "
                   "3 octaves (tonetool rtttl and from-midi move tunes by themselves)\n"
                   "    1 | 2 C4 D4 E4 A3 F4\n      |   ^~\n"},
        check_case{"a tune an octave too low", "2 D#0 C0 D0 C1",
                   "t.mel:1:7: error: note 'C0' is out of range: playable notes run from D#0 to A3; the tune lies 1 "
                   "octave too low: move every note up 1 octave (tonetool rtttl and from-midi move tunes by "
                   "themselves)\n"
                   "    1 | 2 D#0 C0 D0 C1\n      |       ^~\n"},
        check_case{"unknown letter, tab before it", "2\n\tA1 H1",
                   "t.mel:2:5: error: invalid note 'H1': " + note_form +
                       "\n    2 | \tA1 H1\n      | \t   ^~\n"},
        check_case{"flat", "2 Bb1", "t.mel:1:3: error: invalid note 'Bb1': " + note_form +
                                        "; flats are written as sharps: 'A#1'\n    1 | 2 Bb1\n      |   ^~~\n"},
        check_case{"C flat is B an octave down", "2 cb2",
                   "t.mel:1:3: error: invalid note 'cb2': " + note_form +
                       "; flats are written as sharps: 'B1'\n    1 | 2 cb2\n      |   ^~~\n"},
        check_case{"missing octave", "2 A1 C",
                   "t.mel:1:6: error: note 'C' has no octave: write a digit 0 to 3 after the name, as "
                   "in C1\n    1 | 2 A1 C\n      |      ^\n"},
        check_case{"octave not a digit", "2 BS1",
                   "t.mel:1:4: error: the octave of 'BS1' is 'S', not a digit: write a digit 0 to 3 "
                   "after the name\n    1 | 2 BS1\n      |    ^\n"},
        check_case{"out of range", "2 A#3.5",
                   "t.mel:1:3: error: note 'A#3' is out of range: playable notes run from D#0 to A3\n"
                   "    1 | 2 A#3.5\n      |   ^~~\n"},
        check_case{"bytes that are not text", std::string("2 \0\nA1 \xFF" "1\n", 10),
                   "t.mel:1:3: error: invalid note '\\x00': " + note_form + "\n    1 | 2 \\x00\n      |   ^~~~\n"
                   "t.mel:2:4: error: invalid note '\\xff1': " + note_form +
                       "; it holds bytes that are not ASCII (such as a typographic sharp): write sharps as "
                       "'#'\n    2 | A1 \\xff1\n      |    ^~~~~\n"},
        check_case{"a long line shows a window", "2 " + repeated("A1 ", 60) + "Q1 " + repeated("A1 ", 60),
                   "t.mel:1:183: error: invalid note 'Q1': " + note_form + "\n    1 | ..." +
                       repeated(" A1", 13) + " Q1" + repeated(" A1", 13) + " ...\n      |" +
                       std::string(44, ' ') + "^~\n"},
        check_case{"a long token through a comment", "2 AAAA%x\n" + std::string(80, 'A') + "\n",
                   "t.mel:1:3: error: this token is 80 bytes or longer; a token holds at most 79: separate "
                   "notes with white space (the token runs on through a comment; melodyc reports line 2)\n"
                   "    1 | 2 AAAA%x\n      |   ^\n"},
        check_case{"typographic sharp", "2 C\xE2\x99\xAF" "1",
                   "t.mel:1:4: error: after 'C' comes the byte 0xE2, which is not ASCII (a "
                   "typographic sharp?) and is read as the octave: write sharps as '#', as in C#1\n"
                   "    1 | 2 C\xE2\x99\xAF" "1\n      |    ^~~~\n"},
        check_case{"invalid duration", "2 A1.",
                   "t.mel:1:5: error: invalid duration '.' in 'A1.': the multiplier after the octave "
                   "must be a number above 0, as in A1.5 or A12\n    1 | 2 A1.\n      |     ^\n"},
        check_case{"too long a duration", "2 P300",
                   "t.mel:1:3: error: 'P300' lasts 4 x 300 = 1200 units; a note lasts at most 255: "
                   "use a smaller multiplier, or several notes\n    1 | 2 P300\n      |   ^~~~\n"},
        check_case{"token through a comment, error on the later line", "2 H%x\n1",
                   "t.mel:1:3: error: invalid note 'H1': " + note_form +
                       " (the token runs on through a comment; melodyc reports line 2)\n"
                       "    1 | 2 H%x\n      |   ^\n"},
        check_case{"every error, not only the first", "2 H1 A9",
                   "t.mel:1:3: error: invalid note 'H1': " + note_form +
                       "\n    1 | 2 H1 A9\n      |   ^~\n"
                       "t.mel:1:6: error: note 'A9' is out of range: playable notes run from D#0 to A3\n"
                       "    1 | 2 H1 A9\n      |      ^~\n"}),
    readable_name<check_case>);

INSTANTIATE_TEST_SUITE_P(
    warnings, check_messages,
    testing::Values(
        check_case{"comment touching a token", "2 G12% held\nA1\n",
                   "t.mel:1:3: warning: 'G12' runs on through the comment into line 2 and is read as "
                   "'G12A1': put a space before '%'\n    1 | 2 G12% held\n      |   ^\n"},
        check_case{"text after the duration", "2 A1X A1,5",
                   "t.mel:1:5: warning: the text 'X' after the note is ignored\n"
                   "    1 | 2 A1X A1,5\n      |     ^\n"
                   "t.mel:1:9: warning: the text ',5' after the note is ignored: write a fraction "
                   "with a dot, as in 1.5\n    1 | 2 A1X A1,5\n      |         ^~\n"},
        check_case{"rounds to no units", "2 A1.1",
                   "t.mel:1:3: warning: 'A1.1' lasts round(4 x 0.1) = 0 units: it is written, but "
                   "makes no sound\n    1 | 2 A1.1\n      |   ^~~~\n"},
        check_case{"names across cells", "2 #1 d#e1",
                   "t.mel:1:3: warning: the name '#' is not a note name; it is read as C#, from the "
                   "note table: write C#\n    1 | 2 #1 d#e1\n      |   ^\n"
                   "t.mel:1:6: warning: the name 'd#e' is not a note name; it is read as D#, from "
                   "the note table: write D#\n    1 | 2 #1 d#e1\n      |      ^~~\n"},
        check_case{"octave character not a digit", "2 AQ",
                   "t.mel:1:4: warning: the octave character 'Q' is not a digit; only its low five "
                   "bits count, so it is read as octave 1: write A1\n    1 | 2 AQ\n      |    ^\n"},
        check_case{"tempo with trailing text", "4bpm A1",
                   "t.mel:1:2: warning: text after the tempo '4' is ignored: 'bpm'\n"
                   "    1 | 4bpm A1\n      |  ^~~\n"},
        check_case{"clean melody", "2 % tempo\nA1 C#2.5 P\n", ""}),
    readable_name<check_case>);

// check and melodyc apply the same rules: check finds an error exactly
// when melodyc fails, and its first error is the one melodyc stops at.
void expect_same_verdict(const std::string &text, const std::string &what) {
  std::FILE *in = text.empty() ? std::fopen("/dev/null", "r")
                               : fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  std::FILE *out = std::fopen("/dev/null", "w");
  melody_failure failure{};
  const bool compiled = compile_melody_core(in, out, failure);
  std::fclose(in);
  std::fclose(out);
  const check_report report = check_melody(text);
  ASSERT_EQ(report.errors == 0, compiled) << what << ": " << failure.message;
  if (compiled) return;
  const finding *first = nullptr;
  for (const finding &f : report.findings) {
    if (f.kind == finding_kind::error && first == nullptr) first = &f;
  }
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->melodyc_message, failure.message) << what;
}

TEST(check_and_melodyc, agree_on_the_fuzz_corpus) {
  int files = 0;
  for (const auto &entry : fs::directory_iterator(FUZZ_CORPUS_DIR)) {
    std::ifstream f(entry.path(), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    expect_same_verdict(s.str(), entry.path().filename());
    ++files;
  }
  EXPECT_GE(files, 5);
}

TEST(check_and_melodyc, agree_on_random_melodies) {
  const std::vector<std::string> parts = {
      "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B", "P", "H", "#", "DB", "D#E", "c",
      "a", "p", "%", "% x\n", "\n", " ", "\t", "\r", "0", "1", "2", "3", "4", "9", "Q", ".", ".5",
      "1.2.3", "12", "255", "0.1", std::string(1, '\0'), "\xE9", "x", "AQ", "00", "256"};
  const std::vector<std::string> tempos = {"2", "4", "8", "16", "16.5", "0.0314", "0.0313", "x", "-1",
                                           "4abc", "0", ".5", "nan", "", "\n"};
  std::mt19937 random(20261208);
  for (int i = 0; i < 3000; ++i) {
    std::string text = tempos[random() % tempos.size()] + (random() % 2 ? " " : "\n");
    const int tokens = static_cast<int>(random() % 30);
    for (int t = 0; t < tokens; ++t) {
      for (unsigned p = 0, n = 1 + random() % 4; p < n; ++p) text += parts[random() % parts.size()];
      text += random() % 3 == 0 ? "\n" : " ";
    }
    if (random() % 50 == 0) text += std::string(85, 'A');
    expect_same_verdict(text, "random melody " + std::to_string(i));
  }
}

TEST(report_summary, counts_in_words) {
  EXPECT_EQ(report_summary(1, 0), "1 error, 0 warnings");
  EXPECT_EQ(report_summary(2, 1), "2 errors, 1 warning");
}

}  // namespace
